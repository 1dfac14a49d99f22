// File selection on real directories: what findfiles lists, how the table
// and the name pool grow, the MS-DOS times, the entries that are left out,
// the recursion guard, the limits that end a run, and an entry's names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "console/console.h"
#include "driver/driver.h"
#include "files/files.h"
#include "testsupport.h"

namespace {

struct listed {
  std::string dir, name;
  int attr;
  int32_t leng;
};

std::vector<listed> listing() {
  std::vector<listed> v;
  for (int32_t i = 0; i < numfiles; i++)
    v.push_back({fnambuf + zfil[i].filspec, fnambuf + zfil[i].filnam, zfil[i].attr, zfil[i].leng});
  return v;
}

std::multiset<std::string> names() {
  std::multiset<std::string> s;
  for (auto &e : listing()) s.insert(e.name);
  return s;
}

std::string storedname(int32_t i) {
  char buf[namebufsiz];
  genfilnam(buf, i);
  return buf;
}

std::string openpath(int32_t i) {
  char buf[namebufsiz];
  genfilpath(buf, i);
  return buf;
}

int32_t indexof(const std::string &name) {
  for (int32_t i = 0; i < numfiles; i++)
    if (name == fnambuf + zfil[i].filnam) return i;
  return -1;
}

void mkdirs(const std::string &path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path; }

// Sends standard output to path; used inside a child that is about to end.
void redirectstdout(const std::string &path) {
  fflush(stdout);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) abort();
  dup2(fd, 1);
  close(fd);
}

// The driver's entry loop reduced to the walk: every directory entry not
// walked before is listed with "/*" appended to the path it is opened by.
void walkall() {
  for (int32_t i = 0; i < numfiles; i++) {
    if (!(zfil[i].attr & 0x10)) continue;
    std::string path = openpath(i);
    if (walkdir(path.c_str())) findfiles((path + "/*").c_str());
  }
}

class FileList : public ::testing::Test {
 protected:
  std::string home, dir, outdir;

  void SetUp() override {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    home = cwd;
    dir = maketempdir();
    outdir = maketempdir();   // captured output lives outside the listed directory
    ASSERT_EQ(chdir(dir.c_str()), 0);
    lookdirmode = 0;
    messagestream = stdout;
    findfilesinit();
  }
  void TearDown() override {
    lookdirmode = 0;
    ASSERT_EQ(chdir(home.c_str()), 0);
    removetree(dir);
    removetree(outdir);
  }

  // body must end the run: exit status 1 and exactly message on standard output.
  template <typename F>
  void expectfatal(F body, const std::string &message) {
    std::string out = outdir + "/stdout";
    EXPECT_EXIT(
        {
          redirectstdout(out);
          body();
        },
        ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readfile(out), message);
  }

  // body runs in a child (for state that must not outlive the test) and
  // returns what went wrong, or nothing.
  template <typename F>
  void inchild(F body) {
    EXPECT_EXIT(
        {
          std::string problems = body();
          fputs(problems.c_str(), stderr);
          exit(problems.empty() ? 0 : 2);
        },
        ::testing::ExitedWithCode(0), "");
  }
};

// ---- Selection -----------------------------------------------------------

TEST_F(FileList, NameWithoutWildcardsSelectsEveryCaseVariant) {
  writefile("data.txt", "abc");
  writefile("DATA.TXT", "abcde");
  writefile("other.txt", "x");
  findfiles("data.txt");
  auto v = listing();
  ASSERT_EQ(v.size(), 2u);
  std::map<std::string, int32_t> sizes;
  for (auto &e : v) {
    EXPECT_EQ(e.dir, "");
    EXPECT_EQ(e.attr, 0x20);
    sizes[e.name] = e.leng;
  }
  EXPECT_EQ(sizes, (std::map<std::string, int32_t>{{"data.txt", 3}, {"DATA.TXT", 5}}));
}

