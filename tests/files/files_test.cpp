// File selection on real directories: wildcards, what a listing keeps and
// leaves out, recursion, the limits that end a run, MS-DOS times and the
// names of an entry.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>

#include "files/files.h"
#include "testsupport.h"

namespace {

TEST(Wildmatch, Cases) {
  struct wcase {
    const char *pattern, *name;
    bool result;
  };
  const wcase cases[] = {
      {"B?D", "bad", 1}, {"B?D", "bd", 0}, {"B?D", "badd", 0}, {"?", "", 0}, {"a", "ab", 0}, {"ab", "a", 0},
      {"*x", "abc", 0}, {"abc*", "abc", 1}, {"", "anything", 1}, {"*", "", 1}, {"**", "", 1}, {"*?", "", 0},
      {"*", ".profile", 1}, {"*", "..", 1}, {"*.*", "noext", 0}, {"*.c", "a.c.bak", 0},
      // ASCII letters fold; their neighbours differ by the case bit but are not letters.
      {"*.TXT", "notes.txt", 1}, {"abcxyz", "ABCXYZ", 1}, {"@", "`", 0}, {"[", "{", 0}, {"_", "\x7f", 0},
      // Either separator matches either; bytes from 0x80 compare exactly.
      {"a/b", "a\\b", 1}, {"\\", "/", 1}, {"/", "|", 0}, {"\xc9", "\xe9", 0}, {"A", "\xc1", 0},
      {"??", "\xc3\xa9", 1}, {"*\xa9", "caf\xc3\xa9", 1},
      // Several stars backtrack over every start.
      {"*a*b*c*", "xaybzc", 1}, {"*a*b*c*", "xaybz", 0}, {"a*a*a", "aaaa", 1}, {"a*a*a", "aa", 0},
      {"?*?", "a", 0}, {"*a?c*", "xxabdabcxx", 1}, {"a*a*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaa", 0}};
  for (const wcase &c : cases) EXPECT_EQ(wildmatch(c.name, c.pattern), c.result) << c.pattern << " / " << c.name;
}

class FileList : public ::testing::Test {
 protected:
  std::string dir, old;
  void SetUp() override {
    dir = maketempdir();
    old = std::filesystem::current_path();
    std::filesystem::current_path(dir);
  }
  void TearDown() override {
    std::filesystem::current_path(old);
    removetree(dir);
  }
  static void put(const std::string &path, const std::string &data = "x") {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path().empty() ? "." : std::filesystem::path(path).parent_path());
    writefile(path, data);
  }
  // Every entry of the list as "stored name:attr", in list order.
  static std::vector<std::string> names(filelist &f) {
    std::vector<std::string> v;
    for (int32_t i = 0; i < f.count(); i++) {
      std::string n;
      EXPECT_TRUE(f.storedname(i, n));
      v.push_back(n + (f[i].attr == 0x30 ? "/" : ""));
    }
    return v;
  }
};

// Dotfiles are listed, "." and ".." never, directories only with recursion;
// FIFOs are left out (reading one would hang); a dangling link is kept as an
// empty file, to fail when it is opened.
TEST_F(FileList, WhatAListingKeepsAndLeavesOut) {
  put("a.txt");
  put(".dot");
  put("Sub/inner");
  put("excluded.zip");
  ASSERT_EQ(mkfifo("fifo", 0666), 0);
  ASSERT_EQ(symlink("nowhere", "dangling"), 0);
  ASSERT_EQ(symlink("excluded.zip", "link.zip"), 0);
  for (bool recurse : {false, true}) {
    filelist f(recurse);
    f.exclude("excluded.zip");   // under every name
    ASSERT_TRUE(f.add("*"));
    std::vector<std::string> got = names(f), want = {".dot", "a.txt", "dangling"};
    if (recurse) want.push_back("Sub/");
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    for (int32_t i = 0; i < f.count(); i++) EXPECT_TRUE(std::string(f.name(i)) != "dangling" || f[i].size == 0);
  }
  filelist f(false);
  // The pattern folds case; an empty pattern takes all; "\\" separates.
  ASSERT_TRUE(f.add("Sub/INNER") && f.add("Sub\\") && f.add("nodir/*"));
  ASSERT_EQ(names(f), (std::vector<std::string>{"inner", "inner"}));
  EXPECT_EQ(std::string(f.dirpart(1)), "Sub");
}

