// Which files a run takes and under which names: recursion, "@" list files,
// absolute paths, symbolic links, special files, the archive itself,
// and names in UTF-8.
#include <sys/stat.h>

#include <algorithm>

#include "e2e.h"

namespace {

using Selection = E2E;

size_t depth(const std::string &name) { return (size_t)std::count(name.begin(), name.end(), '/'); }

// ---- Recursion --------------------------------------------------------------------

class Recursion : public E2E {
 protected:
  std::map<std::string, std::string> tree = {
      {"f1", "top one\n"},          {"f2", textbytes(500, 20)},   {"d1/g1", "in d1\n"},
      {"d2/g2", "in d2\n"},         {"d1/e/h1", "deeper\n"},      {"d1/e/k/m1", "deepest\n"},
      {"d2/.dot", "hidden in d2\n"}};
  void SetUp() override {
    E2E::SetUp();
    for (auto &f : tree) put(f.first, f.second);
    mkdirs("empty");
  }
};

TEST_F(Recursion, WholeTreeBreadthFirstWithPaths) {
  runresult r = run({"-r", "-s4", "save"});
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::string> order = names("save.zip");
  // Directories get no entry of their own, and every file is there once.
  checkset("save.zip", tree);
  // A directory's files come before the contents of its subdirectories,
  // and every level before the next.
  for (size_t k = 1; k < order.size(); k++) EXPECT_LE(depth(order[k - 1]), depth(order[k])) << order[k];
  // Only files are announced.
  size_t adding = 0;
  for (auto &l : rawlines(r.out))
    if (l.rfind("  Adding: ", 0) == 0) adding++;
  EXPECT_EQ(adding, tree.size()) << r.out;
}

TEST_F(Recursion, SubdirectoriesAreExpandedInListingOrder) {
  runresult r = run({"-r", "-s4", "save", "d1", "d2"});
  ASSERT_EQ(r.status, 0) << r.out;
  std::map<std::string, std::string> want;
  for (auto &f : tree)
    if (f.first.rfind("d", 0) == 0) want.insert(f);
  checkset("save.zip", want);
  std::vector<std::string> order = names("save.zip");
  // d1 was named first, so its files come before d2's, and both before d1/e.
  std::vector<std::string> d2files = {"d2/.dot", "d2/g2"};
  ASSERT_EQ(order.size(), 5u);
  EXPECT_EQ(order[0], "d1/g1");
  std::vector<std::string> mid = {order[1], order[2]};
  std::sort(mid.begin(), mid.end());
  EXPECT_EQ(mid, d2files);
  EXPECT_EQ(order[3], "d1/e/h1");
  EXPECT_EQ(order[4], "d1/e/k/m1");
}

TEST_F(Recursion, DirectoryWithoutRecursionSelectsNothing) {
  runresult r = run({"-s4", "save", "d1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "No files found\n");
  EXPECT_FALSE(fileexists(path("save.zip")));
  r = run({"-s4", "save", "d1", "f1"});
  EXPECT_EQ(r.status, 0);
  checkall("save.zip", {{"f1", tree["f1"]}});
}

TEST_F(Recursion, WithoutRecursionTheNameIsBare) {
  runresult r = run({"-s4", "save", "d1/e/h1", "d1/*"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkall("save.zip", {{"h1", tree["d1/e/h1"]}, {"g1", tree["d1/g1"]}});
}

TEST_F(Recursion, PatternBelowADirectoryKeepsItsPath) {
  runresult r = run({"-r", "-s4", "save", "d1/*"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkset("save.zip", {{"d1/g1", tree["d1/g1"]}, {"d1/e/h1", tree["d1/e/h1"]}, {"d1/e/k/m1", tree["d1/e/k/m1"]}});
}

TEST_F(Recursion, DirectoryNamedWithRecursionGivesItsContents) {
  runresult r = run({"-r", "-s4", "save", "d2"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkset("save.zip", {{"d2/g2", tree["d2/g2"]}, {"d2/.dot", tree["d2/.dot"]}});
}

TEST_F(Recursion, PatternDecidesWhichDirectoriesAreEntered) {
  runresult r = run({"-r", "-s4", "save", "d?"});   // not "empty", not f1 or f2
  ASSERT_EQ(r.status, 0) << r.out;
  std::map<std::string, std::string> want;
  for (auto &f : tree)
    if (f.first[0] == 'd') want.insert(f);
  checkset("save.zip", want);
}

TEST_F(Recursion, EmptyDirectoryGivesAnArchiveWithoutEntries) {
  // The directory counts as selected, so the run goes on and writes an
  // archive that holds nothing but the end record.
  runresult r = run({"-r", "-s4", "save", "empty"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "Creating ZIP: save.zip\n" + totalsline(22, 0) + "\n");
  EXPECT_EQ(names("save.zip").size(), 0u);
  EXPECT_EQ(readfile(path("save.zip")).size(), 22u);
  // unzip -t reports an empty archive as a warning; Python's zipfile reads it.
  runresult p = runshell("/", "python3 '" + std::string(VORPAK_TESTDIR) + "/support/checkzip.py' '" +
                                  path("save.zip") + "'");
  EXPECT_EQ(p.status, 0) << p.out;
}

TEST_F(Recursion, EmptyDirectoryBesideAFile) {
  runresult r = run({"-r", "-s4", "save", "empty", "f1"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkall("save.zip", {{"f1", tree["f1"]}});
}

TEST_F(Recursion, RandomTablesOptionDoesNotRecurse) {
  runresult r = run({"-rn", "-s4", "save"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkset("save.zip", {{"f1", tree["f1"]}, {"f2", tree["f2"]}});
}

TEST_F(Recursion, SymbolicLinkLoopIsWalkedOnce) {
  symlinkto("d1/e/up", "../..");   // back to the top
  symlinkto("d1/self", ".");
  runresult r = run({"-r", "-s4", "save"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkset("save.zip", tree);
}

TEST_F(Recursion, LinkToADirectoryNotYetWalkedIsFollowedOnce) {
  symlinkto("alias", "d2");   // d2 under a second name: its files are taken once
  runresult r = run({"-r", "-s4", "save", "alias", "d2"});
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::string> order = names("save.zip");
  ASSERT_EQ(order.size(), 2u) << r.out;
  std::map<std::string, std::string> want;
  for (auto &n : order) {
    std::string base = n.substr(n.rfind('/') + 1);
    want[n] = tree.at("d2/" + base);
  }
  checkset("save.zip", want);
}

// ---- Names stored -------------------------------------------------------------------

TEST_F(Selection, AbsolutePath) {
  put("a.txt", "absolute\n");
  put("sub/b.txt", "below\n");
  // Run in another directory, so that only the absolute path finds the files.
  mkdirs("out");
  runresult r = runvorpak(path("out"), {"-s4", "save", dir + "/a.txt", dir + "/sub/*"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkall("out/save.zip", {{"a.txt", "absolute\n"}, {"b.txt", "below\n"}});
}

// The path without its leading "/" and without "." or empty components.
std::string relativeform(const std::string &abs) {
  std::string r, comp;
  for (size_t k = 0; k <= abs.size(); k++) {
    if (k == abs.size() || abs[k] == '/') {
      if (!comp.empty() && comp != ".") r += (r.empty() ? "" : "/") + comp;
      comp.clear();
    } else {
      comp += abs[k];
    }
  }
  return r;
}

TEST_F(Selection, AbsolutePathWithRecursionStoresARelativePath) {
  put("sub/b.txt", "below\n");
  mkdirs("out");
  runresult r = runvorpak(path("out"), {"-r", "-s4", "save", dir + "/sub"});
  ASSERT_EQ(r.status, 0) << r.out;
  std::string name = relativeform(dir) + "/sub/b.txt";
  ASSERT_NE(name[0], '/');
  checkall("out/save.zip", {{name, "below\n"}});
}

bool safename(const std::string &n) {
  if (n.empty() || n[0] == '/') return false;
  size_t k = 0;
  for (;;) {
    size_t e = n.find('/', k);
    std::string c = n.substr(k, e == std::string::npos ? std::string::npos : e - k);
    if (c.empty() || c == "." || c == "..") return false;
    if (e == std::string::npos) return true;
    k = e + 1;
  }
}

TEST_F(Selection, DotComponentsAreNotStored) {
  put("a.txt", "top\n");
  put("sub/b.txt", "sub\n");
  put("sub/deep/c.txt", "deep\n");
  runresult r = run({"-r", "-s4", "save", "./a.txt", "sub/./b.txt", "sub//deep/../deep/c.txt"});
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::string> n = names("save.zip");
  ASSERT_EQ(n.size(), 3u);
  for (auto &s : n) EXPECT_TRUE(safename(s)) << s;
  EXPECT_EQ(n[0], "a.txt");
  EXPECT_EQ(n[1], "sub/b.txt");
  EXPECT_EQ(n[2].substr(n[2].size() - 6), "/c.txt");
  checkall("save.zip", {{n[0], "top\n"}, {n[1], "sub\n"}, {n[2], "deep\n"}});
}

TEST_F(Selection, ParentDirectoryPathIsStoredSafely) {
  put("inner/run/keep.txt", "x");   // the run happens in inner/run
  put("inner/up.txt", "from above\n");
  runresult r = runvorpak(path("inner/run"), {"-r", "-s4", "save", "../up.txt"});
  ASSERT_EQ(r.status, 0) << r.out;
  auto e = entries("inner/run/save.zip");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_TRUE(safename(e[0].name)) << e[0].name;
  checkall("inner/run/save.zip", {{e[0].name, "from above\n"}});
}

// ---- "@" list files -----------------------------------------------------------------

TEST_F(Selection, ListFileWithEverySeparator) {
  put("a", "A");
  put("b", "BB");
  put("c", "CCC");
  put("d", "DDDD");
  put("list.txt", "a b\r\nc\td");
  runresult r = run({"-s4", "save", "@list.txt"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkall("save.zip", {{"a", "A"}, {"b", "BB"}, {"c", "CCC"}, {"d", "DDDD"}});
}

TEST_F(Selection, ListFileNamesAndPatternsMix) {
  put("one.txt", "1");
  put("two.txt", "2");
  put("x.c", "int x;\n");
  put("l1", "\r\n\r\n  x.c  \r\n");
  runresult r = run({"-s4", "save", "one.txt", "@l1", "two.txt"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkall("save.zip", {{"one.txt", "1"}, {"x.c", "int x;\n"}, {"two.txt", "2"}});
}

TEST_F(Selection, UnreadableListFileContributesNothing) {
  put("a.txt", "A");
  mkdirs("adir");
  put("empty.lst", "");
  runresult r = run({"-s4", "save", "@missing.lst", "@adir", "@empty.lst", "a.txt"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("missing"), std::string::npos) << r.out;   // no message
  checkall("save.zip", {{"a.txt", "A"}});
  r = run({"-s4", "save", "@missing.lst"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "No files found\n");
}

TEST_F(Selection, ListFileWithUtf8Names) {
  const std::string ete = "\xc3\xa9t\xc3\xa9.txt";          // été.txt
  const std::string snow = "\xe2\x98\x83 snow.txt";        // a blank: not listable
  const std::string kana = "\xe3\x81\x8b\xe3\x81\xaa";     // かな
  put(ete, "summer\n");
  put(kana, "kana\n");
  put(snow, "cold\n");
  put("list", ete + "\n" + kana + "\n");
  runresult r = run({"-s4", "save", "@list"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkall("save.zip", {{ete, "summer\n"}, {kana, "kana\n"}});
}

// ---- The archive itself -------------------------------------------------------------

TEST_F(Selection, ArchiveIsNeverItsOwnInput) {
  put("a.txt", textbytes(400, 21));
  put("b.bin", randombytes(200, 22));
  std::map<std::string, std::string> want = {{"a.txt", textbytes(400, 21)}, {"b.bin", randombytes(200, 22)}};
  runresult r = run({"-s3", "save", "*"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkset("save.zip", want);   // nor is the temporary file beside it
  r = run({"-y", "-s3", "save", "*"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkset("save.zip", want);
  EXPECT_EQ(listdir(), (std::vector<std::string>{"a.txt", "b.bin", "save.zip"}));
}

TEST_F(Selection, ArchiveInASubdirectoryUnderRecursion) {
  put("a.txt", "A");
  put("out/b.txt", "B");
  put("out/save.zip", "OLD");
  runresult r = run({"-r", "-y", "-s4", "out/save.zip"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkset("out/save.zip", {{"a.txt", "A"}, {"out/b.txt", "B"}});
  EXPECT_EQ(listdir("out"), (std::vector<std::string>{"b.txt", "save.zip"}));
}

// ---- Special files ---------------------------------------------------------------------

TEST_F(Selection, FifoIsSkipped) {
  put("a.txt", "A");
  ASSERT_EQ(mkfifo(path("pipe").c_str(), 0666), 0);
  // Opening the FIFO would wait for a writer forever; the guard only turns
  // such a hang into a failure.
  runresult r = runshell(dir, std::string("timeout 60 ") + VORPAK_BIN + " -s4 save </dev/null");
  ASSERT_NE(r.status, 124) << "the run hung on the FIFO";
  ASSERT_EQ(r.status, 0) << r.out;
  checkall("save.zip", {{"a.txt", "A"}});
}

TEST_F(Selection, LinkToAFileIsArchivedAsTheFile) {
  put("real.txt", "real data\n");
  symlinkto("link.txt", "real.txt");
  runresult r = run({"-s4", "save", "real.txt", "link.txt"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkall("save.zip", {{"real.txt", "real data\n"}, {"link.txt", "real data\n"}});
}

// ---- UTF-8 names ---------------------------------------------------------------------

TEST_F(Selection, Utf8NamesAreFlaggedInBothHeaders) {
  const std::string ete = "\xc3\xa9t\xc3\xa9.txt";
  std::string text = textbytes(3000, 23);
  put(ete, text);
  put("plain.txt", text);
  for (const char *s : {"-s4", "-s3"}) {
    runresult r = run({"-y", s, "save", ete, "plain.txt"});
    ASSERT_EQ(r.status, 0) << r.out;
    auto e = entries("save.zip");
    ASSERT_EQ(e.size(), 2u);
    uint16_t base = std::string(s) == "-s4" ? 0 : 2;
    uint16_t method = std::string(s) == "-s4" ? 0 : 8;
    EXPECT_EQ(e[0].method, method) << s;
    EXPECT_EQ(e[0].flags, 0x800 | base) << s;
    EXPECT_EQ(e[0].lflags, 0x800 | base) << s;
    EXPECT_EQ(e[1].flags, base) << s;
    EXPECT_EQ(e[1].lflags, base) << s;
    checkall("save.zip", {{ete, text}, {"plain.txt", text}});
  }
}

TEST_F(Selection, NameThatIsNotUtf8IsNotFlagged) {
  const std::string latin1 = "\xe9t\xe9.txt";   // été.txt in ISO 8859-1
  put(latin1, "latin\n");
  runresult r = run({"-s4", "save", latin1});
  ASSERT_EQ(r.status, 0) << r.out;
  auto e = entries("save.zip");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].name, latin1);
  EXPECT_EQ(e[0].flags, 0);
  EXPECT_EQ(e[0].lflags, 0);
  // Without the flag, readers take the name as code page 437, where 0xE9 is
  // U+0398 (Greek capital theta).
  writefile(scratch + "/x", "latin\n");
  EXPECT_EQ(checkarchive(path("save.zip"), {{"\xce\x98t\xce\x98.txt", scratch + "/x"}}), "");
  EXPECT_EQ(checkinflate(readfile(path("save.zip")), {{latin1, "latin\n"}}), "");
}

TEST_F(Selection, Utf8DirectoryUnderRecursion) {
  const std::string dirname = "\xc3\xbc" "ber";   // über
  put(dirname + "/a.txt", "inside\n");
  runresult r = run({"-r", "-s4", "save", dirname});
  ASSERT_EQ(r.status, 0) << r.out;
  auto e = entries("save.zip");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].flags, 0x800);
  EXPECT_EQ(e[0].lflags, 0x800);
  checkall("save.zip", {{dirname + "/a.txt", "inside\n"}});
}

}  // namespace