TEST_F(FileList, StarSelectsDotfilesButNeverDotEntries) {
  writefile(".hidden", "h");
  writefile("plain", "p");
  findfiles("*");
  EXPECT_EQ(names(), (std::multiset<std::string>{".hidden", "plain"}));
  lookdirmode = 1;
  findfilesinit();
  findfiles("*");
  EXPECT_EQ(names(), (std::multiset<std::string>{".hidden", "plain"}));
}

TEST_F(FileList, DirectoriesBecomeEntriesOnlyWithRecursion) {
  mkdirs("sub");
  writefile("sub/inner", "i");
  writefile("file", "f");
  findfiles("*");
  EXPECT_EQ(names(), (std::multiset<std::string>{"file"}));
  findfilesinit();
  findfiles("sub");
  EXPECT_EQ(numfiles, 0);

  lookdirmode = 1;
  findfilesinit();
  findfiles("*");
  ASSERT_EQ(names(), (std::multiset<std::string>{"file", "sub"}));
  EXPECT_EQ(zfil[indexof("sub")].attr, 0x30);
  EXPECT_EQ(zfil[indexof("file")].attr, 0x20);
}

TEST_F(FileList, TrailingSeparatorSelectsTheWholeDirectory) {
  mkdirs("sub");
  writefile("sub/a", "1");
  writefile("sub/B", "22");
  writefile("sub/.c", "333");
  writefile("outside", "o");
  for (const char *pattern : {"sub/", "sub\\"}) {
    findfilesinit();
    findfiles(pattern);
    EXPECT_EQ(names(), (std::multiset<std::string>{"a", "B", ".c"})) << pattern;
    for (int32_t i = 0; i < numfiles; i++) {
      EXPECT_EQ(zfil[i].filspec, zfil[0].filspec);   // one directory part per call
      EXPECT_STREQ(fnambuf + zfil[i].filspec, "sub");
    }
  }
}

TEST_F(FileList, BackslashesInTheDirectoryPartArePooledAsSlashes) {
  mkdirs("one");
  mkdirs("one/two");
  writefile("one/two/f.txt", "data");
  findfiles("one\\two\\*.TXT");
  ASSERT_EQ(numfiles, 1);
  EXPECT_STREQ(fnambuf + zfil[0].filspec, "one/two");
  EXPECT_EQ(openpath(0), "one/two/f.txt");
  EXPECT_EQ(readfile(openpath(0)), "data");
  EXPECT_EQ(storedname(0), "f.txt");
  lookdirmode = 1;
  EXPECT_EQ(storedname(0), "one/two/f.txt");
}

TEST_F(FileList, DirectoryPartTakesPoolBytesEvenWhenNothingMatches) {
  mkdirs("sub");
  std::string out = outdir + "/stdout";
  fflush(stdout);
  int saved = dup(1);
  redirectstdout(out);
  findfiles("nosuch/deeper/x*");   // directory missing
  findfiles("sub/zzz");            // directory present, no match
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  EXPECT_EQ(numfiles, 0);
  EXPECT_EQ(fnamptr, 14 + 4);
  EXPECT_STREQ(fnambuf, "nosuch/deeper");
  EXPECT_STREQ(fnambuf + 14, "sub");
  EXPECT_EQ(readfile(out), "");   // a missing directory is no error
}

TEST_F(FileList, FileMatchedTwiceIsListedTwice) {
  writefile("a", "x");
  findfiles("a");
  findfiles("A");
  ASSERT_EQ(numfiles, 2);
  EXPECT_STREQ(fnambuf + zfil[0].filnam, "a");
  EXPECT_STREQ(fnambuf + zfil[1].filnam, "a");
  EXPECT_NE(zfil[0].filspec, zfil[1].filspec);
}

// ---- Growth of the table and the pool --------------------------------------

