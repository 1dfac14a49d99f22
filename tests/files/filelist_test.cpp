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

std::string nameof(int32_t i) { return fnambuf + zfil[i].filnam; }

std::multiset<std::string> names() {
  std::multiset<std::string> s;
  for (int32_t i = 0; i < numfiles; i++) s.insert(nameof(i));
  return s;
}

std::map<std::string, int32_t> sizes() {
  std::map<std::string, int32_t> m;
  for (int32_t i = 0; i < numfiles; i++) m[nameof(i)] = zfil[i].leng;
  return m;
}

std::string storedname(int32_t i) {
  char buf[namebufsiz];
  return genfilnam(buf, i), buf;
}

std::string openpath(int32_t i) {
  char buf[namebufsiz];
  return genfilpath(buf, i), buf;
}

int32_t indexof(const std::string &name) {
  for (int32_t i = 0; i < numfiles; i++)
    if (name == nameof(i)) return i;
  return -1;
}

void mkdirs(const std::string &path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path; }

void makesize(const char *path, off_t size) {
  int fd = open(path, O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, size), 0);   // sparse: no 2 GiB written
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
    EXPECT_EXIT((redirectstdout(out), body()), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readfile(out), message);
  }
};

// ---- Selection -----------------------------------------------------------

TEST_F(FileList, NameWithoutWildcardsSelectsEveryCaseVariantOncePerCall) {
  writefile("data.txt", "abc");
  writefile("DATA.TXT", "abcde");
  writefile("other.txt", "x");
  findfiles("data.txt");
  EXPECT_EQ(sizes(), (std::map<std::string, int32_t>{{"data.txt", 3}, {"DATA.TXT", 5}}));
  findfiles("Data.Txt");   // a second match is a second entry, with its own directory part
  ASSERT_EQ(numfiles, 4);
  EXPECT_EQ(names(), (std::multiset<std::string>{"data.txt", "data.txt", "DATA.TXT", "DATA.TXT"}));
  EXPECT_NE(zfil[0].filspec, zfil[2].filspec);
  for (int32_t i = 0; i < numfiles; i++) {
    EXPECT_STREQ(fnambuf + zfil[i].filspec, "");
    EXPECT_EQ(zfil[i].attr, 0x20);
  }
}

// The directory part is pooled with "/" for a backslash, once per call; a
// pattern ending in a separator selects the whole directory.
TEST_F(FileList, DirectoryPartIsPooledWithSlashesAndAnEmptyPatternTakesAll) {
  mkdirs("one");
  mkdirs("one/two");
  writefile("one/two/a", "1");
  writefile("one/two/B", "22");
  writefile("one/two/.c", "333");
  writefile("one/outside", "o");
  for (const char *pattern : {"one/two/", "one\\two\\", "one\\two/*"}) {
    SCOPED_TRACE(pattern);
    lookdirmode = 0;
    findfilesinit();
    findfiles(pattern);
    EXPECT_EQ(sizes(), (std::map<std::string, int32_t>{{"a", 1}, {"B", 2}, {".c", 3}}));
    EXPECT_STREQ(fnambuf + zfil[0].filspec, "one/two");
    for (int32_t i = 0; i < numfiles; i++) {
      EXPECT_EQ(zfil[i].filspec, zfil[0].filspec);
      EXPECT_EQ(readfile(openpath(i)).size(), (size_t)zfil[i].leng);
    }
    int32_t b = indexof("B");
    EXPECT_EQ(storedname(b), "B");
    lookdirmode = 1;
    EXPECT_EQ(storedname(b), "one/two/B");
  }
}

TEST_F(FileList, DirectoryPartTakesPoolBytesEvenWhenNothingMatches) {
  mkdirs("sub");
  fflush(stdout);
  int saved = dup(1);
  redirectstdout(outdir + "/stdout");
  findfiles("nosuch/deeper/x*");   // directory missing
  findfiles("sub/zzz");            // directory present, no match
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  EXPECT_EQ(numfiles, 0);
  EXPECT_EQ(fnamptr, 14 + 4);
  EXPECT_STREQ(fnambuf, "nosuch/deeper");
  EXPECT_STREQ(fnambuf + 14, "sub");
  EXPECT_EQ(readfile(outdir + "/stdout"), "");   // a missing directory is no error
}

