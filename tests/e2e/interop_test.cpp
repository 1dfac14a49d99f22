// Interoperability: archives from every strategy and every option that
// shapes the entries, each read by every reader at hand (a reader that is
// not installed is reported). Each reader tests the archive and extracts
// it, and what it extracts must be the inputs byte for byte. The records
// and the console text must agree with what was kept.
#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <set>
#include <tuple>

#include "e2e.h"

namespace {

using filemap = std::map<std::string, std::string>;

// The inputs of one archive and the options it is made with.
struct archivecase {
  std::string name;
  std::vector<std::string> options;
  std::string fileset;   // "mixed", "tree", "names" or "edges"
};

const std::vector<archivecase> cases = {
    {"Xtreme", {"-s0"}, "mixed"},
    {"LongestMatch", {"-s2", "-b16"}, "mixed"},
    // No distance code is used in any block: the empty distance code.
    {"HuffmanOnlyZlib121", {"-zl121", "-s3"}, "mixed"},
    {"Uncompressed", {"-s4", "-ns"}, "mixed"},   // -s4 stores all the same
    {"NoStore", {"-ns", "-s1"}, "mixed"},
    // So many block headers cost more than they save; -ns keeps the entries
    // deflated so that the readers meet all the blocks.
    {"ManyBlocks", {"-n1024", "-ns"}, "mixed"},
    {"RandomTables", {"-rn", "-n3"}, "mixed"},
    {"Recursion", {"-r"}, "tree"},
    {"SpacesAndUtf8Names", {"-r"}, "names"},
    // Around the 64 KiB input buffer.
    {"BufferEdges", {"-s3"}, "edges"},
};

// Files of a set, the arguments that select them, and which of them shrink
// for certain and which cannot.
struct fileset {
  filemap files;
  std::vector<std::string> args;
  std::set<std::string> shrinks, cannot;
};

fileset makeset(const std::string &which) {
  fileset s;
  if (which == "mixed") {
    // Four-byte records: a 16-bit counter, then a constant field.
    std::string table;
    for (int k = 0; k < 1500; k++) table += {(char)(k & 255), (char)(k >> 8), 1, 0};
    s.files = {{"text.txt", textbytes(9000, 80)},
               {"table.bin", table},
               {"mixed.bin", textbytes(1500, 51) + randombytes(1500, 52) + std::string(1500, 'q')},
               {"a", "a"},
               {"empty", ""},
               {"noise.bin", randombytes(3000, 81)}};
    s.args = {"text.txt", "table.bin", "mixed.bin", "a", "empty", "noise.bin"};
    s.shrinks = {"text.txt"};
    s.cannot = {"a", "empty", "noise.bin"};
  } else if (which == "tree") {
    s.files = {{"top.txt", textbytes(2000, 82)},
               {"d1/a.txt", textbytes(3000, 83)},
               {"d1/d2/b.txt", textbytes(1000, 84)},
               {"d1/d2/empty", ""},
               {"d1/d2/d3/c.bin", randombytes(500, 85)}};
    s.args = {"top.txt", "d1"};
  } else if (which == "names") {
    const std::string utf8 = "\xc3\xbcn\xc3\xaf c\xc3\xb6" "d\xc3\xa9 \xe5\x90\x8d\xe5\x89\x8d.txt";
    s.files = {{"with space.txt", textbytes(1200, 86)},
               {utf8, textbytes(1300, 87)},
               {"dir \xc3\xbc/\xc3\xb6 file.txt", textbytes(1400, 88)}};
    s.args = {"with space.txt", utf8, "dir \xc3\xbc"};
  } else {
    s.files = {{"t65536", textbytes(65536, 40)}, {"t65537", textbytes(65537, 41)},
               {"r65536", randombytes(65536, 42)}, {"r65537", randombytes(65537, 43)}};
    s.args = {"t65536", "t65537", "r65536", "r65537"};
    s.shrinks = {"t65536", "t65537"};
    s.cannot = {"r65536", "r65537"};
  }
  return s;
}

bool isascii(const std::string &s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return (unsigned char)c < 128; });
}

// Every regular file below root, by its path relative to root.
filemap walk(const std::string &root) {
  filemap out;
  for (auto &e : std::filesystem::recursive_directory_iterator(root))
    if (e.is_regular_file()) out[e.path().lexically_relative(root)] = readfile(e.path());
  return out;
}

// Every input's modification time: 2004-03-05 14:37:59 local time, which
// the entries hold in MS-DOS form (seconds halved).
time_t filetime() {
  struct tm t = {};
  t.tm_year = 2004 - 1900, t.tm_mon = 2, t.tm_mday = 5, t.tm_hour = 14, t.tm_min = 37, t.tm_sec = 59;
  t.tm_isdst = -1;
  return mktime(&t);
}
constexpr uint16_t dostime = 14 * 2048 + 37 * 32 + 29, dosdate = 5 + 24 * 512 + 3 * 32;