TEST_F(FileList, The961stEntryDoublesTheTableKeepingEarlierRecords) {
  std::map<std::string, int32_t> made;
  for (int k = 0; k < 961; k++) {
    char name[16];
    snprintf(name, sizeof name, "f%04d", k);
    writefile(name, std::string((size_t)(k % 13), 'z'));
    made[name] = k % 13;
  }
  findfiles("f*");
  EXPECT_EQ(numfiles, 961);
  EXPECT_EQ(allocfiles, 1920);
  std::map<std::string, int32_t> got;
  for (auto &e : listing()) {
    EXPECT_EQ(e.attr, 0x20);
    got[e.name] = e.leng;
  }
  EXPECT_EQ(got, made);
}

TEST_F(FileList, NamePoolGrowsAndKeepsEveryName) {
  std::set<std::string> made;
  for (int k = 0; k < 300; k++) {
    char prefix[16];
    snprintf(prefix, sizeof prefix, "%03d", k);
    std::string name = prefix + std::string(240, 'n');
    writefile(name, "");
    made.insert(name);
  }
  findfiles("*");
  EXPECT_GT(fnamptr, 65536);
  EXPECT_EQ(allocfnambuf, 131072);
  auto got = names();
  EXPECT_EQ(std::set<std::string>(got.begin(), got.end()), made);
  EXPECT_EQ(got.size(), made.size());
}

// ---- Modification time ------------------------------------------------------

TEST_F(FileList, ModificationTimeInMsDosForm) {
  writefile("stamped", "s");
  struct tm t {};
  t.tm_year = 2004 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 5;
  t.tm_hour = 14;
  t.tm_min = 37;
  t.tm_sec = 59;
  t.tm_isdst = -1;
  struct timeval tv[2] = {{mktime(&t), 0}, {mktime(&t), 0}};
  ASSERT_EQ(utimes("stamped", tv), 0);
  findfiles("stamped");
  ASSERT_EQ(numfiles, 1);
  EXPECT_EQ(zfil[0].tim, 29885);
  EXPECT_EQ(zfil[0].dat, 12389);
}

// ---- Entries left out or kept ---------------------------------------------

TEST_F(FileList, FifosSocketsAndDevicesAreSkipped) {
  writefile("plain", "p");
  ASSERT_EQ(mkfifo("pipe", 0644), 0);
  ASSERT_EQ(symlink("/dev/null", "chardev"), 0);
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(s, 0);
  struct sockaddr_un sa {};
  sa.sun_family = AF_UNIX;
  strcpy(sa.sun_path, "sock");
  ASSERT_EQ(bind(s, (struct sockaddr *)&sa, sizeof sa), 0);
  findfiles("*");
  close(s);
  EXPECT_EQ(names(), (std::multiset<std::string>{"plain"}));
  lookdirmode = 1;
  findfilesinit();
  findfiles("pipe");
  EXPECT_EQ(numfiles, 0);
}

TEST_F(FileList, DanglingSymlinkIsKeptAsEmptyFileOfTimeZero) {
  ASSERT_EQ(symlink("nowhere", "gone"), 0);
  writefile("epoch", "12345");
  struct timeval tv[2] = {{0, 0}, {0, 0}};
  ASSERT_EQ(utimes("epoch", tv), 0);
  findfiles("*");
  ASSERT_EQ(numfiles, 2);
  const zfiltyp &gone = zfil[indexof("gone")];
  const zfiltyp &epoch = zfil[indexof("epoch")];
  EXPECT_EQ(gone.attr, 0x20);
  EXPECT_EQ(gone.leng, 0);
  EXPECT_EQ(gone.tim, epoch.tim);
  EXPECT_EQ(gone.dat, epoch.dat);
  EXPECT_EQ(fopen(openpath(indexof("gone")).c_str(), "rb"), nullptr);   // the driver reports it
}

TEST_F(FileList, ExcludedFileIsSkippedUnderEveryName) {
  writefile("a.txt", "a");
  writefile("out.zip", "archive");
  ASSERT_EQ(link("out.zip", "same.zip"), 0);
  ASSERT_EQ(symlink("out.zip", "ln.zip"), 0);
  inchild([] {
    excludefile("out.zip");
    excludefile("never-made.zip");   // no such file: nothing to leave out
    findfiles("*");
    if (numfiles != 1 || indexof("a.txt") != 0) return std::string("excluded file listed\n");
    return std::string();
  });
}

