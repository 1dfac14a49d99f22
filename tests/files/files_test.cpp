// File selection on real directories: wildcards, listings, limits, times, names.
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
  const std::tuple<const char *, const char *, bool> cases[] = {
      {"B?D", "bad", 1}, {"B?D", "bd", 0}, {"B?D", "badd", 0}, {"?", "", 0}, {"a", "ab", 0}, {"ab", "a", 0},
      {"*x", "abc", 0}, {"abc*", "abc", 1}, {"", "anything", 1}, {"*", "", 1}, {"**", "", 1}, {"*?", "", 0},
      {"*", ".profile", 1}, {"*.*", "noext", 0}, {"*.c", "a.c.bak", 0},
      // ASCII letters fold; their neighbours differ by the case bit but are not letters.
      {"*.TXT", "notes.txt", 1}, {"abcxyz", "ABCXYZ", 1}, {"@", "`", 0}, {"[", "{", 0}, {"_", "\x7f", 0},
      // Either separator matches either; bytes from 0x80 compare exactly.
      {"a/b", "a\\b", 1}, {"\\", "/", 1}, {"/", "|", 0}, {"\xc9", "\xe9", 0}, {"A", "\xc1", 0}, {"??", "\xc3\xa9", 1},
      // Several stars backtrack over every start.
      {"*a*b*c*", "xaybzc", 1}, {"*a*b*c*", "xaybz", 0}, {"a*a*a", "aaaa", 1}, {"a*a*a", "aa", 0}, {"?*?", "a", 0},
      {"*a?c*", "xxabdabcxx", 1}, {"a*a*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaa", 0}};
  for (auto &[p, n, r] : cases) EXPECT_EQ(wildmatch(n, p), r) << p << " / " << n;
}

class FileList : public ::testing::Test {
 protected:
  std::string dir = maketempdir(), old = std::filesystem::current_path();
  void SetUp() override { std::filesystem::current_path(dir); }
  void TearDown() override { std::filesystem::current_path(old), removetree(dir); }
  static void put(const std::string &p, const std::string &data = "x") {
    std::filesystem::create_directories(std::filesystem::path("./" + p).parent_path());
    writefile(p, data);
  }
  static selectoptions recursive(bool r = true) {
    selectoptions o;
    o.recurse = r;
    return o;
  }
  // Every entry's stored name ("/" behind a directory), in list order.
  static std::vector<std::string> names(filelist &f) {
    std::vector<std::string> v;
    for (std::string n; (int32_t)v.size() < f.count();)
      v.push_back(f.storedname((int32_t)v.size(), n) ? n + (f[(int32_t)v.size()].kind == entrykind::directory ? "/" : "") : "?");
    return v;
  }
  // The specs added, the directories walked: the members' names.
  static std::vector<std::string> members(filelist &f, std::vector<std::string> specs) {
    std::vector<std::string> unlistable, v;
    std::vector<member> m;
    for (auto &s : specs) EXPECT_TRUE(f.add(s.c_str())) << s;
    EXPECT_TRUE(f.expand(unlistable) && unlistable.empty() && f.members(m));
    for (auto &x : m) v.push_back(x.name);
    return v;
  }
};

// Dotfiles listed, "." and ".." never, directories with -r, FIFOs never; a
// dangling link is kept, to fail when opened. The listing is in byte order.
TEST_F(FileList, WhatAListingKeepsAndLeavesOut) {
  for (auto p : {"a.txt", ".dot", "Sub/inner", "excluded.zip"}) put(p);
  ASSERT_TRUE(!mkfifo("fifo", 0666) && !symlink("nowhere", "dangling") && !symlink("excluded.zip", "link.zip"));
  for (bool recurse : {false, true}) {
    filelist f(recursive(recurse));
    f.exclude("excluded.zip");
    found fd;
    ASSERT_TRUE(f.add("*", &fd));
    std::vector<std::string> want = {".dot", "a.txt", "dangling"};
    if (recurse) want.insert(want.begin() + 1, "Sub/");
    EXPECT_EQ(names(f), want);
    // Matched: all but "." and ".."; the FIFO and (without -r) the directory left out for their type.
    EXPECT_EQ(std::make_tuple(fd.matched, fd.taken, fd.special, fd.directories, fd.opened), std::make_tuple(7, (int)want.size(), 1, recurse ? 0 : 1, true));
    for (int32_t i = 0; i < f.count(); i++) EXPECT_TRUE(std::string(f.name(i)) != "dangling" || (f[i].size == 0 && f[i].mode == 0));
  }
  // The pattern folds case; an empty pattern takes all; "\" separates.
  filelist f(recursive(false));
  found fd;
  ASSERT_TRUE(f.add("Sub/INNER") && f.add("Sub\\") && f.add("nodir/*", &fd));
  ASSERT_EQ(names(f), (std::vector<std::string>{"inner", "inner"}));
  EXPECT_EQ(std::string(f.dirpart(1)), "Sub");
  EXPECT_EQ(std::make_tuple(fd.opened, fd.error, fd.matched), std::make_tuple(false, ENOENT, 0));
}

