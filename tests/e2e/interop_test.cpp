// Every strategy and entry-shaping option, each archive read by every reader;
// records and console text agree with what was kept.
#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <ctime>
#include <set>

#include "e2e.h"

namespace {

struct archivecase {
  std::vector<std::string> options;
  const char *fileset;   // "mixed", "tree", "names" or "edges"
};
const archivecase cases[] = {
    {{"-s0"}, "mixed"}, {{"-s2", "-b16", "-j1"}, "mixed"}, {{"-zl121", "-s3"}, "mixed"},   // no distance code at all
    {{"-s4", "-ns"}, "mixed"}, {{"-ns", "-s1", "-rn"}, "mixed"},
    {{"-n1024", "-ns"}, "mixed"},   // more headers than they save: -ns keeps them for the readers
    {{"-x1", "-r"}, "tree"}, {{"-r"}, "names"}, {{"-s3"}, "edges"}};   // around the 64 KiB pieces of input

// A set's files, the arguments that select them, which shrink and which cannot.
struct fileset {
  namedata files;
  std::vector<std::string> args;
  std::set<std::string> shrinks, cannot;
};

fileset makeset(const std::string &which) {
  const std::string utf8 = "\xc3\xbcn\xc3\xaf c\xc3\xb6" "d\xc3\xa9 \xe5\x90\x8d.txt";
  if (which == "tree")
    return {{{"top.txt", textbytes(2000, 82)}, {"d1/a.txt", textbytes(3000, 83)}, {"d1/d2/empty", ""},
             {"d1/d2/d3/c.bin", randombytes(500, 85)}}, {"top.txt", "d1"}, {}, {}};
  if (which == "names")
    return {{{"with space.txt", textbytes(1200, 86)}, {utf8, textbytes(1300, 87)}, {"dir \xc3\xbc/\xc3\xb6.txt", textbytes(1400, 88)}},
            {"with space.txt", utf8, "dir \xc3\xbc"}, {}, {}};
  if (which == "edges")
    return {{{"t65536", textbytes(65536, 40)}, {"t65537", textbytes(65537, 41)}, {"r65537", randombytes(65537, 43)}},
            {"t65536", "t65537", "r65537"}, {"t65536", "t65537"}, {"r65537"}};
  std::string table;   // four-byte records: a 16-bit counter, a constant field
  for (int k = 0; k < 1500; k++) table += {(char)(k & 255), (char)(k >> 8), 1, 0};
  return {{{"text.txt", textbytes(9000, 80)}, {"table.bin", table},
           {"mixed.bin", textbytes(1500, 51) + randombytes(1500, 52) + std::string(1500, 'q')}, {"a", "a"},
           {"empty", ""}, {"noise.bin", randombytes(3000, 81)}},
          {"text.txt", "table.bin", "mixed.bin", "a", "empty", "noise.bin"}, {"text.txt"}, {"a", "empty", "noise.bin"}};
}

class Interop : public E2E, public ::testing::WithParamInterface<size_t> {};

TEST_P(Interop, EveryReaderAndEveryRecord) {
  const archivecase &c = cases[GetParam()];
  const fileset s = makeset(c.fileset);
  // 2004-03-05 14:37:59 local time, in MS-DOS form with the seconds halved.
  struct tm t = {};
  t.tm_year = 104, t.tm_mon = 2, t.tm_mday = 5, t.tm_hour = 14, t.tm_min = 37, t.tm_sec = 59, t.tm_isdst = -1;
  struct utimbuf ut = {mktime(&t), mktime(&t)};
  for (auto &f : s.files) put(f.first, f.second), utime(path(f.first).c_str(), &ut);
  std::vector<std::string> args = c.options;
  args.push_back("save");
  args.insert(args.end(), s.args.begin(), s.args.end());
  runresult r = run(args);
  ASSERT_EQ(r.status, 0) << r.out;
  checkall("save.zip", s.files);
  std::vector<zipentry> es = entries("save.zip");
  std::vector<std::string> v = rendered(r.out);
  ASSERT_EQ(v.size(), es.size() + 3) << r.out;
  const bool ns = std::count(c.options.begin(), c.options.end(), "-ns"), s4 = c.options[0] == "-s4";
  int64_t total = 0;
  for (size_t k = 0; k < es.size(); k++) {
    const zipentry &e = es[k];
    total += e.usize;
    // Deflated where the data shrink, stored where they cannot (-ns, -s4 force).
    EXPECT_EQ(e.method, s4 ? 0 : ns || s.shrinks.count(e.name) ? 8 : s.cannot.count(e.name) ? 0 : e.method) << e.name;
    bool ascii = std::all_of(e.name.begin(), e.name.end(), [](char ch) { return (unsigned char)ch < 128; });
    // Made by Unix with the file's mode; a UTF-8 name is flagged.
    struct stat st;
    ASSERT_EQ(stat(path(e.name).c_str(), &st), 0);
    EXPECT_EQ(std::make_tuple(e.flags, e.made, e.extattr, e.intattr, e.time, e.date, e.extra + e.lextra + e.comment),
              std::make_tuple((e.method == 8 ? 2 : 0) | (ascii ? 0 : 0x800), 0x314, st.st_mode << 16 | 0x20, 0,
                              14 * 2048 + 37 * 32 + 29, 5 + 24 * 512 + 3 * 32, "")) << e.name;
    EXPECT_EQ(std::tie(e.lversion, e.lflags, e.lmethod, e.ltime, e.ldate, e.lcrc, e.lcsize, e.lusize),
              std::tie(e.version, e.flags, e.method, e.time, e.date, e.crc, e.csize, e.usize)) << e.name;
    std::string line = e.method == 8 ? adding(e.name) + figures(e.csize, e.usize) : fmt("  Adding: %-12s ", e.name.c_str()) + storedtext(e.usize);
    EXPECT_EQ(v[k + 1].substr(0, line.size()), line);
  }
  EXPECT_EQ(v[v.size() - 2], totalsline((int64_t)readfile(path("save.zip")).size(), total));
  if (std::string(c.fileset) != "names") return;
  // Extracted, the names are the files' own, UTF-8 ones too.
  ASSERT_EQ(runshell(dir, "mkdir x && cd x && LC_ALL=C.UTF-8 unzip -qq ../save.zip").status, 0);
  for (auto &f : s.files) EXPECT_EQ(readfile(path("x/" + f.first)), f.second) << f.first;
}

INSTANTIATE_TEST_SUITE_P(Matrix, Interop, ::testing::Range<size_t>(0, std::size(cases)));

}  // namespace