// ---- Recursion ---------------------------------------------------------------

TEST_F(FileList, WalkdirMarksEachDirectoryOnce) {
  mkdirs("a");
  ASSERT_EQ(symlink("a", "alias"), 0);
  EXPECT_EQ(walkdir("a"), 1);
  EXPECT_EQ(walkdir("a"), 0);
  EXPECT_EQ(walkdir("alias"), 0);
  EXPECT_EQ(walkdir("./a/"), 0);
  EXPECT_EQ(walkdir("."), 1);
  EXPECT_EQ(walkdir(dir.c_str()), 0);
  EXPECT_EQ(walkdir("missing"), 1);
  findfilesinit();   // a new run walks afresh
  EXPECT_EQ(walkdir("a"), 1);
}

TEST_F(FileList, SymlinkLoopsAreWalkedOnce) {
  mkdirs("a");
  mkdirs("a/b");
  writefile("f0", "0");
  writefile("a/f1", "1");
  writefile("a/b/f2", "2");
  ASSERT_EQ(symlink("../..", "a/b/up"), 0);   // back to the top
  ASSERT_EQ(symlink(".", "a/self"), 0);       // a itself
  ASSERT_EQ(symlink("a", "alias"), 0);        // a second name for a
  lookdirmode = 1;
  findfiles("*");
  walkall();
  std::multiset<std::string> files;
  for (int32_t i = 0; i < numfiles; i++)
    if (!(zfil[i].attr & 0x10)) files.insert(fnambuf + zfil[i].filnam);
  EXPECT_EQ(files, (std::multiset<std::string>{"f0", "f1", "f2"}));
  // Links to a directory already walked are not even listed.
  EXPECT_EQ(indexof("up"), -1);
  EXPECT_EQ(indexof("self"), -1);
}

TEST_F(FileList, RecursionListsBreadthFirstWithFullPaths) {
  mkdirs("d");
  mkdirs("d/e");
  writefile("d/e/deep", "deep");
  writefile("d/mid", "mid");
  lookdirmode = 1;
  findfiles("d");
  walkall();
  std::vector<std::string> files;
  for (int32_t i = 0; i < numfiles; i++)
    if (!(zfil[i].attr & 0x10)) files.push_back(storedname(i));
  EXPECT_EQ(files, (std::vector<std::string>{"d/mid", "d/e/deep"}));
  EXPECT_EQ(readfile(openpath(indexof("deep"))), "deep");
}

// ---- Limits that end the run -------------------------------------------------

TEST_F(FileList, FileOf2GiBEndsTheRun) {
  mkdirs("sub");
  int fd = open("sub/big", O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, (off_t)1 << 31), 0);
  close(fd);
  expectfatal([] { findfiles("sub/*"); }, "Error: sub/big is too large (2 GiB or more)\n");
}

TEST_F(FileList, FileJustBelow2GiBIsListed) {
  int fd = open("big", O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, ((off_t)1 << 31) - 1), 0);
  close(fd);
  findfiles("big");
  ASSERT_EQ(numfiles, 1);
  EXPECT_EQ(zfil[0].leng, 2147483647);
}

TEST_F(FileList, PathOf259BytesFitsAnd260EndsTheRun) {
  std::string longname(255, 'n');
  mkdirs("ddd");
  mkdirs("dddd");
  writefile("ddd/" + longname, "fits");
  writefile("dddd/" + longname, "too long");
  findfiles("ddd/*");
  ASSERT_EQ(numfiles, 1);
  EXPECT_EQ(openpath(0), "ddd/" + longname);
  lookdirmode = 1;
  EXPECT_EQ(storedname(0), "ddd/" + longname);
  EXPECT_EQ(readfile(openpath(0)), "fits");
  expectfatal([] { findfiles("dddd/*"); }, "Error: dddd/" + longname + ": path too long\n");
}

