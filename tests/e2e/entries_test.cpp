// The entries a run writes: stored or deflated, their header fields, and
// every strategy and option checked by the readers.
#include <sys/stat.h>
#include <utime.h>

#include <ctime>

#include "e2e.h"

namespace {

using Entries = E2E;

// ---- Stored entries ----------------------------------------------------------------

TEST_F(Entries, OneEmptyFileStored) {
  put("empty.dat", "");
  runresult r = run({"-s4", "save", "empty.dat"});
  ASSERT_EQ(r.status, 0);
  std::string bytes = readfile(path("save.zip"));
  EXPECT_EQ(bytes.size(), (30u + 9) + (46u + 9) + 22u);
  auto e = entries("save.zip");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].method, 0);
  EXPECT_EQ(e[0].lmethod, 0);
  EXPECT_EQ(e[0].flags, 0);
  EXPECT_EQ(e[0].lflags, 0);
  EXPECT_EQ(e[0].crc, 0u);
  EXPECT_EQ(e[0].lcrc, 0u);
  EXPECT_EQ(e[0].csize, 0u);
  EXPECT_EQ(e[0].usize, 0u);
  EXPECT_EQ(e[0].lcsize, 0u);
  EXPECT_EQ(e[0].lusize, 0u);
  EXPECT_EQ(e[0].headoff, 0u);
  checkall("save.zip", {{"empty.dat", ""}});
}

TEST_F(Entries, StoredHeadersAndSizes) {
  namedata files = {{"a", textbytes(1000, 30)}, {"bb", randombytes(77, 31)}, {"ccc", ""}};
  for (auto &f : files) put(f.first, f.second);
  runresult r = run({"-s4", "save", "a", "bb", "ccc"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ((int64_t)readfile(path("save.zip")).size(), storedarchivesize(files));
  auto e = entries("save.zip");
  ASSERT_EQ(e.size(), 3u);
  uint32_t off = 0;
  for (size_t k = 0; k < 3; k++) {
    EXPECT_EQ(e[k].headoff, off) << k;   // entries follow one another without gaps
    off += 30 + (uint32_t)files[k].first.size() + (uint32_t)files[k].second.size();
    EXPECT_EQ(e[k].method, 0);
    EXPECT_EQ(e[k].csize, files[k].second.size());
    EXPECT_EQ(e[k].usize, files[k].second.size());
    EXPECT_EQ(e[k].lcsize, e[k].csize);
    EXPECT_EQ(e[k].lusize, e[k].usize);
    EXPECT_EQ(e[k].lcrc, e[k].crc);
  }
  checkall("save.zip", files);
}

// ---- Deflated entries ---------------------------------------------------------------

TEST_F(Entries, DeflatedHeadersAgree) {
  std::string text = textbytes(5000, 32);
  put("t.txt", text);
  put("u.txt", textbytes(800, 33));
  runresult r = run({"-s3", "save", "t.txt", "u.txt"});
  ASSERT_EQ(r.status, 0);
  auto e = entries("save.zip");
  ASSERT_EQ(e.size(), 2u);
  for (auto &z : e) {
    EXPECT_EQ(z.method, 8) << z.name;
    EXPECT_EQ(z.lmethod, 8) << z.name;
    EXPECT_EQ(z.flags, 2) << z.name;
    EXPECT_EQ(z.lflags, 2) << z.name;
    EXPECT_EQ(z.version, 20);
    EXPECT_EQ(z.made, 20);
    EXPECT_EQ(z.extattr, 0x20u);
    EXPECT_EQ(z.lcrc, z.crc);
    EXPECT_EQ(z.lcsize, z.csize);
    EXPECT_EQ(z.lusize, z.usize);
  }
  EXPECT_EQ(e[0].usize, 5000u);
  EXPECT_LT(e[0].csize, 5000u);
  // The second entry starts right behind the first one's data.
  EXPECT_EQ(e[1].headoff, 30 + 5 + e[0].csize);
  checkall("save.zip", {{"t.txt", text}, {"u.txt", textbytes(800, 33)}});
}

TEST_F(Entries, ModificationTimeInDosForm) {
  put("dated.txt", "old file\n");
  struct tm t = {};
  t.tm_year = 2004 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 5;
  t.tm_hour = 14;
  t.tm_min = 37;
  t.tm_sec = 59;
  t.tm_isdst = -1;
  struct utimbuf ut;
  ut.actime = ut.modtime = mktime(&t);
  ASSERT_EQ(utime(path("dated.txt").c_str(), &ut), 0);
  runresult r = run({"-s4", "save", "dated.txt"});
  ASSERT_EQ(r.status, 0);
  auto e = entries("save.zip");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].time, 14 * 2048 + 37 * 32 + 29);
  EXPECT_EQ(e[0].date, 5 + 24 * 512 + 3 * 32);
  checkall("save.zip", {{"dated.txt", "old file\n"}});
}

