// Interoperability: archives from every strategy and the options that shape
// the Deflate stream, each read by every reader at hand. Each reader tests
// the archive and extracts it, and what it extracts must be the inputs byte
// for byte. A reader that is not installed is reported as skipped.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "e2e.h"

namespace {

using filemap = std::map<std::string, std::string>;

// The inputs of one archive and the options it is made with.
struct archivecase {
  std::string name;
  std::vector<std::string> options;
  std::string fileset;   // "mixed", "tree" or "names"
};

const std::vector<archivecase> cases = {
    {"Xtreme", {"-s0"}, "mixed"},
    {"Intense", {"-s1"}, "mixed"},
    {"LongestMatch", {"-s2"}, "mixed"},
    {"HuffmanOnly", {"-s3"}, "mixed"},
    {"Uncompressed", {"-s4"}, "mixed"},
    {"Recursion", {"-r"}, "tree"},
    {"NoStore", {"-ns"}, "mixed"},
    {"OneBlock", {"-b0"}, "mixed"},
    // So many block headers cost more than they save; -ns keeps the entries
    // deflated so that the readers meet all the blocks.
    {"ManyBlocks", {"-n1024", "-ns"}, "mixed"},
    {"RandomTables", {"-rn"}, "mixed"},
    {"SpacesAndUtf8Names", {"-r"}, "names"},
};

// Files of a set, and the arguments that select them.
struct fileset {
  filemap files;
  std::vector<std::string> args;
};

fileset makeset(const std::string &which) {
  fileset s;
  if (which == "mixed") {
    // Four-byte records: a 16-bit counter, then a constant field.
    std::string table;
    for (int k = 0; k < 1500; k++) table += {(char)(k & 255), (char)(k >> 8), 1, 0};
    s.files = {{"text.txt", textbytes(9000, 80)},
               {"table.bin", table},
               {"empty", ""},
               {"noise.bin", randombytes(3000, 81)}};   // does not shrink: stored unless -ns
    s.args = {"text.txt", "table.bin", "empty", "noise.bin"};
  } else if (which == "tree") {
    s.files = {{"top.txt", textbytes(2000, 82)},
               {"d1/a.txt", textbytes(3000, 83)},
               {"d1/d2/b.txt", textbytes(1000, 84)},
               {"d1/d2/empty", ""},
               {"d1/d2/d3/c.bin", randombytes(500, 85)}};
    s.args = {"top.txt", "d1"};
  } else {
    s.files = {{"with space.txt", textbytes(1200, 86)},
               {"\xc3\xbcn\xc3\xaf c\xc3\xb6" "d\xc3\xa9 \xe5\x90\x8d\xe5\x89\x8d.txt", textbytes(1300, 87)},
               {"dir \xc3\xbc/\xc3\xb6 file.txt", textbytes(1400, 88)}};
    s.args = {"with space.txt", "\xc3\xbcn\xc3\xaf c\xc3\xb6" "d\xc3\xa9 \xe5\x90\x8d\xe5\x89\x8d.txt", "dir \xc3\xbc"};
  }
  return s;
}

bool isascii(const std::string &s) {
  for (char c : s)
    if ((unsigned char)c > 127) return false;
  return true;
}

std::string shq(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Every regular file below root, by its path relative to root.
void walk(const std::string &root, const std::string &rel, filemap &out) {
  DIR *d = opendir((root + "/" + rel).c_str());
  if (!d) return;
  while (struct dirent *e = readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    std::string r = rel.empty() ? n : rel + "/" + n;
    struct stat st;
    if (lstat((root + "/" + r).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) walk(root, r, out);
    else out[r] = readfile(root + "/" + r);
  }
  closedir(d);
}

// One archive, made once for all readers.
struct built {
  std::string dir;
  std::string zip;
  filemap files;
  std::vector<std::string> order;   // names in the central directory
  std::vector<zipentry> entries;
  std::string problem;              // why it could not be made
};

class Interop : public ::testing::TestWithParam<std::tuple<size_t, std::string>> {
 protected:
  static std::string root;
  static std::map<std::string, built> archives;

  static void SetUpTestSuite() {
    root = maketempdir();
  }
  static void TearDownTestSuite() {
    removetree(root);
    archives.clear();
  }

  // Each archive is made when a test first needs it: a test run in a
  // process of its own makes only its own.
  static const built &make(const archivecase &c) {
    auto found = archives.find(c.name);
    if (found != archives.end()) return found->second;
    built &b = archives[c.name];
    b.dir = root + "/" + c.name;
    mkdir(b.dir.c_str(), 0777);
    fileset s = makeset(c.fileset);
    b.files = s.files;
    for (auto &f : s.files) {
      for (size_t k = 0; (k = f.first.find('/', k)) != std::string::npos; k++)
        mkdir((b.dir + "/" + f.first.substr(0, k)).c_str(), 0777);
      writefile(b.dir + "/" + f.first, f.second);
    }
    std::vector<std::string> args = c.options;
    args.push_back("save");
    args.insert(args.end(), s.args.begin(), s.args.end());
    runresult r = runvorpak(b.dir, args);
    b.zip = b.dir + "/save.zip";
    bool ok = false;
    b.entries = parsezip(readfile(b.zip), &ok);
    if (r.status != 0 || !ok) b.problem = "the archive was not written:\n" + r.out;
    for (auto &e : b.entries) b.order.push_back(e.name);
    return b;
  }

  const archivecase &thecase() const { return cases[std::get<0>(GetParam())]; }
  const built &archive() const { return make(thecase()); }

  // A scratch directory for one extraction.
  std::string outdir(const std::string &reader) {
    std::string d = root + "/out-" + thecase().name + "-" + reader;
    removetree(d);
    mkdir(d.c_str(), 0777);
    return d;
  }

  static bool installed(const std::string &tool) {
    return runshell("/", "command -v " + tool + " >/dev/null").status == 0;
  }

  void expectextracted(const std::string &reader, const std::string &out) {
    filemap got;
    walk(out, "", got);
    EXPECT_EQ(got.size(), archive().files.size()) << reader << " extracted other files";
    for (auto &f : archive().files) {
      auto it = got.find(f.first);
      if (it == got.end()) {
        ADD_FAILURE() << reader << " did not extract " << f.first;
      } else {
        EXPECT_TRUE(it->second == f.second) << reader << " extracted other bytes for " << f.first;
      }
    }
  }
};

std::string Interop::root;
std::map<std::string, built> Interop::archives;

TEST_P(Interop, ReaderTestsAndExtractsTheInputs) {
  const std::string reader = std::get<1>(GetParam());
  const built &b = archive();
  ASSERT_EQ(b.problem, "");
  ASSERT_EQ(b.order.size(), b.files.size());
  // Readers that convert names to the locale's character set need one that
  // can hold every name.
  const std::string env = "LC_ALL=C.UTF-8 ";

  if (reader == "zlib") {
    namedata want;
    for (auto &n : b.order) want.push_back({n, b.files.at(n)});
    EXPECT_EQ(checkinflate(readfile(b.zip), want), "");
    // The matrix covers what it claims: deflated entries where the data
    // shrinks, the stored fallback for the rest, deflated entries
    // everywhere under -ns, stored ones everywhere under -s4.
    const auto &o = thecase().options;
    bool ns = std::find(o.begin(), o.end(), "-ns") != o.end();
    bool s4 = std::find(o.begin(), o.end(), "-s4") != o.end();
    for (auto &e : b.entries) {
      int want = s4 ? 0 : ns ? 8 : (e.name == "empty" || e.name == "noise.bin") ? 0 : -1;
      if (want >= 0) {
        EXPECT_EQ(e.method, want) << e.name;
      }
      if (e.name == "text.txt") {
        EXPECT_EQ(e.method, s4 ? 0 : 8);
      }
    }
  } else if (reader == "zipfile") {
    std::vector<std::pair<std::string, std::string>> namesandfiles;
    for (auto &n : b.order) namesandfiles.push_back({n, b.dir + "/" + n});
    EXPECT_EQ(checkarchive(b.zip, namesandfiles), "");
  } else if (reader == "unzip") {
    if (!installed("unzip")) GTEST_SKIP() << "unzip is not installed";
    runresult t = runshell("/", env + "unzip -t " + shq(b.zip));
    EXPECT_EQ(t.status, 0) << t.out;
    EXPECT_NE(t.out.find("No errors detected"), std::string::npos) << t.out;
    std::string out = outdir(reader);
    runresult x = runshell("/", env + "unzip -o -qq -d " + shq(out) + " " + shq(b.zip));
    EXPECT_EQ(x.status, 0) << x.out;
    // UnZip takes the names of entries made under MS-DOS conventions for
    // code page 437 even when the UTF-8 flag is set, so it may rename the
    // non-ASCII ones. Their contents must still come out, each once.
    filemap got;
    walk(out, "", got);
    std::multiset<std::string> renamed, wantrenamed;
    for (auto &f : b.files) {
      auto it = got.find(f.first);
      if (it != got.end()) {
        EXPECT_TRUE(it->second == f.second) << "unzip extracted other bytes for " << f.first;
      } else if (isascii(f.first)) {
        ADD_FAILURE() << "unzip did not extract " << f.first;
      } else {
        wantrenamed.insert(f.second);
      }
    }
    for (auto &g : got)
      if (!b.files.count(g.first)) renamed.insert(g.second);
    EXPECT_TRUE(renamed == wantrenamed) << "unzip extracted other files than the inputs";
    if (!wantrenamed.empty())
      printf("[  NOTE    ] unzip renamed %zu UTF-8 names (read as code page 437); compared by contents\n",
             wantrenamed.size());
  } else if (reader == "bsdtar") {
    if (!installed("bsdtar")) GTEST_SKIP() << "bsdtar is not installed";
    runresult t = runshell("/", env + "bsdtar -tvf " + shq(b.zip));
    EXPECT_EQ(t.status, 0) << t.out;
    EXPECT_EQ((size_t)std::count(t.out.begin(), t.out.end(), '\n'), b.files.size()) << t.out;
    std::string out = outdir(reader);
    runresult x = runshell("/", env + "bsdtar -xf " + shq(b.zip) + " -C " + shq(out));
    EXPECT_EQ(x.status, 0) << x.out;
    expectextracted(reader, out);
  } else if (reader == "7zz") {
    if (!installed("7zz")) GTEST_SKIP() << "7-Zip (7zz) is not installed";
    runresult t = runshell("/", env + "7zz t " + shq(b.zip));
    EXPECT_EQ(t.status, 0) << t.out;
    EXPECT_NE(t.out.find("Everything is Ok"), std::string::npos) << t.out;
    std::string out = outdir(reader);
    runresult x = runshell("/", env + "7zz x -y -o" + shq(out) + " " + shq(b.zip));
    EXPECT_EQ(x.status, 0) << x.out;
    expectextracted(reader, out);
  }
}

std::string paramname(const ::testing::TestParamInfo<std::tuple<size_t, std::string>> &info) {
  return cases[std::get<0>(info.param)].name + "_" + std::get<1>(info.param);
}

INSTANTIATE_TEST_SUITE_P(Matrix, Interop,
                         ::testing::Combine(::testing::Range<size_t>(0, cases.size()),
                                            ::testing::Values("zlib", "zipfile", "unzip", "bsdtar", "7zz")),
                         paramname);

}  // namespace
