// The command line: options and their corners, the archive name, list files.
#include <gtest/gtest.h>

#include "driver/driver.h"

namespace {

// The options an argument list gives, as one string, and the names in order.
struct parsed {
  std::string options;
  std::vector<std::string> names, warnings;
  std::string error;
};
parsed parse(std::vector<std::string> args) {
  args.insert(args.begin(), "vorpak");
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(a.data());
  runoptions o;
  parsed p;
  p.names = parseoptions((int)argv.size(), argv.data(), o, p.warnings, p.error);
  const encodeoptions &e = o.encode;
  std::string excludes;
  for (auto &x : o.select.excludes) excludes += "[" + x + "]";
  char buf[240];
  snprintf(buf, sizeof buf, "r%d v%d q%d y%d s%d b%g n%d rn%d zl%d ns%d j%d x%d l%d z%d%d u%d L%d D%d e%s", o.select.recurse, o.verbose, o.quiet,
           o.overwriteyes, e.strategy, e.splitthreshold, e.blockcount, e.randomtables, e.onecodeforempty, e.neverstore,
           o.threads, o.effort, o.layoutgiven, o.rezip, o.rezipstored, o.update, o.select.symlinks, o.records == recordstyle::msdos, excludes.c_str());
  p.options = buf;
  return p;
}

TEST(Options, EachOptionAndItsCorners) {
  const std::string none = parse({}).options;
  auto with = [&](const std::string &from, const std::string &to) {
    std::string s = none;
    return s.replace(s.find(from), from.size(), to);
  };
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-s1"}, with("s0", "s1")}, {{"-s9"}, with("s0", "s4")}, {{"-s4294967297"}, with("s0", "s4")}, {{"-s-1", "-sx"}, none},
      {{"-S2x"}, with("s0", "s2")}, {{"-B12.5"}, with("b256 n0 rn0 zl0 ns0 j0 x0 l0", "b12.5 n0 rn0 zl0 ns0 j0 x0 l1")},
      {{"-N3"}, with("n0 rn0 zl0 ns0 j0 x0 l0", "n3 rn0 zl0 ns0 j0 x0 l1")},
      {{"-n9", "-NS"}, with("n0 rn0 zl0 ns0 j0 x0 l0", "n9 rn0 zl0 ns1 j0 x0 l1")},
      {{"-recurse", "-rNd"}, with("r0", "r1").replace(none.find("rn0"), 3, "rn1")},
      {{"-V", "-Quiet", "-Y"}, with("v0 q0 y0", "v1 q1 y1")}, {{"-yes", "-zl1210", "-zl12", "-z121", "/b128"}, none},
      {{"-Zl121"}, with("zl0", "zl1")}, {{"-j3"}, with("j0", "j3")}, {{"-j999"}, with("j0", "j256")},
      {{"-x"}, with("x0", "x3")}, {{"-x7"}, with("x0", "x7")}, {{"-x999"}, with("x0", "x100")}, {{"-z"}, with("z00", "z10")}, {{"-ZS"}, with("z00", "z11")},
      // Of -b and -n the later decides whether a block count is asked for.
      {{"-n7", "-b512"}, with("b256 n0 rn0 zl0 ns0 j0 x0 l0", "b512 n0 rn0 zl0 ns0 j0 x0 l1")},
      {{"-b512", "-n7"}, with("b256 n0 rn0 zl0 ns0 j0 x0 l0", "b512 n7 rn0 zl0 ns0 j0 x0 l1")},
      // Long options as written; --exclude with "=" or the next argument.
      {{"--symlinks", "--dos-attributes", "-U"}, with("u0 L0 D0", "u1 L1 D1")}, {{"--exclude=*.o", "--exclude", ".git"}, with(" e", " e[*.o][.git]")},
      {{"--Symlinks", "--exclude="}, none}};
  for (auto &[args, want] : cases) EXPECT_EQ(parse(args).options, want) << testing::PrintToString(args);
  // Names in order ("-" alone is one); after "--" nothing is an option.
  EXPECT_EQ(parse({"-v", "-", "-@", "b", "--", "-v"}).names, (std::vector<std::string>{"-", "-@", "b", "-v"}));
  // Every option without an effect is named; "-x" before a pattern stops the run.
  parsed p = parse({"-f", "-K", "-yes", "-zl12", "-@x", "--fast", "-v", "-x3", "--help", "--exclude"});
  std::string all;
  for (auto &w : p.warnings) all += w;
  std::string want;
  for (const char *w : {"-f", "-K", "-yes", "-zl12", "-@x", "--fast"}) want += std::string("Warning: option ") + w + " not known, ignored\n";
  EXPECT_EQ(all, want + "Warning: --exclude needs a pattern, ignored\n");
  for (auto args : {std::vector<std::string>{"save", "-x", "a.o"}, {"save", "-x3", "*.o"}, {"-x", "-r", "*.o"}, {"save", "-x", "*.o"}})
    EXPECT_EQ(parse(args).error.empty(), args[2] != "*.o" || args[1] != "-x") << testing::PrintToString(args);
}

TEST(Options, CompletedNameAndListFiles) {
  const std::string a255(255, 'a');
  const std::pair<std::string, std::string> cases[] = {
      // ".zip" takes the case of the last letter; a dot in the base name keeps it.
      {"save", "save.zip"}, {"SAVE", "SAVE.ZIP"}, {"saVE", "saVE.ZIP"}, {"SAVe_9", "SAVe_9.zip"}, {"123", "123.ZIP"},
      {"out/", "out/.zip"}, {"save.bin", "save.bin"}, {".hidden", ".hidden"}, {"a.b/c", "a.b/c.zip"},
      {"a.b\\c", "a.b\\c.zip"}, {a255 + ".zip", a255 + ".zip"}, {a255, a255 + ".zip"}, {"a" + a255 + ".zip", "-"}, {"a" + a255, "-"}};
  for (auto &[name, want] : cases) {
    std::string got;
    EXPECT_EQ(completename(got, name.c_str()) ? got : "-", want) << name;
  }
  const std::string list = "  one\ttwo\r\nthree \xc3\xa9t\xc3\xa9\x01last";
  std::vector<std::string> got;
  listfilenames(list.data(), list.size(), [&](const std::string &n) { got.push_back(n); });
  EXPECT_EQ(got, (std::vector<std::string>{"one", "two", "three", "\xc3\xa9t\xc3\xa9", "last"}));
  // -@: one name per line, blanks kept, a CR before the line end dropped.
  const std::string lines = " with blank \r\n\n\ttab\r\rlast";
  got.clear();
  listlines(lines.data(), lines.size(), [&](const std::string &n) { got.push_back(n); });
  EXPECT_EQ(got, (std::vector<std::string>{" with blank ", "\ttab\r\rlast"}));
}

}  // namespace