// ---- Files that do not shrink --------------------------------------------------------

TEST_F(Entries, EmptyFileFallsBackToStored) {
  put("e", "");
  runresult r = run({"save", "e"});   // the default strategy
  ASSERT_EQ(r.status, 0);
  auto e = entries("save.zip");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].method, 0);
  EXPECT_EQ(e[0].csize, 0u);
  EXPECT_EQ(readfile(path("save.zip")).size(), (30u + 1) + (46u + 1) + 22u);
  EXPECT_EQ(rendered(r.out)[1], fmt("  Adding: %-12s ", "e") + storedtext(0));
  checkall("save.zip", {{"e", ""}});
}

TEST_F(Entries, EmptyFileWithoutStoringIsDeflated) {
  put("e", "");
  for (const char *s : {"-s0", "-s3"}) {
    runresult r = run({"-y", "-ns", s, "save", "e"});
    ASSERT_EQ(r.status, 0);
    auto e = entries("save.zip");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].method, 8) << s;
    EXPECT_EQ(e[0].flags, 2) << s;
    EXPECT_GT(e[0].csize, 0u) << s;   // at least one block header and end-of-block
    EXPECT_EQ(e[0].usize, 0u);
    EXPECT_EQ(e[0].crc, 0u);
    bool ok = false;
    EXPECT_EQ(inflateraw(e[0].data, &ok), "");
    EXPECT_TRUE(ok) << s;
    std::string shown = rendered(r.out)[1];
    shown.erase(shown.find_last_not_of(' ') + 1);
    EXPECT_EQ(shown, fmt("  Adding: %-12s VOflating ", "e") + figures(e[0].csize, 0));
    checkall("save.zip", {{"e", ""}});
  }
}

TEST_F(Entries, RandomDataFallsBackToStored) {
  std::string data = randombytes(4000, 34);
  put("r.bin", data);
  for (const char *s : {"-s0", "-s3"}) {
    runresult r = run({"-y", s, "save", "r.bin"});
    ASSERT_EQ(r.status, 0);
    auto e = entries("save.zip");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].method, 0) << s;
    EXPECT_EQ(e[0].csize, 4000u) << s;
    EXPECT_EQ((int64_t)readfile(path("save.zip")).size(), storedarchivesize({{"r.bin", data}})) << s;
    checkall("save.zip", {{"r.bin", data}});
  }
}

TEST_F(Entries, RandomDataWithoutStoringStaysDeflated) {
  std::string data = randombytes(4000, 35);
  put("r.bin", data);
  runresult r = run({"-ns", "-s3", "save", "r.bin"});
  ASSERT_EQ(r.status, 0);
  auto e = entries("save.zip");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].method, 8);
  EXPECT_GT(e[0].csize, 4000u);
  std::string shown = rendered(r.out)[1];
  shown.erase(shown.find_last_not_of(' ') + 1);
  EXPECT_EQ(shown, fmt("  Adding: %-12s VOflating ", "r.bin") + figures(e[0].csize, 4000));
  checkall("save.zip", {{"r.bin", data}});
}

TEST_F(Entries, UncompressedStrategyStoresEvenWithoutStoring) {
  std::string text = textbytes(2000, 36);
  put("t.txt", text);
  runresult r = run({"-ns", "-s4", "save", "t.txt"});
  ASSERT_EQ(r.status, 0);
  auto e = entries("save.zip");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].method, 0);
  checkall("save.zip", {{"t.txt", text}});
}

TEST_F(Entries, CompressedAndStoredEntriesMixed) {
  namedata files = {{"r1", randombytes(600, 37)}, {"t1", textbytes(3000, 38)}, {"e1", ""}, {"r2", randombytes(50, 39)}};
  for (auto &f : files) put(f.first, f.second);
  runresult r = run({"-s3", "save", "r1", "t1", "e1", "r2"});
  ASSERT_EQ(r.status, 0) << r.out;
  auto e = entries("save.zip");
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].method, 0);
  EXPECT_EQ(e[1].method, 8);
  EXPECT_EQ(e[2].method, 0);
  EXPECT_EQ(e[3].method, 0);
  checkall("save.zip", files);
}

// ---- Sizes at the input buffer's edge ------------------------------------------------

TEST_F(Entries, SixtyFourKilobytesAndOneMore) {
  namedata files = {{"t65536", textbytes(65536, 40)}, {"t65537", textbytes(65537, 41)},
                    {"r65536", randombytes(65536, 42)}, {"r65537", randombytes(65537, 43)}};
  for (auto &f : files) put(f.first, f.second);
  for (const char *s : {"-s4", "-s3"}) {
    runresult r = run({"-y", s, "save", "t65536", "t65537", "r65536", "r65537"});
    ASSERT_EQ(r.status, 0) << r.out;
    auto e = entries("save.zip");
    ASSERT_EQ(e.size(), 4u);
    for (size_t k = 0; k < 4; k++) EXPECT_EQ(e[k].usize, files[k].second.size()) << s << " " << k;
    checkall("save.zip", files);
  }
}

