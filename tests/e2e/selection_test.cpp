// Which files a run takes and under which names: recursion, "@" list files,
// paths that leave the current directory, and the archive itself.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>

#include "e2e.h"

namespace {

using Selection = E2E;

TEST_F(Selection, RecursionIsBreadthFirstInTheOrderNamed) {
  std::map<std::string, std::string> tree = {{"f1", "top one\n"},     {"f2", textbytes(500, 20)},
                                             {"d1/g1", "in d1\n"},    {"d2/g2", "in d2\n"},
                                             {"d1/e/h1", "deeper\n"}, {"d1/e/k/m1", "deepest\n"},
                                             {"d2/.dot", "hidden in d2\n"}};
  for (auto &f : tree) put(f.first, f.second);
  mkdirs("empty");
  runresult r = run({"-r", "-s4", "save", "f1", "empty", "d1", "d2"});
  ASSERT_EQ(r.status, 0) << r.out;
  // Directories get no entry of their own; a directory's files come before
  // the contents of its subdirectories, the directories named first before
  // the others at the same level.
  std::vector<std::string> order = names("save.zip");
  ASSERT_EQ(order.size(), 6u) << r.out;
  std::sort(order.begin() + 2, order.begin() + 4);   // d2's two in its listing order
  EXPECT_EQ(order, (std::vector<std::string>{"f1", "d1/g1", "d2/.dot", "d2/g2", "d1/e/h1", "d1/e/k/m1"}));
  size_t adding = 0;   // only files are announced
  for (auto &l : rawlines(r.out)) adding += l.rfind("  Adding: ", 0) == 0;
  EXPECT_EQ(adding, 6u) << r.out;
  tree.erase("f2");
  checkset("save.zip", tree);
  // A pattern decides which directories are entered: not "empty", not f1 or f2.
  r = run({"-y", "-r", "-s4", "save", "d?"});
  ASSERT_EQ(r.status, 0) << r.out;
  tree.erase("f1");
  checkset("save.zip", tree);
}

TEST_F(Selection, EmptyDirectoryGivesAnArchiveWithoutEntries) {
  // The directory counts as selected, so the run goes on and writes an
  // archive that holds nothing but the end record.
  mkdirs("empty");
  runresult r = run({"-r", "-s4", "save", "empty"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "Creating ZIP: save.zip\n" + totalsline(22, 0) + "\n");
  EXPECT_EQ(readfile(path("save.zip")).size(), 22u);
  // unzip -t reports an empty archive as a warning; Python's zipfile reads it.
  runresult p = runshell("/", "python3 " + shq(std::string(VORPAK_TESTDIR) + "/support/checkzip.py") + " " +
                                  shq(path("save.zip")));
  EXPECT_EQ(p.status, 0) << p.out;
}

TEST_F(Selection, NamesStoredAreRelativeAndNeverClimb) {
  put("run/a.txt", "top\n");   // the runs happen in run
  put("run/sub/deep/c.txt", "deep\n");
  put("up.txt", "from above\n");
  put("abs/b.txt", "absolute\n");
  // Without -r only the base name is stored.
  runresult r = runvorpak(path("run"), {"-s4", "save", "../up.txt", dir + "/abs/*", "sub/deep/c.txt"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkall("run/save.zip", {{"up.txt", "from above\n"}, {"b.txt", "absolute\n"}, {"c.txt", "deep\n"}});
  // With -r the path is stored, without a leading "/", "." or "..".
  r = runvorpak(path("run"),
                {"-y", "-r", "-s4", "save", "./a.txt", "sub//deep/../deep/c.txt", dir + "/abs", "../up.txt"});
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::string> n = names("run/save.zip");
  ASSERT_EQ(n.size(), 4u);
  EXPECT_EQ(n[0], "a.txt");
  EXPECT_EQ(n[1].substr(n[1].size() - 6), "/c.txt");
  // The directory's contents come last; its path without "/", "." or "//".
  EXPECT_EQ(n[3], std::filesystem::path(dir + "/abs/b.txt").lexically_normal().relative_path());
  for (auto &s : n) {
    EXPECT_NE(s[0], '/') << s;
    EXPECT_EQ(("/" + s + "/").find("/./"), std::string::npos) << s;
    EXPECT_EQ(("/" + s + "/").find("/../"), std::string::npos) << s;
  }
  checkall("run/save.zip", {{n[0], "top\n"}, {n[1], "deep\n"}, {n[2], "from above\n"}, {n[3], "absolute\n"}});
}

TEST_F(Selection, ListFilesMixWithNamesAndPatterns) {
  const std::string ete = "\xc3\xa9t\xc3\xa9.txt";   // été.txt
  namedata want = {{"one.txt", "1"}, {"a", "A"}, {"b", "BB"}, {"c", "CCC"}, {ete, "summer\n"},
                   {"x.c", "int x;\n"}, {"two.txt", "2"}};
  for (auto &f : want) put(f.first, f.second);
  put("list", "a b\r\nc\t" + ete + "\n\n  *.c  \r\n");   // every separator, runs of them, a pattern
  put("empty.lst", "");
  mkdirs("adir");
  // Lists that cannot be read or hold nothing contribute nothing, silently.
  runresult r = run({"-s4", "save", "one.txt", "@missing.lst", "@adir", "@list", "@empty.lst", "two.txt"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("missing"), std::string::npos) << r.out;
  checkall("save.zip", want);
}

TEST_F(Selection, ArchiveIsNeverItsOwnInput) {
  std::map<std::string, std::string> want = {{"a.txt", textbytes(400, 21)}, {"b.bin", randombytes(200, 22)}};
  for (auto &f : want) put(f.first, f.second);
  put("out/c.txt", "C");
  put("out/save.zip", "OLD");
  // Under recursion, in a subdirectory.
  runresult r = run({"-r", "-y", "-s4", "out/save.zip"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkset("out/save.zip", {{"a.txt", want["a.txt"]}, {"b.bin", want["b.bin"]}, {"out/c.txt", "C"}});
  EXPECT_EQ(listdir("out"), (std::vector<std::string>{"c.txt", "save.zip"}));
  // Made afresh and replaced: nor is the temporary file beside it an input.
  for (int k = 0; k < 2; k++) {
    r = run({"-y", "-s3", "save", "*"});
    ASSERT_EQ(r.status, 0) << r.out;
    checkset("save.zip", want);
  }
  EXPECT_EQ(listdir(), (std::vector<std::string>{"a.txt", "b.bin", "out", "save.zip"}));
}

}  // namespace

namespace {

// Modification times outside what the MS-DOS form holds (1980-01-01 00:00:00
// to 2107-12-31 23:59:58, local time) are stored as the nearer end; times
// just inside each end are stored exactly.
TEST_F(Selection, DatesOutsideTheDosRangeAreClamped) {
  struct when {
    const char *name;
    int year, mon, day, hour, min, sec;
    uint16_t date, time;
  };
  const uint16_t first = 1 + 1 * 32, last = 31 + 127 * 512 + 12 * 32, lasttime = 23 * 2048 + 59 * 32 + 29;
  const when cases[] = {
      {"y1975", 1975, 6, 1, 12, 0, 0, first, 0},   {"y1980", 1980, 1, 1, 0, 0, 0, first, 0},
      {"y1980s2", 1980, 1, 1, 0, 0, 2, first, 1},  {"y2107", 2107, 12, 31, 23, 59, 56, last, lasttime - 1},
      {"y2107end", 2107, 12, 31, 23, 59, 58, last, lasttime}, {"y2110", 2110, 3, 1, 8, 0, 0, last, lasttime},
  };
  namedata files;
  std::vector<std::string> args = {"-y", "-s4", "save"};
  for (auto &c : cases) {
    put(c.name, c.name);
    tm t{};
    t.tm_year = c.year - 1900, t.tm_mon = c.mon - 1, t.tm_mday = c.day;
    t.tm_hour = c.hour, t.tm_min = c.min, t.tm_sec = c.sec, t.tm_isdst = -1;
    timespec ts[2] = {{mktime(&t), 0}, {mktime(&t), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path(c.name).c_str(), ts, 0), 0) << c.name;
    files.push_back({c.name, c.name});
    args.push_back(c.name);
  }
  ASSERT_EQ(run(args).status, 0);
  checkall("save.zip", files);
  auto got = entries("save.zip");
  ASSERT_EQ(got.size(), std::size(cases));
  for (size_t k = 0; k < got.size(); k++) {
    EXPECT_EQ(got[k].date, cases[k].date) << cases[k].name;
    EXPECT_EQ(got[k].time, cases[k].time) << cases[k].name;
  }
}

}  // namespace