// Breadth-first in the order named; a directory reached twice (a second
// name, a link back up) is walked once; stored names keep the path without
// empty, "." and ".." parts, and never begin with "/".
TEST_F(FileList, RecursionAndStoredNames) {
  put("d1/d2/b");
  put("top");
  ASSERT_EQ(symlink("..", "d1/d2/up"), 0);
  filelist f(true);
  ASSERT_TRUE(f.add("top") && f.add("./d1/../d1"));
  for (int32_t i = 0; i < f.count(); i++) {
    std::string p;
    ASSERT_TRUE(f.path(i, p));
    if (f[i].attr & 0x10 && f.walk(p.c_str())) {
      ASSERT_TRUE(f.add((p + "/*").c_str()));
    }
  }
  EXPECT_EQ(names(f), (std::vector<std::string>{"top", "d1/d1/", "d1/d1/d2/", "d1/d1/d2/b"}));
  std::string p;
  ASSERT_TRUE(f.path(3, p));
  EXPECT_EQ(p, "./d1/../d1/d2/b");
  filelist abs(true);
  ASSERT_TRUE(abs.add((dir + "/top").c_str()) && abs.storedname(0, p));
  EXPECT_EQ(p, dir.substr(1) + "/top");
  filelist dots(true);
  put("...");
  ASSERT_TRUE(dots.add("..") && dots.add("./.") && dots.add("...") && dots.storedname(0, p));
  EXPECT_EQ(p, "...");
}

TEST_F(FileList, LimitsEndTheRunWithTheirMessage) {
  const std::string longdir = std::string(200, 'd'), longname = std::string(70, 'n');
  put(longdir + "/" + longname);
  int fd = open("big", O_WRONLY | O_CREAT, 0644);
  ASSERT_EQ(ftruncate(fd, toolarge), 0);   // sparse: nothing written
  close(fd);
  fd = open("fits", O_WRONLY | O_CREAT, 0644);
  ASSERT_EQ(ftruncate(fd, toolarge - 1), 0);
  close(fd);
  const std::pair<std::string, std::string> cases[] = {
      {longdir + "/*", "Error: " + longdir + "/" + longname + ": path too long\n"},
      {std::string(260, 'p') + "/x", "Error: " + std::string(260, 'p') + ": path too long\n"},
      {"big", "Error: big is too large (2 GiB or more)\n"}};
  for (auto &[spec, message] : cases) {
    filelist f(false);
    EXPECT_FALSE(f.add(spec.c_str()));
    EXPECT_EQ(f.error(), message);
  }
  filelist f(false);
  EXPECT_TRUE(f.add("fits") && f.count() == 1 && f[0].size == toolarge - 1);
}

// MS-DOS time and date in local time; outside 1980-01-01 00:00:00 to
// 2107-12-31 23:59:58 the nearer end.
TEST_F(FileList, ModificationTimes) {
  struct when {
    int year, mon, day, hour, min, sec;
    uint16_t date, time;
  };
  const uint16_t last = 31 + 127 * 512 + 12 * 32, lasttime = 23 * 2048 + 59 * 32 + 29;
  const when cases[] = {{2004, 3, 5, 14, 37, 59, 5 + 24 * 512 + 3 * 32, 14 * 2048 + 37 * 32 + 29},
                        {1975, 6, 1, 12, 0, 0, 33, 0},          {1980, 1, 1, 0, 0, 0, 33, 0},
                        {1980, 1, 1, 0, 0, 2, 33, 1},           {2107, 12, 31, 23, 59, 56, last, lasttime - 1},
                        {2107, 12, 31, 23, 59, 58, last, lasttime}, {2110, 3, 1, 8, 0, 0, last, lasttime}};
  for (auto &c : cases) {
    tm t{};
    t.tm_year = c.year - 1900, t.tm_mon = c.mon - 1, t.tm_mday = c.day;
    t.tm_hour = c.hour, t.tm_min = c.min, t.tm_sec = c.sec, t.tm_isdst = -1;
    timespec ts[2] = {{mktime(&t), 0}, {mktime(&t), 0}};
    put("f");
    ASSERT_EQ(utimensat(AT_FDCWD, "f", ts, 0), 0);
    filelist f(false);
    ASSERT_TRUE(f.add("f"));
    EXPECT_EQ(std::make_pair(f[0].date, f[0].time), std::make_pair(c.date, c.time)) << c.year;
  }
}

}  // namespace