// ---- Strategies and options -------------------------------------------------------

std::string trimmed(std::string s) {
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

class Options : public E2E {
 protected:
  namedata files;
  void SetUp() override {
    E2E::SetUp();
    files = {{"text.txt", textbytes(4000, 50)},
             {"mixed.bin", textbytes(1500, 51) + randombytes(1500, 52) + std::string(1500, 'q')},
             {"small", "a"},
             {"empty", ""},
             {"noise", randombytes(300, 53)}};
    for (auto &f : files) put(f.first, f.second);
  }
  // Runs with the options and checks the archive; returns the entries.
  std::vector<zipentry> runwith(std::vector<std::string> opts) {
    std::vector<std::string> args = {"-y"};
    args.insert(args.end(), opts.begin(), opts.end());
    args.push_back("save");
    for (auto &f : files) args.push_back(f.first);
    runresult r = run(args);
    std::string what;
    for (auto &o : opts) what += o + " ";
    EXPECT_EQ(r.status, 0) << what << r.out;
    checkall("save.zip", files);
    // Each file's line shows what was kept: the figures of the deflated
    // entry, or the stored text; the totals line matches the archive.
    auto e = entries("save.zip");
    std::vector<std::string> v = rendered(r.out);
    int64_t total = 0;
    for (auto &f : files) total += (int64_t)f.second.size();
    if (e.size() != files.size() || v.size() != files.size() + 2) {
      ADD_FAILURE() << what << r.out;
      return e;
    }
    std::vector<std::string> raw = rawlines(r.out);
    for (size_t k = 0; k < e.size(); k++) {
      if (e[k].method == 8) {
        std::string want = fmt("  Adding: %-12s VOflating ", e[k].name.c_str()) + figures(e[k].csize, e[k].usize);
        EXPECT_EQ(trimmed(v[k + 1]), want) << what;
      } else {
        // The stored text is written over the progress word and whatever
        // the passes showed; a status longer than it (a ratio of -1000% or
        // less) leaves its last characters behind it on the screen.
        std::string want = fmt("  Adding: %-12s ", e[k].name.c_str()) + storedtext(e[k].usize);
        EXPECT_EQ(v[k + 1].substr(0, want.size()), want) << what;
        std::string st = storedtext(e[k].usize);
        EXPECT_TRUE(raw[k + 1].size() >= st.size() && raw[k + 1].substr(raw[k + 1].size() - st.size()) == st)
            << what << raw[k + 1];
      }
    }
    EXPECT_EQ(v.back(), totalsline((int64_t)readfile(path("save.zip")).size(), total)) << what;
    return e;
  }
};

TEST_F(Options, EveryStrategy) {
  for (int s = 0; s <= 4; s++) {
    auto e = runwith({"-s" + std::to_string(s)});
    ASSERT_EQ(e.size(), files.size());
    if (s == 4) {
      for (auto &z : e) EXPECT_EQ(z.method, 0) << z.name;
    } else {
      EXPECT_EQ(e[0].method, 8) << "-s" << s;   // the text shrinks
      EXPECT_LT(e[0].csize, 4000u);
      EXPECT_EQ(e[3].method, 0) << "-s" << s;   // the empty file does not
      EXPECT_EQ(e[4].method, 0) << "-s" << s;   // nor does the noise
    }
  }
}

TEST_F(Options, OneBlock) { runwith({"-b0"}); }

TEST_F(Options, ManyBlocksAskedFor) {
  runwith({"-n7"});
  runwith({"-s3", "-n1024"});
  runwith({"-s2", "-b16"});
}

TEST_F(Options, RandomStartingTables) {
  runwith({"-rn", "-s1"});
  runwith({"-rn", "-s2", "-n3"});
}

TEST_F(Options, Zlib121Fix) {
  // Huffman only: no distance code is used in any block.
  runwith({"-zl121", "-s3"});
  runwith({"-zl121", "-s0", "-ns"});
}

TEST_F(Options, NoStoreKeepsEveryEntryDeflated) {
  auto e = runwith({"-ns", "-s3"});
  for (auto &z : e) EXPECT_EQ(z.method, 8) << z.name;
}

TEST_F(Options, RecursionFlagWithPlainFileNames) {
  auto e = runwith({"-r", "-s3"});
  for (size_t k = 0; k < files.size(); k++) EXPECT_EQ(e[k].name, files[k].first);
}

}  // namespace
