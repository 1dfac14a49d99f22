// The command line: every option of the table into the run settings, and
// the archive name with its completed extension.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "console/console.h"
#include "driver/driver.h"

namespace {

// argv as the program receives it: argv[0] the program, then the arguments.
struct cmdline {
  std::vector<std::string> words;
  std::vector<char *> ptrs;
  explicit cmdline(std::vector<std::string> args) {
    words.push_back("vorpak");
    for (auto &a : args) words.push_back(a);
    for (auto &w : words) ptrs.push_back(w.data());
    ptrs.push_back(nullptr);
  }
  int argc() const { return (int)words.size(); }
  char **argv() { return ptrs.data(); }
};

// The run settings after a command line; every field starts at its default.
struct settings {
  int32_t r = 0, v = 0, y = 0, s = 0, ns = 0, zl = 0, rn = 0, n = 0;
  double b = 256.0;
  bool quiet = false;
  bool operator==(const settings &o) const {
    return r == o.r && v == o.v && y == o.y && s == o.s && ns == o.ns && zl == o.zl && rn == o.rn && n == o.n &&
           b == o.b && quiet == o.quiet;
  }
};

void PrintTo(const settings &t, std::ostream *os) {
  *os << "r" << t.r << " v" << t.v << " y" << t.y << " s" << t.s << " ns" << t.ns << " zl" << t.zl << " rn"
      << t.rn << " n" << t.n << " b" << t.b << (t.quiet ? " quiet" : "");
}

struct parsed {
  int32_t archive;
  settings set;
};

parsed parse(std::vector<std::string> args) {
  resetsettings();
  messagestream = stdout;
  cmdline c(std::move(args));
  parsed p;
  p.archive = parseoptions(c.argc(), c.argv());
  p.set = {lookdirmode, verbosemode, overwriteyesmode, strategy, nostore, fixzlib121, rndinitabs, gpohufnum,
           gpohufthresh, messagestream == nullptr};
  messagestream = stdout;
  return p;
}

settings with(void (*f)(settings &)) {
  settings t;
  f(t);
  return t;
}

struct optioncase {
  std::vector<std::string> args;
  settings want;
};

// Each option alone and its corner cases. Values are read like atol and
// atof: leading digits count, the rest is ignored, no digits give 0.
const optioncase optioncases[] = {
    {{"-s0"}, {}},
    {{"-s1"}, with([](settings &t) { t.s = 1; })},
    {{"-s3"}, with([](settings &t) { t.s = 3; })},
    {{"-s4"}, with([](settings &t) { t.s = 4; })},
    {{"-s9"}, with([](settings &t) { t.s = 4; })},
    {{"-s2147483647"}, with([](settings &t) { t.s = 4; })},
    {{"-s-1"}, {}},
    {{"-s"}, {}},
    {{"-sx"}, {}},
    {{"-s2x"}, with([](settings &t) { t.s = 2; })},
    {{"-S1"}, with([](settings &t) { t.s = 1; })},
    {{"-b128"}, with([](settings &t) { t.b = 128.0; })},
    {{"-B12.5"}, with([](settings &t) { t.b = 12.5; })},
    {{"-b-3"}, with([](settings &t) { t.b = -3.0; })},
    {{"-b"}, with([](settings &t) { t.b = 0.0; })},
    {{"-b64k"}, with([](settings &t) { t.b = 64.0; })},
    {{"-n1024"}, with([](settings &t) { t.n = 1024; })},
    {{"-N3"}, with([](settings &t) { t.n = 3; })},
    {{"-n12abc"}, with([](settings &t) { t.n = 12; })},
    {{"-n"}, {}},
    {{"-ns"}, with([](settings &t) { t.ns = 1; })},
    {{"-NS"}, with([](settings &t) { t.ns = 1; })},
    {{"-nS"}, with([](settings &t) { t.ns = 1; })},
    {{"-n9", "-ns"}, with([](settings &t) { t.ns = 1, t.n = 9; })},      // -ns is no block count
    {{"-n9", "-nsx"}, {}},                                               // -nsx is one: of 0
    {{"-ns5"}, {}},
    {{"-r"}, with([](settings &t) { t.r = 1; })},
    {{"-R"}, with([](settings &t) { t.r = 1; })},
    {{"-recurse"}, with([](settings &t) { t.r = 1; })},
    {{"-rn"}, with([](settings &t) { t.rn = 1; })},                     // does not recurse
    {{"-RN"}, with([](settings &t) { t.rn = 1; })},
    {{"-rN"}, with([](settings &t) { t.rn = 1; })},
    {{"-rnd5"}, with([](settings &t) { t.rn = 1; })},
    {{"-rn", "-r"}, with([](settings &t) { t.rn = 1, t.r = 1; })},
    {{"-v"}, with([](settings &t) { t.v = 1; })},
    {{"-verbose"}, with([](settings &t) { t.v = 1; })},
    {{"-V"}, with([](settings &t) { t.v = 1; })},
    {{"-q"}, with([](settings &t) { t.quiet = true; })},
    {{"-Quiet"}, with([](settings &t) { t.quiet = true; })},
    {{"-y"}, with([](settings &t) { t.y = 1; })},
    {{"-Y"}, with([](settings &t) { t.y = 1; })},
    {{"-yes"}, {}},
    {{"-y1"}, {}},
    {{"-zl121"}, with([](settings &t) { t.zl = 1; })},
    {{"-ZL121"}, with([](settings &t) { t.zl = 1; })},
    {{"-Zl121"}, with([](settings &t) { t.zl = 1; })},
    {{"-zL121"}, with([](settings &t) { t.zl = 1; })},
    {{"-zl1210"}, {}},
    {{"-zl12"}, {}},
    {{"-zl122"}, {}},
    {{"-zl121 "}, {}},
    {{"-z121"}, {}},
    {{"-z"}, {}},
    // A bare "-" and unknown letters are ignored.
    {{"-"}, {}},
    {{"-x"}, {}},
    {{"-k9"}, {}},
    {{"-1"}, {}},
    // Of -b and -n the later decides whether a block count is asked for.
    {{"-n7", "-b512"}, with([](settings &t) { t.b = 512.0; })},
    {{"-b512", "-n7"}, with([](settings &t) { t.b = 512.0, t.n = 7; })},
    {{"-b0", "-n5"}, with([](settings &t) { t.b = 0.0, t.n = 5; })},
    // Later options override earlier ones.
    {{"-s1", "-s3"}, with([](settings &t) { t.s = 3; })},
    {{"-s4", "-s-2"}, {}},
    {{"-n3", "-n7"}, with([](settings &t) { t.n = 7; })},
    {{"-b100", "-b300"}, with([](settings &t) { t.b = 300.0; })},
    // Names are no options, "/" included.
    {{"/b128"}, {}},
    {{"/s4", "save"}, {}},
    {{"-r", "-v", "-y", "-s2", "-ns", "-zl121", "-b100", "-n5", "-rn", "-q"},
     with([](settings &t) { t.r = t.v = t.y = t.ns = t.zl = t.rn = 1, t.s = 2, t.b = 100.0, t.n = 5, t.quiet = true; })},
};

TEST(Options, EachOptionAndItsCorners) {
  for (const optioncase &c : optioncases) {
    std::string line;
    for (auto &a : c.args) line += a + " ";
    EXPECT_EQ(parse(c.args).set, c.want) << line;
  }
}

TEST(Options, ResetRestoresTheDefaults) {
  lookdirmode = verbosemode = overwriteyesmode = strategy = nostore = fixzlib121 = rndinitabs = 1;
  gpohufthresh = 3.0;
  gpohufnum = 9;
  resetsettings();
  settings now = {lookdirmode, verbosemode, overwriteyesmode, strategy, nostore, fixzlib121, rndinitabs, gpohufnum,
                  gpohufthresh, false};
  EXPECT_EQ(now, settings{});
}

TEST(Options, ArchiveIsTheFirstNameWhereverOptionsStand) {
  EXPECT_EQ(parse({"save"}).archive, 1);
  EXPECT_EQ(parse({"-v", "save", "a", "b"}).archive, 2);
  EXPECT_EQ(parse({"save", "-v", "*.c"}).archive, 1);
  EXPECT_EQ(parse({"save", "-v", "*.c"}).set.v, 1);
  EXPECT_EQ(parse({"-s3", "-r", "out", "-y"}).archive, 3);
  EXPECT_EQ(parse({"-", "-x", "-k9", "-1", "save"}).archive, 5);
  EXPECT_EQ(parse({"-y", "/b128", "/s4"}).archive, 2);
}

TEST(Options, NoNameGivesZero) {
  EXPECT_EQ(parse({}).archive, 0);
  EXPECT_EQ(parse({"-v"}).archive, 0);
  EXPECT_EQ(parse({"-v", "-s2", "-"}).archive, 0);
}

// ---- Archive name ------------------------------------------------------------------

std::string completed(const std::string &name, int32_t *ok = nullptr) {
  char dst[namebufsiz + 16];
  memset(dst, 'Q', sizeof dst);
  int32_t r = completename(dst, name.c_str());
  if (ok) *ok = r;
  if (!r) return "<refused>";
  EXPECT_LT(strlen(dst), (size_t)namebufsiz);
  return dst;
}

TEST(CompleteName, ExtensionFollowsTheLastLetter) {
  EXPECT_EQ(completed("save"), "save.zip");
  EXPECT_EQ(completed("SAVE"), "SAVE.ZIP");
  EXPECT_EQ(completed("Save1"), "Save1.zip");
  EXPECT_EQ(completed("saVE"), "saVE.ZIP");
  EXPECT_EQ(completed("SAVe_9"), "SAVe_9.zip");
}

TEST(CompleteName, NoLetterGivesUpperCase) {
  EXPECT_EQ(completed("123"), "123.ZIP");
  EXPECT_EQ(completed("_-_"), "_-_.ZIP");
}

TEST(CompleteName, LetterInADirectoryCounts) {
  EXPECT_EQ(completed("out/"), "out/.zip");
  EXPECT_EQ(completed("OUT/"), "OUT/.ZIP");
  EXPECT_EQ(completed("lower/123"), "lower/123.zip");
  EXPECT_EQ(completed("UP/down"), "UP/down.zip");
  EXPECT_EQ(completed("down/UP"), "down/UP.ZIP");
}

TEST(CompleteName, OnlyTheBaseNameDecides) {
  EXPECT_EQ(completed("a.b/c"), "a.b/c.zip");
  EXPECT_EQ(completed("a.b\\c"), "a.b\\c.zip");
  EXPECT_EQ(completed("x/y.z"), "x/y.z");
  EXPECT_EQ(completed("dir.d/"), "dir.d/.zip");
}

TEST(CompleteName, NameWithADotIsUnchanged) {
  EXPECT_EQ(completed("c.tar"), "c.tar");
  EXPECT_EQ(completed("save.bin"), "save.bin");
  EXPECT_EQ(completed("x.zip"), "x.zip");
  EXPECT_EQ(completed(".hidden"), ".hidden");
  EXPECT_EQ(completed("trailing."), "trailing.");
}

TEST(CompleteName, SlashNameGetsItsExtension) { EXPECT_EQ(completed("/b128"), "/b128.zip"); }

TEST(CompleteName, LongestNamesThatFit) {
  // 260 bytes with the terminating NUL.
  std::string dotted = std::string(255, 'a') + ".zip";   // 259 characters
  EXPECT_EQ(completed(dotted), dotted);
  std::string bare(255, 'a');   // 255 + ".zip" = 259
  EXPECT_EQ(completed(bare), bare + ".zip");
}

TEST(CompleteName, TooLongIsRefused) {
  int32_t ok = 1;
  completed(std::string(256, 'a') + ".zip", &ok);   // 260 characters: no room for the NUL
  EXPECT_EQ(ok, 0);
  ok = 1;
  completed(std::string(256, 'a'), &ok);   // fits alone, not with ".zip"
  EXPECT_EQ(ok, 0);
  ok = 1;
  completed(std::string(1000, 'b'), &ok);
  EXPECT_EQ(ok, 0);
}

}  // namespace