TEST_F(FileList, LongDirectoryPartEndsTheRun) {
  std::string part(300, 'x');
  expectfatal([&] { findfiles((part + "/*").c_str()); }, "Error: " + part + ": path too long\n");
}

TEST_F(FileList, DeepRecursionEndsTheRunInsteadOfCuttingNames) {
  std::string seg(100, 's');
  mkdirs(seg);
  mkdirs(seg + "/" + seg);
  mkdirs(seg + "/" + seg + "/" + seg);
  writefile(seg + "/" + seg + "/" + seg + "/leaf", "l");
  lookdirmode = 1;
  expectfatal(
      [] {
        findfiles("*");
        walkall();
      },
      "Error: " + seg + "/" + seg + "/" + seg + ": path too long\n");
}

// ---- Stored names and paths ------------------------------------------------

TEST_F(FileList, StoredNameDropsDotsAndEmptyComponents) {
  mkdirs("a");
  mkdirs("b");
  mkdirs("b/c");
  writefile("b/c/f", "content");
  findfiles("./a/../b//c/*");
  ASSERT_EQ(numfiles, 1);
  EXPECT_EQ(storedname(0), "f");
  lookdirmode = 1;
  EXPECT_EQ(storedname(0), "a/b/c/f");
  EXPECT_EQ(openpath(0), "./a/../b//c/f");
  EXPECT_EQ(readfile(openpath(0)), "content");
}

TEST_F(FileList, StoredNameNeverClimbsThroughABackslashName) {
  mkdirs("sub");
  writefile("sub/..\\..\\evil", "e");
  findfiles("sub/*");
  ASSERT_EQ(numfiles, 1);
  EXPECT_EQ(storedname(0), "evil");
  lookdirmode = 1;
  EXPECT_EQ(storedname(0), "sub/evil");
  EXPECT_EQ(readfile(openpath(0)), "e");
}

TEST_F(FileList, AbsolutePatternIsOpenedAsWritten) {
  mkdirs("sub");
  writefile("sub/f", "absolute");
  ASSERT_EQ(chdir(outdir.c_str()), 0);   // nothing of that name below the current directory
  findfiles((dir + "/sub/*").c_str());
  ASSERT_EQ(numfiles, 1);
  EXPECT_EQ(openpath(0), dir + "/sub/f");
  EXPECT_EQ(readfile(openpath(0)), "absolute");
  EXPECT_EQ(storedname(0), "f");
  lookdirmode = 1;
  std::string stored = storedname(0);
  EXPECT_NE(stored[0], '/');
  EXPECT_EQ("/" + stored, dir + "/sub/f");
}

TEST_F(FileList, PatternBelowTheRootDirectory) {
  std::string top = dir.substr(1, dir.find('/', 1) - 1);   // first component of the temporary path
  ASSERT_FALSE(top.empty());
  lookdirmode = 1;
  findfiles(("/" + top).c_str());
  ASSERT_EQ(numfiles, 1);
  EXPECT_EQ(zfil[0].attr, 0x30);
  EXPECT_EQ(openpath(0), "/" + top);
  EXPECT_EQ(storedname(0), top);
}

// ---- Reading an entry's file ----------------------------------------------

TEST_F(FileList, FreadallReadsExactlyOrEndsTheRun) {
  mkdirs("sub");
  std::string data = randombytes(1000, 7);
  writefile("sub/data", data);
  findfiles("sub/data");
  ASSERT_EQ(numfiles, 1);
  FILE *f = fopen(openpath(0).c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::string buf(1000, '\0');
  freadall(buf.data(), 1000, f, 0);
  EXPECT_EQ(buf, data);
  freadall(buf.data(), 0, f, 0);   // nothing asked, nothing read, no failure
  EXPECT_EQ(ftell(f), 1000);
  fclose(f);
  expectfatal(
      [] {
        FILE *g = fopen("sub/data", "rb");
        static char big[1001];
        freadall(big, 1001, g, 0);
      },
      "Error: sub/data could not be read\n");
}

}  // namespace