// A directory reached twice is walked once, breadth first, each listing in
// byte order; stored names lose empty, "." and ".." parts and never begin
// with "/"; a directory with nothing to archive is a member of its own.
TEST_F(FileList, RecursionAndStoredNames) {
  put("d1/d2/b");
  put("top");
  put("...");
  put("d1/zz");
  ASSERT_EQ(mkdir("d1/d2/e", 0755), 0);
  ASSERT_EQ(symlink("..", "d1/d2/up"), 0);
  filelist f(recursive());
  EXPECT_EQ(members(f, {"top", "./d1/../d1", "..", "./.", "..."}), (std::vector<std::string>{"top", "...", "d1/d1/zz", "d1/d1/d2/b", "d1/d1/d2/e/"}));
  EXPECT_EQ(names(f), (std::vector<std::string>{"top", "d1/d1/", "...", "d1/d1/d2/", "d1/d1/zz", "d1/d1/d2/b", "d1/d1/d2/e/"}));
  std::string p;
  EXPECT_TRUE(f.path(5, p) && p == "./d1/../d1/d2/b") << p;
  filelist abs(recursive());
  EXPECT_TRUE(abs.add((dir + "/top").c_str()) && abs.storedname(0, p) && p == dir.substr(1) + "/top") << p;
  // The directory a pattern is matched in counts as walked too.
  put("loop/a/x");
  ASSERT_EQ(symlink("../..", "loop/a/home"), 0);
  filelist l(recursive());
  EXPECT_EQ(members(l, {"loop"}), (std::vector<std::string>{"loop/a/x"}));
}

// Exclusions match the stored name or any component of it, and a directory
// whose files are all left out is a member of its own. One file named twice
// under one name (another path, another case, a hard link) is one member.
TEST_F(FileList, ExclusionsAndFilesNamedTwice) {
  for (auto p : {"src/a.c", "src/a.o", "src/.git/HEAD", ".git/config", "build/out/x", "keep/build.txt"}) put(p);
  selectoptions o = recursive();
  o.excludes = {"*.o", ".git", "build/*"};
  filelist f(o);
  EXPECT_EQ(members(f, {"*"}), (std::vector<std::string>{"build/", "keep/build.txt", "src/a.c"}));
  ASSERT_EQ(link("src/a.c", "c"), 0);
  filelist g(recursive(false));
  EXPECT_EQ(members(g, {"src/a.c", "./src/a.c", "src/A.C", "c", "src/../c"}), (std::vector<std::string>{"a.c", "c"}));
}

TEST_F(FileList, LimitsEndTheRunWithTheirMessage) {
  const std::string longdir(200, 'd'), longname(70, 'n'), p260(260, 'p');
  put(longdir + "/" + longname);
  const std::pair<std::string, std::string> cases[] = {{longdir + "/*", "Error: " + longdir + "/" + longname + ": path too long\n"},
                                                       {p260 + "/x", "Error: " + p260 + ": path too long\n"}};
  for (auto &[spec, message] : cases) {
    filelist f(recursive(false));
    EXPECT_FALSE(f.add(spec.c_str()));
    EXPECT_EQ(f.error(), message);
  }
}

// MS-DOS time in local time, clamped to 1980-01-01 .. 2107-12-31 23:59:58.
TEST_F(FileList, ModificationTimes) {
  const uint16_t last = 31 + 127 * 512 + 12 * 32, lasttime = 23 * 2048 + 59 * 32 + 29;
  const std::tuple<int, int, int, int, int, int, uint16_t, uint16_t> cases[] = {
      {2004, 3, 5, 14, 37, 59, 5 + 24 * 512 + 3 * 32, 14 * 2048 + 37 * 32 + 29}, {1975, 6, 1, 12, 0, 0, 33, 0},
      {1980, 1, 1, 0, 0, 0, 33, 0}, {1980, 1, 1, 0, 0, 2, 33, 1}, {2107, 12, 31, 23, 59, 56, last, lasttime - 1},
      {2107, 12, 31, 23, 59, 58, last, lasttime}, {2110, 3, 1, 8, 0, 0, last, lasttime}};
  for (auto &[y, mo, d, h, mi, s, date, time] : cases) {
    tm t{};
    t.tm_year = y - 1900, t.tm_mon = mo - 1, t.tm_mday = d, t.tm_hour = h, t.tm_min = mi, t.tm_sec = s, t.tm_isdst = -1;
    timespec ts[2] = {{mktime(&t), 0}, {mktime(&t), 0}};
    put("f");
    ASSERT_EQ(utimensat(AT_FDCWD, "f", ts, 0), 0);
    filelist f(recursive(false));
    ASSERT_TRUE(f.add("f"));
    EXPECT_EQ(std::make_pair(f[0].date, f[0].time), std::make_pair(date, time)) << y;
  }
}

}  // namespace
