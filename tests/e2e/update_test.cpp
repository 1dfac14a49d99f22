// -u: an update gives the bytes of a fresh run, codes only what changed,
// leaves an unchanged archive untouched and refuses a damaged one.
#include <sys/stat.h>

#include <filesystem>

#include "e2e.h"

namespace {

using Update = E2E;

// The archive's modification time, to the nanosecond.
std::pair<long, long> mtime(const std::string &p) {
  struct stat st {};
  stat(p.c_str(), &st);
  return {st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

// Archive a tree, change a file, add one, remove one: -u gives the bytes of
// a fresh run with the same options, and run again leaves the archive alone.
TEST_F(Update, GivesTheBytesOfAFreshRun) {
  using args = std::vector<std::string>;
  for (const args &opts : {args{}, args{"-s1"}, args{"-x1"}, args{"-b128", "-n3"}}) {
    removetree(path("t"));
    put("t/grammar.lsp", corpusfile("grammar.lsp"));
    put("t/xargs.1", corpusfile("xargs.1"));
    put("t/d/text", textbytes(6000, 1));
    put("t/d/noise", randombytes(700, 2));
    auto vorpak = [&](args a) {
      a.insert(a.begin(), opts.begin(), opts.end());
      runresult r = run(a);
      EXPECT_EQ(r.status, 0) << r.err;
      return r;
    };
    vorpak({"-y", "-r", "old", "t"});
    put("t/d/text", textbytes(6000, 3));
    put("t/added", textbytes(2000, 4));
    std::filesystem::remove(path("t/xargs.1"));
    runresult u = vorpak({"-u", "-r", "old", "t"});
    vorpak({"-y", "-r", "fresh", "t"});
    EXPECT_TRUE(readfile(path("old.zip")) == readfile(path("fresh.zip"))) << testing::PrintToString(opts);
    EXPECT_NE(u.out.find("Updating ZIP: old.zip\n"), std::string::npos);
    EXPECT_NE(u.out.find(", 2 coded, 2 reused\n"), std::string::npos) << u.out;
    std::vector<std::string> lines = rendered(u.out);
    EXPECT_EQ(lines[1].substr(0, 33), "  Adding: t/added      VOflating ");
    EXPECT_EQ(lines[2], "  Adding: t/grammar.lsp Reused    " + figures(entries("old.zip")[1].csize, 3721));
    const auto before = mtime(path("old.zip"));
    u = vorpak({"-u", "-r", "old", "t"});
    EXPECT_NE(u.out.find(", 0 coded, 4 reused\n"), std::string::npos) << u.out;
    EXPECT_EQ(mtime(path("old.zip")), before);
  }
  checkall("old.zip", {{"t/added", textbytes(2000, 4)}, {"t/grammar.lsp", corpusfile("grammar.lsp")},
                       {"t/d/noise", randombytes(700, 2)}, {"t/d/text", textbytes(6000, 3)}});
}

// An archive of -x updated without it: the entries not coded again keep
// their -x data; a new file is coded with the run's options.
TEST_F(Update, KeepsTheDataOfTheRunThatCodedThem) {
  put("a.txt", corpusfile("fields.c"));
  put("b.txt", textbytes(5000, 5));
  ASSERT_EQ(run({"-x1", "hard", "a.txt", "b.txt"}).status, 0);
  const std::string hard = entries("hard.zip")[0].data;
  put("b.txt", textbytes(5000, 6));
  ASSERT_EQ(run({"-u", "hard", "a.txt", "b.txt"}).status, 0);
  ASSERT_EQ(run({"plain", "a.txt", "b.txt"}).status, 0);
  EXPECT_EQ(entries("hard.zip")[0].data, hard);
  EXPECT_NE(entries("plain.zip")[0].data, hard);   // else the test proves nothing
  EXPECT_EQ(entries("hard.zip")[1].data, entries("plain.zip")[1].data);
  checkall("hard.zip", {{"a.txt", corpusfile("fields.c")}, {"b.txt", textbytes(5000, 6)}});
}

// A damaged archive is refused and stays as it was; an entry whose bytes
// differ from the file although size and CRC-32 agree is coded anew.
TEST_F(Update, TrustsNoSizeOrCrcAlone) {
  // The old archive's entry holds other bytes under the file's size and
  // CRC-32 (its data changed by hand, its records left as they were).
  const std::string a = textbytes(3000, 7);
  put("a.txt", a);
  ASSERT_EQ(run({"-s4", "save", "a.txt"}).status, 0);
  std::string old = readfile(path("save.zip"));
  old[30 + 5 + 1000] ^= 1;
  put("save.zip", old);
  runresult r = run({"-u", "save", "a.txt"});
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(run({"fresh", "a.txt"}).status, 0);
  EXPECT_TRUE(readfile(path("save.zip")) == readfile(path("fresh.zip"))) << r.out;
  checkall("save.zip", {{"a.txt", a}});
  // Cut short; an entry whose CRC-32 is not its data's (both headers agree).
  const std::string good = readfile(path("save.zip"));
  std::string badcrc = good;
  for (size_t at : {(size_t)14, (size_t)le32(good, good.size() - 6) + 16}) badcrc[at] ^= 1;
  for (auto &[bad, why] : {std::pair{good.substr(0, good.size() - 1), "truncated"}, {badcrc, "wrong CRC-32"}}) {
    put("save.zip", bad);
    r = run({"-u", "save", "a.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error: save.zip: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
    EXPECT_TRUE(readfile(path("save.zip")) == bad);
  }
  EXPECT_EQ(listdir(), (std::vector<std::string>{"a.txt", "fresh.zip", "save.zip"}));
}

}  // namespace
