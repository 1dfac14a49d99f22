// The command line: each option and its corners, where the archive name
// stands, its completed extension, and the names of a list file.
#include <gtest/gtest.h>

#include "driver/driver.h"

namespace {

struct parsed {
  int32_t archive;
  runoptions o;
};

parsed parse(std::vector<std::string> args) {
  args.insert(args.begin(), "vorpak");
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(a.data());
  parsed p;
  p.archive = parseoptions((int)argv.size(), argv.data(), p.o);
  return p;
}

// The options as one comparable string.
std::string shown(const runoptions &o) {
  const encodeoptions &e = o.encode;
  return testing::PrintToString(std::vector<double>{(double)o.recurse, (double)o.verbose, (double)o.quiet,
                                                    (double)o.overwriteyes, (double)e.strategy, e.splitthreshold,
                                                    (double)e.blockcount, (double)e.randomtables,
                                                    (double)e.onecodeforempty, (double)e.neverstore});
}

runoptions with(std::function<void(runoptions &)> f) {
  runoptions o;
  f(o);
  return o;
}

TEST(Options, EachOptionAndItsCorners) {
  using o = runoptions;
  const std::pair<std::vector<std::string>, runoptions> cases[] = {
      {{"-s1"}, with([](o &x) { x.encode.strategy = 1; })},
      {{"-s9"}, with([](o &x) { x.encode.strategy = 4; })},
      {{"-s4294967297"}, with([](o &x) { x.encode.strategy = 4; })},
      {{"-s-1"}, {}}, {{"-sx"}, {}},
      {{"-S2x"}, with([](o &x) { x.encode.strategy = 2; })},
      {{"-B12.5"}, with([](o &x) { x.encode.splitthreshold = 12.5; })},
      {{"-b"}, with([](o &x) { x.encode.splitthreshold = 0; })},
      {{"-N3"}, with([](o &x) { x.encode.blockcount = 3; })},
      {{"-n12abc"}, with([](o &x) { x.encode.blockcount = 12; })},
      {{"-n9", "-NS"}, with([](o &x) { x.encode.neverstore = true, x.encode.blockcount = 9; })},
      {{"-n9", "-nsx"}, {}},   // -nsx is a block count of 0
      {{"-recurse"}, with([](o &x) { x.recurse = true; })},
      {{"-rNd"}, with([](o &x) { x.encode.randomtables = true; })},   // -rn does not recurse
      {{"-V", "-Quiet", "-Y"}, with([](o &x) { x.verbose = x.quiet = x.overwriteyes = true; })},
      {{"-yes"}, {}},
      {{"-Zl121"}, with([](o &x) { x.encode.onecodeforempty = true; })},
      {{"-zl1210", "-zl12", "-z121", "-", "-x", "/b128"}, {}},
      // Of -b and -n the later decides whether a block count is asked for.
      {{"-n7", "-b512"}, with([](o &x) { x.encode.splitthreshold = 512; })},
      {{"-b512", "-n7"}, with([](o &x) { x.encode.splitthreshold = 512, x.encode.blockcount = 7; })},
      {{"-s1", "-s3"}, with([](o &x) { x.encode.strategy = 3; })},
  };
  for (auto &[args, want] : cases) EXPECT_EQ(shown(parse(args).o), shown(want)) << testing::PrintToString(args);
}

TEST(Options, ArchiveIsTheFirstName) {
  const std::pair<std::vector<std::string>, int32_t> cases[] = {
      {{"save"}, 1}, {{"-v", "save", "a"}, 2}, {{"-y", "/b128", "/s4"}, 2}, {{}, 0}, {{"-v", "-"}, 0}};
  for (auto &[args, want] : cases) EXPECT_EQ(parse(args).archive, want) << testing::PrintToString(args);
}

TEST(Options, CompletedName) {
  const std::string a255(255, 'a');
  const std::pair<std::string, std::string> cases[] = {
      // The case of ".zip" follows the last letter of the whole name.
      {"save", "save.zip"}, {"SAVE", "SAVE.ZIP"}, {"saVE", "saVE.ZIP"}, {"SAVe_9", "SAVe_9.zip"},
      {"123", "123.ZIP"}, {"out/", "out/.zip"}, {"down/UP", "down/UP.ZIP"},
      // A dot in the base name keeps the name; one in a directory does not.
      {"save.bin", "save.bin"}, {".hidden", ".hidden"}, {"a.b/c", "a.b/c.zip"}, {"a.b\\c", "a.b\\c.zip"},
      // At most 259 bytes.
      {a255 + ".zip", a255 + ".zip"}, {a255, a255 + ".zip"}, {"a" + a255 + ".zip", "-"}, {"a" + a255, "-"}};
  for (auto &[name, want] : cases) {
    std::string got;
    EXPECT_EQ(completename(got, name.c_str()) ? got : "-", want) << name;
  }
}

TEST(Options, ListFileNames) {
  const std::string list = "  one\ttwo\r\nthree \xc3\xa9t\xc3\xa9\x01last";
  std::vector<std::string> got;
  listfilenames(list.data(), (int32_t)list.size(), [&](const std::string &n) { got.push_back(n); });
  EXPECT_EQ(got, (std::vector<std::string>{"one", "two", "three", "\xc3\xa9t\xc3\xa9", "last"}));
}

}  // namespace
