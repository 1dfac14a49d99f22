// Runs that fail part-way: an input that cannot be opened or read, an
// archive that cannot be written. The run ends with one error line and exit
// status 1, leaves no temporary file, and an existing archive stays as it was.
#include <sys/stat.h>
#include <unistd.h>

#include "e2e.h"

namespace {

using Failures = E2E;

TEST_F(Failures, VanishedInputEndsTheRunAndKeepsTheOldArchive) {
  put("a.txt", "A");
  symlinkto("gone", "nowhere");   // listed, but cannot be opened
  put("save.zip", "OLD");
  runresult r = run({"-y", "-s4", "save", "a.txt", "gone"});
  EXPECT_EQ(r.status, 1);
  std::vector<std::string> l = rawlines(r.out);
  ASSERT_GE(l.size(), 2u) << r.out;
  EXPECT_EQ(l[l.size() - 2], fmt("  Adding: %-12s VOflating ", "gone") + "Error: gone not found");
  EXPECT_EQ(l.back(), "");
  EXPECT_EQ(readfile(path("save.zip")), "OLD");
  EXPECT_EQ(listdir(), (std::vector<std::string>{"a.txt", "gone", "save.zip"}));
}

TEST_F(Failures, VanishedInputWithoutAnOldArchiveLeavesNothing) {
  put("a.txt", "A");
  symlinkto("gone", "nowhere");
  runresult r = run({"save"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Error: gone not found\n"), std::string::npos) << r.out;
  EXPECT_EQ(listdir(), (std::vector<std::string>{"a.txt", "gone"}));
}

TEST_F(Failures, VanishedInputInASubdirectoryIsNamedByItsPath) {
  put("sub/a.txt", "A");
  symlinkto("sub/gone", "nowhere");
  runresult r = run({"-r", "-s4", "save", "sub"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Error: sub/gone not found\n"), std::string::npos) << r.out;
  EXPECT_EQ(listdir(), std::vector<std::string>{"sub"});
}

// A file system limit on file size makes the archive's writes fail; the
// shell ignores the signal such writes raise, so the program sees the error.
runresult runwithsizelimit(const std::string &dir, const std::string &args) {
  return runshell(dir, std::string("trap '' XFSZ; ulimit -f 200; ") + VORPAK_BIN + " " + args + " </dev/null");
}

TEST_F(Failures, ArchiveThatCannotBeWrittenKeepsTheOldOne) {
  put("big", randombytes(1500000, 60));   // more than one write of the archive ring
  put("save.zip", "OLD");
  runresult r = runwithsizelimit(dir, "-y -s4 save big");
  EXPECT_EQ(r.status, 1);
  std::vector<std::string> l = rawlines(r.out);
  ASSERT_EQ(l.size(), 3u) << r.out;
  EXPECT_EQ(l[0], "Creating ZIP: save.zip");
  EXPECT_EQ(l[1], fmt("  Adding: %-12s VOflating ", "big") + "Error: save.zip could not be written");
  EXPECT_EQ(l[2], "");
  EXPECT_EQ(readfile(path("save.zip")), "OLD");
  EXPECT_EQ(listdir(), (std::vector<std::string>{"big", "save.zip"}));
}

TEST_F(Failures, ArchiveThatCannotBeWrittenQuietly) {
  put("big", randombytes(1500000, 61));
  runresult r = runwithsizelimit(dir, "-q -s4 save big");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(listdir(), std::vector<std::string>{"big"});
}

TEST_F(Failures, ArchiveInAMissingDirectoryCannotBeOpened) {
  put("a", "A");
  runresult r = run({"nodir/save", "a"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Error: nodir/save.zip could not be opened\n");
  EXPECT_EQ(listdir(), std::vector<std::string>{"a"});
}

// A kernel attribute file: its size is given as a whole page, but reading
// it yields a few bytes, as if it had shrunk after it was listed.
std::string shrinkingfile() {
  for (const char *p : {"/sys/kernel/profiling", "/sys/kernel/mm/transparent_hugepage/enabled"}) {
    struct stat st;
    if (stat(p, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) continue;
    std::string got = readfile(p);
    if (!got.empty() && (off_t)got.size() < st.st_size) return p;
  }
  return "";
}

TEST_F(Failures, InputThatYieldsLessThanItsSizeCannotBeRead) {
  std::string f = shrinkingfile();
  if (f.empty()) GTEST_SKIP() << "no file here reads shorter than its size";
  put("a", "A");
  put("save.zip", "OLD");
  for (const char *s : {"-s4", "-s3"}) {
    runresult r = run({"-y", s, "save", "a", f});
    EXPECT_EQ(r.status, 1) << s;
    std::vector<std::string> l = rawlines(r.out);
    ASSERT_GE(l.size(), 2u) << r.out;
    std::string base = f.substr(f.rfind('/') + 1);
    EXPECT_EQ(l[l.size() - 2], fmt("  Adding: %-12s VOflating ", base.c_str()) + "Error: " + f + " could not be read")
        << s;
    EXPECT_EQ(readfile(path("save.zip")), "OLD") << s;
    EXPECT_EQ(listdir(), (std::vector<std::string>{"a", "save.zip"})) << s;
  }
}

}  // namespace