// The 961st record doubles the table; names of 70 pool bytes each outgrow
// the 64 KiB pool on the way. Both move, so every record must survive.
TEST_F(FileList, TableAndPoolGrowKeepingEveryRecord) {
  std::map<std::string, int32_t> made;
  for (int k = 0; k < 961; k++) {
    char name[16];
    snprintf(name, sizeof name, "f%04d", k);
    std::string full = name + std::string(64, 'z');
    writefile(full, std::string((size_t)(k % 13), 'z'));
    made[full] = k % 13;
  }
  findfiles("f*");
  EXPECT_EQ(numfiles, 961);
  EXPECT_EQ(allocfiles, 1920);
  EXPECT_GT(fnamptr, 65536);
  EXPECT_EQ(allocfnambuf, 131072);
  EXPECT_EQ(sizes(), made);
  for (int32_t i = 0; i < numfiles; i++) EXPECT_EQ(zfil[i].attr, 0x20);
}

TEST_F(FileList, ModificationTimeInMsDosForm) {
  writefile("stamped", "s");
  struct tm t {};
  t.tm_year = 2004 - 1900, t.tm_mon = 2, t.tm_mday = 5;
  t.tm_hour = 14, t.tm_min = 37, t.tm_sec = 59, t.tm_isdst = -1;
  struct timeval tv[2] = {{mktime(&t), 0}, {mktime(&t), 0}};
  ASSERT_EQ(utimes("stamped", tv), 0);
  findfiles("stamped");
  ASSERT_EQ(numfiles, 1);
  EXPECT_EQ(zfil[0].tim, 29885);   // 14:37:58, seconds halved
  EXPECT_EQ(zfil[0].dat, 12389);   // 2004-03-05, years from 1980
}

// ---- Entries left out or kept ---------------------------------------------

// Dotfiles are listed, "." and ".." never, directories only with recursion.
// Reading a FIFO, socket or device would hang or never end: they are left
// out. A dangling link is kept as an empty file of time 0; opening it fails
// later with a message naming it.
TEST_F(FileList, WhatAListingKeepsAndLeavesOut) {
  writefile(".hidden", "h");
  mkdirs("sub");
  writefile("sub/inner", "i");
  writefile("epoch", "12345");
  struct timeval tv[2] = {{0, 0}, {0, 0}};
  ASSERT_EQ(utimes("epoch", tv), 0);
  ASSERT_EQ(symlink("nowhere", "gone"), 0);
  ASSERT_EQ(mkfifo("pipe", 0644), 0);
  ASSERT_EQ(symlink("/dev/null", "chardev"), 0);
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(s, 0);
  struct sockaddr_un sa {};
  sa.sun_family = AF_UNIX;
  strcpy(sa.sun_path, "sock");
  ASSERT_EQ(bind(s, (struct sockaddr *)&sa, sizeof sa), 0);
  findfiles("*");
  findfiles("sub");
  ASSERT_EQ(names(), (std::multiset<std::string>{".hidden", "epoch", "gone"}));
  const zfiltyp &gone = zfil[indexof("gone")], &epoch = zfil[indexof("epoch")];
  EXPECT_EQ(gone.attr, 0x20);
  EXPECT_EQ(gone.leng, 0);
  EXPECT_EQ(gone.tim, epoch.tim);
  EXPECT_EQ(gone.dat, epoch.dat);
  EXPECT_EQ(fopen(openpath(indexof("gone")).c_str(), "rb"), nullptr);

  lookdirmode = 1;   // "*" matches "." and "..", which must still not be listed
  findfilesinit();
  findfiles("*");
  close(s);
  ASSERT_EQ(names(), (std::multiset<std::string>{".hidden", "epoch", "gone", "sub"}));
  EXPECT_EQ(zfil[indexof("sub")].attr, 0x30);
  EXPECT_EQ(zfil[indexof("epoch")].attr, 0x20);
}