class Interop : public E2E, public ::testing::WithParamInterface<size_t> {
 protected:
  std::string scratch;
  void SetUp() override {
    E2E::SetUp();
    scratch = maketempdir();
  }
  void TearDown() override {
    removetree(scratch);
    E2E::TearDown();
  }
  // Extracted by reader into a directory of its own, the files must be the
  // inputs, under their own names (UTF-8 ones too), each readable and
  // writable by its owner.
  void expectextracted(const std::string &reader, const std::string &command, const filemap &files) {
    std::string out = scratch + "/" + reader;
    mkdir(out.c_str(), 0777);
    // Readers that convert names to the locale's character set need one
    // that can hold every name.
    runresult x = runshell(out, "LC_ALL=C.UTF-8 " + command);
    EXPECT_EQ(x.status, 0) << command << ":\n" << x.out;
    EXPECT_TRUE(walk(out) == files) << reader << " extracted other files than the inputs";
    for (auto &f : files) {
      struct stat st;
      if (stat((out + "/" + f.first).c_str(), &st) == 0) {
        EXPECT_EQ(st.st_mode & 0600, 0600u) << reader << ": " << f.first;
      }
    }
  }
};

TEST_P(Interop, EveryReaderTestsAndExtractsTheInputs) {
  const archivecase &c = cases[GetParam()];
  const fileset s = makeset(c.fileset);
  struct utimbuf ut = {filetime(), filetime()};
  for (auto &f : s.files) {
    put(f.first, f.second);
    utime(path(f.first).c_str(), &ut);
  }
  std::vector<std::string> args = c.options;
  args.push_back("save");
  args.insert(args.end(), s.args.begin(), s.args.end());
  runresult r = run(args);
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<zipentry> es = entries("save.zip");
  ASSERT_EQ(es.size(), s.files.size());
  // Tested by unzip, Python's zipfile, zlib, bsdtar and 7-Zip.
  checkall("save.zip", namedata(s.files.begin(), s.files.end()), false);
  std::string zip = shq(path("save.zip"));
  expectextracted("unzip", "unzip -o -qq " + zip, s.files);
  expectextracted("bsdtar", "bsdtar -xf " + zip, s.files);
  expectextracted("7zz", "7zz x -y " + zip, s.files);

  // What the records and the console say of each entry.
  const auto &o = c.options;
  bool ns = std::count(o.begin(), o.end(), "-ns"), s4 = std::count(o.begin(), o.end(), "-s4");
  std::vector<std::string> v = rendered(r.out);
  ASSERT_EQ(v.size(), es.size() + 3) << r.out;
  int64_t total = 0;
  for (size_t k = 0; k < es.size(); k++) {
    const zipentry &e = es[k];
    SCOPED_TRACE(e.name);
    total += e.usize;
    // Deflated where the data shrinks, the stored fallback where it
    // cannot; deflated everywhere under -ns, stored everywhere under -s4.
    int method = s4 ? 0 : ns || s.shrinks.count(e.name) ? 8 : s.cannot.count(e.name) ? 0 : e.method;
    EXPECT_EQ(e.method, method);
    EXPECT_EQ(e.flags, (e.method == 8 ? 2 : 0) | (isascii(e.name) ? 0 : 0x800));
    EXPECT_EQ(e.time, dostime);
    EXPECT_EQ(e.date, dosdate);
    // The local header agrees with the central one.
    EXPECT_EQ(std::make_tuple(e.lflags, e.lmethod, e.lcrc, e.lcsize, e.lusize),
              std::make_tuple(e.flags, e.method, e.crc, e.csize, e.usize));
    // Each file's line shows what was kept: the figures of the deflated
    // entry, or the stored text written over the progress word and
    // whatever the passes showed.
    std::string shown = v[k + 1];
    if (e.method == 8) {
      shown.erase(shown.find_last_not_of(' ') + 1);
      EXPECT_EQ(shown, adding(e.name) + figures(e.csize, e.usize));
    } else {
      // A status longer than the stored text (a ratio of -1000% or less)
      // leaves its last characters behind it on the screen.
      std::string line = fmt("  Adding: %-12s ", e.name.c_str()) + storedtext(e.usize);
      EXPECT_EQ(shown.substr(0, line.size()), line);
    }
  }
  EXPECT_EQ(v[v.size() - 2], totalsline((int64_t)readfile(path("save.zip")).size(), total));
}

INSTANTIATE_TEST_SUITE_P(Matrix, Interop, ::testing::Range<size_t>(0, cases.size()),
                         [](const ::testing::TestParamInfo<size_t> &info) { return cases[info.param].name; });

}  // namespace
