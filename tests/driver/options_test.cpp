// The command line: every option of the table into the run settings, and
// the archive name with its completed extension.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "driver/driver.h"

namespace {

// The run settings after a command line; every field starts at its default.
struct settings {
  int32_t r = 0, v = 0, y = 0, s = 0, ns = 0, zl = 0, rn = 0, n = 0;
  double b = 256.0;
  bool quiet = false;
  bool operator==(const settings &) const = default;
};

void PrintTo(const settings &t, std::ostream *os) {
  *os << "r" << t.r << " v" << t.v << " y" << t.y << " s" << t.s << " ns" << t.ns << " zl" << t.zl << " rn"
      << t.rn << " n" << t.n << " b" << t.b << (t.quiet ? " quiet" : "");
}

struct parsed {
  int32_t archive;
  settings set;
};

// Parses the arguments as argv[1..] from the defaults on, so that a value
// left over from an earlier command line shows up as well.
parsed parse(std::vector<std::string> args) {
  resetsettings();
  messagestream = stdout;
  args.insert(args.begin(), "vorpak");
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  parsed p;
  p.archive = parseoptions((int)args.size(), argv.data());
  p.set = {lookdirmode, verbosemode, overwriteyesmode, strategy, nostore, fixzlib121, rndinitabs, gpohufnum,
           gpohufthresh, messagestream == nullptr};
  messagestream = stdout;
  return p;
}

// Each option alone and its corner cases. Values are read like atol and
// atof: leading digits count, the rest is ignored, no digits give 0.
const std::pair<std::vector<std::string>, settings> optioncases[] = {
    {{"-s1"}, {.s = 1}}, {{"-s4"}, {.s = 4}}, {{"-s9"}, {.s = 4}}, {{"-s4294967297"}, {.s = 4}},
    {{"-s-1"}, {}}, {{"-s"}, {}}, {{"-sx"}, {}}, {{"-s2x"}, {.s = 2}}, {{"-S1"}, {.s = 1}},
    {{"-B12.5"}, {.b = 12.5}}, {{"-b-3"}, {.b = -3}}, {{"-b"}, {.b = 0}}, {{"-b64k"}, {.b = 64}},
    {{"-N3"}, {.n = 3}}, {{"-n12abc"}, {.n = 12}}, {{"-n"}, {}},
    {{"-NS"}, {.ns = 1}}, {{"-ns5"}, {}},
    {{"-n9", "-ns"}, {.ns = 1, .n = 9}},   // -ns is no block count
    {{"-n9", "-nsx"}, {}},                  // -nsx is one: of 0
    {{"-R"}, {.r = 1}}, {{"-recurse"}, {.r = 1}},
    {{"-rN"}, {.rn = 1}}, {{"-rnd5"}, {.rn = 1}}, {{"-rn", "-r"}, {.r = 1, .rn = 1}},   // -rn does not recurse
    {{"-verbose"}, {.v = 1}}, {{"-V"}, {.v = 1}}, {{"-Quiet"}, {.quiet = true}},
    {{"-Y"}, {.y = 1}}, {{"-yes"}, {}},
    {{"-Zl121"}, {.zl = 1}}, {{"-zL121"}, {.zl = 1}},
    {{"-zl1210"}, {}}, {{"-zl12"}, {}}, {{"-zl122"}, {}}, {{"-z121"}, {}},
    // A bare "-" and unknown letters are ignored; names are no options, "/" included.
    {{"-", "-x", "-1"}, {}}, {{"/b128", "/s4"}, {}},
    // Of -b and -n the later decides whether a block count is asked for.
    {{"-n7", "-b512"}, {.b = 512}}, {{"-b512", "-n7"}, {.n = 7, .b = 512}},
    // Later options override earlier ones.
    {{"-s1", "-s3"}, {.s = 3}}, {{"-s4", "-s-2"}, {}}, {{"-n3", "-n7"}, {.n = 7}}, {{"-b100", "-b300"}, {.b = 300}},
    {{"-r", "-v", "-y", "-s2", "-ns", "-zl121", "-b100", "-n5", "-rn", "-q"},
     {.r = 1, .v = 1, .y = 1, .s = 2, .ns = 1, .zl = 1, .rn = 1, .n = 5, .b = 100, .quiet = true}},
};

TEST(Options, EachOptionAndItsCorners) {
  for (auto &c : optioncases) EXPECT_EQ(parse(c.first).set, c.second) << testing::PrintToString(c.first);
}

TEST(Options, ArchiveIsTheFirstNameWhereverOptionsStand) {
  const std::pair<std::vector<std::string>, int32_t> cases[] = {
      {{"save"}, 1},
      {{"-v", "save", "a", "b"}, 2},
      {{"-s3", "-r", "out", "-y"}, 3},
      {{"-", "-x", "-k9", "-1", "save"}, 5},
      {{"-y", "/b128", "/s4"}, 2},
      {{}, 0},
      {{"-v", "-s2", "-"}, 0},
  };
  for (auto &c : cases) EXPECT_EQ(parse(c.first).archive, c.second) << testing::PrintToString(c.first);
  parsed p = parse({"save", "-v", "*.c"});   // options after the name count too
  EXPECT_EQ(p.archive, 1);
  EXPECT_EQ(p.set.v, 1);
}

// ---- Archive name ------------------------------------------------------------------

TEST(CompleteName, ExtensionAndItsCase) {
  const std::string a255(255, 'a');
  const std::pair<std::string, std::string> cases[] = {
      // The case of ".zip" follows the last letter of the whole name; no letter gives upper case.
      {"save", "save.zip"}, {"SAVE", "SAVE.ZIP"}, {"saVE", "saVE.ZIP"}, {"SAVe_9", "SAVe_9.zip"},
      {"123", "123.ZIP"}, {"out/", "out/.zip"}, {"lower/123", "lower/123.zip"}, {"down/UP", "down/UP.ZIP"},
      {"/b128", "/b128.zip"},
      // A dot in the base name keeps the name as it is; one in a directory does not.
      {"save.bin", "save.bin"}, {".hidden", ".hidden"}, {"trailing.", "trailing."}, {"x/y.z", "x/y.z"},
      {"a.b/c", "a.b/c.zip"}, {"a.b\\c", "a.b\\c.zip"}, {"dir.d/", "dir.d/.zip"},
      // 259 characters and the NUL fill the name buffer; one more is refused.
      {a255 + ".zip", a255 + ".zip"},
      {a255, a255 + ".zip"},
      {"a" + a255 + ".zip", "<refused>"},
      {"a" + a255, "<refused>"},   // fits alone, not with ".zip"
      {std::string(1000, 'b'), "<refused>"},
  };
  for (auto &c : cases) {
    char dst[namebufsiz + 16];
    memset(dst, 'Q', sizeof dst);   // the result must bring its own NUL
    std::string got = completename(dst, c.first.c_str()) ? std::string(dst) : "<refused>";
    EXPECT_EQ(got, c.second) << c.first;
    EXPECT_LT(got.size(), (size_t)namebufsiz);
  }
}

}  // namespace