TEST_F(FileList, ExcludedFileIsSkippedUnderEveryName) {
  writefile("a.txt", "a");
  writefile("out.zip", "archive");
  ASSERT_EQ(link("out.zip", "same.zip"), 0);
  ASSERT_EQ(symlink("out.zip", "ln.zip"), 0);
  // In a child: the exclusions last for the process.
  EXPECT_EXIT(
      {
        excludefile("out.zip");
        excludefile("never-made.zip");   // no such file: nothing to leave out
        findfiles("*");
        exit(numfiles == 1 && indexof("a.txt") == 0 ? 0 : 2);
      },
      ::testing::ExitedWithCode(0), "");
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
  for (int32_t i = 0; i < numfiles; i++) {
    if (zfil[i].attr & 0x10) continue;
    files.insert(nameof(i));
    // Entries found below carry the full path, both opened and stored.
    EXPECT_EQ(readfile(openpath(i)), nameof(i).substr(1));
    EXPECT_EQ(storedname(i), openpath(i));
  }
  EXPECT_EQ(files, (std::multiset<std::string>{"f0", "f1", "f2"}));
  // Links to a directory already walked are not even listed.
  EXPECT_EQ(indexof("up"), -1);
  EXPECT_EQ(indexof("self"), -1);
}

// ---- Limits that end the run -------------------------------------------------

TEST_F(FileList, SizeFrom2GiBOrPathFrom260BytesEndsTheRun) {
  makesize("big", ((off_t)1 << 31) - 1);
  std::string longname(255, 'n');
  mkdirs("ddd");
  writefile("ddd/" + longname, "fits");
  findfiles("big");
  findfiles("ddd/*");
  ASSERT_EQ(numfiles, 2);
  EXPECT_EQ(zfil[0].leng, 2147483647);
  lookdirmode = 1;
  EXPECT_EQ(storedname(1), "ddd/" + longname);
  EXPECT_EQ(readfile(openpath(1)), "fits");

  mkdirs("sub");
  makesize("sub/big", (off_t)1 << 31);
  expectfatal([] { findfiles("sub/*"); }, "Error: sub/big is too large (2 GiB or more)\n");
  mkdirs("dddd");
  writefile("dddd/" + longname, "too long");
  expectfatal([] { findfiles("dddd/*"); }, "Error: dddd/" + longname + ": path too long\n");
  std::string part(300, 'x');   // too long before any directory is opened
  expectfatal([&] { findfiles((part + "/*").c_str()); }, "Error: " + part + ": path too long\n");
}

// ---- Stored names and paths ------------------------------------------------

TEST_F(FileList, StoredNameDropsDotsEmptyComponentsAndBackslashClimbs) {
  mkdirs("a");
  mkdirs("b");
  mkdirs("b/c");
  writefile("b/c/f", "content");
  writefile("b/c/..\\..\\evil", "e");
  writefile("b/c/..\\..", "nothing left");
  findfiles("./a/../b//c/*");
  ASSERT_EQ(numfiles, 3);
  int32_t f = indexof("f"), evil = indexof("..\\..\\evil");
  EXPECT_EQ(storedname(f), "f");
  EXPECT_EQ(storedname(evil), "evil");
  EXPECT_EQ(storedname(indexof("..\\..")), "_");   // an entry still needs a name
  lookdirmode = 1;
  EXPECT_EQ(storedname(f), "a/b/c/f");
  EXPECT_EQ(storedname(evil), "a/b/c/evil");
  EXPECT_EQ(readfile(openpath(f)), "content");   // opened as written
  EXPECT_EQ(readfile(openpath(evil)), "e");
}

TEST_F(FileList, AbsolutePatternsAreOpenedAsWrittenAndStoredRelative) {
  mkdirs("sub");
  writefile("sub/f", "absolute");
  ASSERT_EQ(chdir(outdir.c_str()), 0);   // nothing of that name below the current directory
  findfiles((dir + "/sub/*").c_str());
  ASSERT_EQ(numfiles, 1);
  EXPECT_EQ(readfile(openpath(0)), "absolute");
  EXPECT_EQ(storedname(0), "f");
  lookdirmode = 1;
  EXPECT_EQ("/" + storedname(0), dir + "/sub/f");

  // Below the root the directory part is "/" itself: no doubled separator.
  std::string top = dir.substr(1, dir.find('/', 1) - 1);
  ASSERT_FALSE(top.empty());
  findfilesinit();
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
        static char big[1001];
        freadall(big, 1001, fopen("sub/data", "rb"), 0);
      },
      "Error: sub/data could not be read\n");
}

}  // namespace
