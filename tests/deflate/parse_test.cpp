// The optimal parse and the passes around it: what a single pass emits and
// counts (strategies, ties, cut points, block ends), that chunk sizes and
// earlier entries never change an entry's bits, round trips of the corpus
// and of edge-shaped data through zlib, and how the pass loop ends.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "deflatetest.h"
#include "driver/driver.h"
#include "files/files.h"
#include "zipout/zipout.h"

namespace {

// Block ends of a raw Deflate stream as offsets into the inflated data, as
// zlib sees them (it stops at every block boundary under Z_BLOCK); empty
// when zlib rejects the stream.
std::vector<size_t> blockends(const std::string &deflated, size_t size) {
  std::vector<size_t> ends;
  std::string out(size + 1, '\0');
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return ends;
  z.next_in = (Bytef *)deflated.data();
  z.avail_in = (uInt)deflated.size();
  z.next_out = (Bytef *)out.data();
  z.avail_out = (uInt)out.size();
  int rc;
  while ((rc = inflate(&z, Z_BLOCK)) == Z_OK)
    if ((z.data_type & 128) && (ends.empty() || ends.back() != z.total_out)) ends.push_back(z.total_out);
  if (rc != Z_STREAM_END || z.avail_in != 0) ends.clear();
  else if (ends.empty() || ends.back() != z.total_out) ends.push_back(z.total_out);
  inflateEnd(&z);
  return ends;
}

struct passline { int32_t len; bool predicted; };   // a pass's length, and whether it predicted a saving


// The sanitizer run sets VORPAK_QUICK and keeps to the small inputs.
bool quick() { return getenv("VORPAK_QUICK") != nullptr; }

class parse : public ::testing::Test {
 protected:
  std::string dir;
  struct entry {
    std::string name, path, data;
  };
  std::vector<entry> entries;

  void SetUp() override {
    dir = maketempdir();
    resetsettings();
    messagestream = nullptr;
    zipbuf[0] = 0;
    initcrc();
    newtable();
  }
  void TearDown() override {
    voabort();
    messagestream = stdout;
    resetsettings();
    removetree(dir);
  }

  void newtable() {
    findfilesinit();
    entries.clear();
  }
  // Lists the file at path (written first when data is given) as the next entry.
  int32_t addfile(const std::string &name, const std::string *data, const std::string &path = "") {
    std::string p = path.empty() ? dir + "/" + name : path;
    if (data) writefile(p, *data);
    findfiles(p.c_str());
    EXPECT_EQ((int32_t)entries.size() + 1, numfiles);
    entries.push_back({name, p, data ? *data : readfile(p)});
    return numfiles - 1;
  }
  int32_t addfile(const std::string &name, const std::string &data) { return addfile(name, &data); }

  void open() { ASSERT_EQ(1, voopen((dir + "/t.zip").c_str())); }

  // Block layout for a single pass: the given block ends (the last one runs
  // to the end of the data) and the starting lengths, or bits for every block.
  static void layout(int32_t strat, const std::vector<int32_t> &ends, const int32_t *bits = nullptr) {
    strategy = strat;
    hufnum = (int32_t)ends.size();
    for (int32_t b = 0; b < hufnum; b++) {
      huf[b].x1 = ends[(size_t)b];
      if (bits) memcpy(huf[b].bit, bits, sizeof huf[b].bit);
      else fixedtable(huf[b].bit, strat);
    }
  }

  // One pass of entry i, its data fed in the given pieces (whole 65536-byte
  // pieces when none are given); after gives a look at the parse after
  // every piece, before the final call.
  void onepass(int32_t i, std::vector<int32_t> pieces = {}, const std::function<void(int32_t fed)> &after = nullptr) {
    const std::string &d = entries[(size_t)i].data;
    if (pieces.empty())
      for (size_t o = 0; o < d.size(); o += infilbufsiz) pieces.push_back((int32_t)std::min<size_t>(infilbufsiz, d.size() - o));
    zipoutopenfile(i);
    int32_t fed = 0;
    for (int32_t n : pieces) {
      fputbuf((const uint8_t *)d.data() + fed, n);
      fed += n;
      if (after) after(fed);
    }
    zipoutclose();
  }

  // The whole multi-pass compression of entry i, as the driver runs it.
  void compress(int32_t i) {
    FILE *f = fopen(entries[(size_t)i].path.c_str(), "rb");
    ASSERT_NE(nullptr, f);
    compressfile(i, f);
    fclose(f);
  }
  void compressall() { for (int32_t i = 0; i < numfiles; i++) compress(i); }

  // The passes of entry i as its verbose pass reports show them.
  std::vector<passline> compressverbose(int32_t i) {
    char *buf = nullptr;
    size_t len = 0;
    messagestream = open_memstream(&buf, &len);
    verbosemode = 1;
    compress(i);
    verbosemode = 0;
    fclose(messagestream);
    messagestream = nullptr;
    std::string out(buf, len);
    free(buf);
    std::vector<passline> v;
    for (size_t k = out.find("Fileleng:"); k != std::string::npos; k = out.find("Fileleng:", k + 9)) {
      size_t e = out.find(" bytes", k);
      v.push_back({atoi(out.c_str() + k + 9), out.compare(e + 6, 2, " -") == 0});
    }
    return v;
  }

  // Closes the archive, has every reader check it, and returns its entries.
  std::vector<zipentry> finish() {
    zipoutfinish();
    std::string path = dir + "/t.zip", bytes = readfile(path);
    std::vector<std::pair<std::string, std::string>> files, datas;
    for (const entry &e : entries) {
      files.push_back({e.name, e.path});
      datas.push_back({e.name, e.data});
    }
    EXPECT_EQ("", checkarchive(path, files));
    EXPECT_EQ("", checkinflate(bytes, datas));
    bool ok;
    std::vector<zipentry> z = parsezip(bytes, &ok);
    EXPECT_TRUE(ok);
    return z;
  }
};

std::string repeated(const std::string &unit, size_t n) {
  std::string s;
  while (s.size() < n) s += unit;
  s.resize(n);
  return s;
}

}  // namespace

// ---- One pass ------------------------------------------------------------
//
// After a pass each block's frq holds what the pass coded in it, plus a count
// of 1 for a byte value the parse weighed there but never coded.

// A position is processed once 260 bytes follow it or the data ends; Huffman
// only writes each byte as its literal at once and counts nothing else.
TEST_F(parse, APositionWaitsFor260BytesAfterIt) {
  const int32_t strats[] = {0, 1, 3, 0, 1, 3, 3};
  for (int32_t k = 0; k < 7; k++)
    addfile(std::to_string(k) + ".e", k < 3 ? textbytes(100, 5) : k < 6 ? textbytes(361, 5) : textbytes(150000, 3) + randombytes(5000, 4));
  open();
  for (int32_t k = 0; k < 7; k++) {
    SCOPED_TRACE(k);
    int32_t strat = strats[k];
    layout(strat, {0});
    onepass(k, {}, [strat](int32_t fed) {
      EXPECT_EQ(std::max(0, fed - 260), wlzplc);
      EXPECT_TRUE(strat == 3 ? wlzmini == wlzplc : wlzmini <= wlzplc) << wlzmini;
    });
    EXPECT_EQ(wlzend, wlzplc);
    EXPECT_EQ(wlzend, wlzmini);
    if (strat != 3) continue;
    int32_t want[hufslots] = {};
    for (unsigned char c : entries[(size_t)k].data) want[c]++;
    want[256] = 1;
    for (int32_t s = 0; s < hufslots; s++) EXPECT_EQ(want[s], huf[0].frq[s]) << "slot " << s;
  }
  finish();
}

// "xyzxyz": three literals of 4 bits each cost as much as the match of 3 at
// distance 3 (7 + 5 bits); on equal cost the literal wins. One bit less for
// the length code tips it to the match.
TEST_F(parse, ATieBetweenLiteralAndMatchGoesToTheLiteral) {
  for (int32_t k = 0; k < 4; k++) addfile(std::to_string(k) + ".xyz", "xyzxyz");
  open();
  for (int32_t k = 0; k < 4; k++) {
    int32_t strat = k & 1, lenbits = k < 2 ? 7 : 6;
    SCOPED_TRACE(::testing::Message() << "strategy " << strat << ", length code of " << lenbits);
    // A complete literal/length code in units of 1/128: x, y, z 8 each,
    // end of block 1, the length code 1 or 2, the rest literals of 7 bits.
    int32_t bits[hufslots];
    fixedtable(bits, 0);
    for (int32_t s = 0; s <= 285; s++) bits[s] = 0;
    bits['x'] = bits['y'] = bits['z'] = 4;
    bits[256] = 7;
    bits[257] = lenbits;
    for (int32_t s = 128, units = 24 + 1 + (lenbits == 7 ? 1 : 2); units < 128; s++, units++) bits[s] = 7;
    layout(strat, {0}, bits);
    onepass(k);
    bool match = lenbits == 6;
    EXPECT_EQ(match ? 1 : 2, huf[0].frq['x']);
    EXPECT_EQ(match ? 1 : 0, huf[0].frq[257]);
    EXPECT_EQ(match ? 1 : 0, huf[0].frq[hufdistslot + 2]);
  }
  finish();
}

// 300,000 bytes of one value: after the literal at 0, the matches of every
// position overlap the next, so there is no natural cut point. The cut is
// forced once 261884 positions are uncommitted, at the furthest reach: 258
// beyond position 261884. Without a code for length 258 the furthest coded
// reach is one less.
TEST_F(parse, AForcedCutLandsAtTheFurthestCodedReach) {
  const std::string data(300000, 'q');
  for (int32_t k = 0; k < 4; k++) addfile(std::to_string(k) + ".run", data);
  open();
  for (int32_t k = 0; k < 4; k++) {
    int32_t strat = k & 1;
    bool no258 = k >= 2;
    SCOPED_TRACE(::testing::Message() << "strategy " << strat << (no258 ? ", no code for 258" : ""));
    int32_t bits[hufslots];
    fixedtable(bits, 0);
    if (no258) {
      bits[285] = 0;
      bits[284] = 7;   // keeps the code complete
    }
    layout(strat, {0}, bits);
    int32_t firstcut = -1, lastcut = -1;
    onepass(k, {}, [&](int32_t fed) {
      if (fed == infilbufsiz) firstcut = wlzmini;
      if (fed == (int32_t)data.size()) lastcut = wlzmini;
    });
    EXPECT_EQ(1, firstcut);
    EXPECT_EQ(no258 ? 262141 : 262142, lastcut);
    if (no258) {
      EXPECT_EQ(0, huf[0].frq[285]);
    }
  }
  finish();
}

// Two blocks, the first ending at 1000, over "abcabc...": no step may cross
// the end. Longest Match takes a, b, c, then the longest match at each
// searched position: 258 at distance 3, cut short at 1000 (223) and at the
// end (226).
TEST_F(parse, NoStepCrossesABlockEnd) {
  const std::string data = repeated("abc", 2000);
  for (int32_t strat = 0; strat <= 3; strat++) addfile(std::to_string(strat) + ".s", data);
  open();
  for (int32_t strat = 0; strat <= 3; strat++) {
    SCOPED_TRACE(strat);
    layout(strat, {1000, 0});
    onepass(strat);
    if (strat != 2) continue;
    for (int32_t b = 0; b < 2; b++)
      for (int32_t s = 0; s < hufslots; s++) {
        // Block 1 codes no literal; 'b' at its searched positions 1000,
        // 1258, 1516 and 1774 still gets a count of 1.
        int32_t want = s == 256 ? 1 : s == 285 ? 3 : s == 283 ? 1 : s == hufdistslot + 2 ? 4 : 0;
        if (b == 0 && (s == 'a' || s == 'b' || s == 'c')) want = 1;
        if (b == 1 && s == 'b') want = 1;
        EXPECT_EQ(want, huf[b].frq[s]) << "block " << b << " slot " << s;
      }
  }
  std::vector<zipentry> z = finish();
  ASSERT_EQ(4u, z.size());
  for (const zipentry &e : z) EXPECT_EQ((std::vector<size_t>{1000, 2000}), blockends(e.data, data.size())) << e.name;
}

// ---- Chunking and earlier entries --------------------------------------

TEST_F(parse, PieceSizesDoNotChangeTheBits) {
  // Copies 32767 back run across the boundaries of the 65536-byte pieces.
  std::string data = repeated(randombytes(32767, 8), 100000) + std::string(5000, 'z') + textbytes(60000, 10);
  std::mt19937 rng(12);
  std::vector<int32_t> pieces;
  for (int32_t left = (int32_t)data.size(); left > 0;) {
    int32_t n = rng() % 4 == 0 ? 1 + (int32_t)(rng() % 300) : 1 + (int32_t)(rng() % wlzmaxchunk);
    pieces.push_back(std::min(n, left));
    left -= pieces.back();
  }
  const std::vector<std::vector<int32_t>> layouts = {{0}, {40000, 40001, 150000, 0}};
  for (int32_t k = 0; k < 16; k++) addfile(std::to_string(k) + ".e", data);
  open();
  for (int32_t k = 0; k < 16; k++) {
    layout(k / 4, layouts[(size_t)(k / 2 % 2)]);
    onepass(k, k % 2 ? pieces : std::vector<int32_t>{});
  }
  std::vector<zipentry> z = finish();
  ASSERT_EQ(16u, z.size());
  for (int32_t k = 0; k < 16; k += 2) EXPECT_EQ(z[(size_t)k].data, z[(size_t)k + 1].data) << "entry " << k;
  EXPECT_EQ((std::vector<size_t>{40000, 40001, 150000, data.size()}), blockends(z[2].data, data.size()));
}

// The same file alone, and after a long run and an entry whose data it
// starts (so the window beyond its end holds what would continue it).
TEST_F(parse, EarlierEntriesDoNotChangeAnEntry) {
  const std::string x = textbytes(20000, 11) + std::string(300, 'a');
  const std::string y = x + std::string(500, 'a') + textbytes(3000, 12);
  const std::string z = std::string(70000, 'a') + x;
  for (int32_t strat = 0; strat <= 3; strat++) {
    SCOPED_TRACE(strat);
    strategy = strat;
    newtable();
    addfile("x.txt", x);
    open();
    compressall();
    std::string alone = finish().at(0).data;

    newtable();
    addfile("z.txt", z);
    addfile("y.txt", y);
    addfile("x.txt", x);
    open();
    compressall();
    EXPECT_EQ(alone, finish().at(2).data);
  }
}

// ---- Round trips through the whole pass loop -------------------------

class roundtrip : public parse, public ::testing::WithParamInterface<int32_t> {};

INSTANTIATE_TEST_SUITE_P(Strategies, roundtrip, ::testing::Values(0, 1, 2, 3));

// Every corpus file under every strategy; the sanitizer run keeps to the
// smaller files.
TEST_P(roundtrip, Corpus) {
  for (const std::string &name : corpusnames()) {
    std::string data = corpusfile(name);
    if (!quick() || data.size() < 160000) addfile(name, data);
  }
  ASSERT_GE(numfiles, 7);
  strategy = GetParam();
  open();
  compressall();
  finish();
}

TEST_P(roundtrip, EdgeShapedData) {
  std::string runs;
  std::mt19937 rng(13);
  while (runs.size() < 60000) runs += std::string(1 + rng() % 5000, (char)"\x00\xff\x80\x41\x07"[rng() % 5]);
  std::vector<std::pair<std::string, std::string>> inputs = {
      {"empty", ""}, {"one", "x"}, {"random", randombytes(40000, 14)}, {"runs", runs}};
  std::string all;
  for (int32_t k = 0; k < 512; k++) all += (char)(k < 256 ? k : 511 - k);
  inputs.push_back({"all256", all});
  // Three periods reach well beyond the window ring; the quick run keeps two.
  for (int32_t period : {32767, 32768, 32769})
    inputs.push_back({std::to_string(period) + ".period",
                      repeated(randombytes((size_t)period, (uint32_t)period), (quick() ? 2 : 3) * (size_t)period + 2000)});
  // One value beyond the step ring, and 0xFF; only in the cheaper layouts.
  const std::string longrun(270000, '\xff');

  struct setting { const char *name; double thresh; int32_t count; };
  for (setting st : {setting{"oneblock", 0, 0}, setting{"b50", 50, 0}, setting{"n7", 256, 7}, setting{"n1024", 256, 1024}}) {
    SCOPED_TRACE(st.name);
    newtable();
    for (auto &in : inputs) addfile(in.first, in.second);
    if (!quick() && st.count != 1024 && st.thresh != 50) addfile("longrun", longrun);
    strategy = GetParam();
    gpohufthresh = st.thresh;
    gpohufnum = st.count;
    open();
    compressall();
    std::vector<zipentry> z = finish();
    // Only the last of 1024 blocks is final: zlib goes through every one.
    if (st.count == 1024) {
      EXPECT_EQ(1024u, blockends(z.at(3).data, runs.size()).size());
    }
  }
}

// ---- The pass loop -----------------------------------------------------

// Every pass but the last predicts a saving; the one that predicts none ends
// the loop. It is kept when it is the shortest (fields.c); when an earlier
// pass was shorter (xargs.1), one more pass re-creates that one. An entry
// that does not shrink is stored instead, unless storing is off.
TEST_F(parse, ThePassLoopKeepsTheBestPassOrStores) {
  const std::string noise = randombytes(5000, 15);
  for (int32_t ns : {0, 1}) {
    SCOPED_TRACE(ns ? "nostore" : "store allowed");
    newtable();
    nostore = ns;
    addfile("fields.c", corpusfile("fields.c"));
    addfile("xargs.1", corpusfile("xargs.1"));
    addfile("noise.bin", noise);
    addfile("empty.bin", "");
    open();
    std::vector<int32_t> best;
    for (int32_t i = 0; i < 4; i++) {
      SCOPED_TRACE(entries[(size_t)i].name);
      std::vector<passline> p = compressverbose(i);
      ASSERT_FALSE(p.empty());
      EXPECT_EQ((size_t)passcnt + 1, p.size());
      EXPECT_TRUE(i >= 2 || lastpass == i) << "fields.c converges on its best pass, xargs.1 does not";
      size_t converged = p.size() - 1 - (size_t)lastpass;
      best.push_back(p[0].len);
      for (size_t k = 0; k <= converged; k++) {
        EXPECT_EQ(k < converged, p[k].predicted) << "pass " << k;
        best[i] = std::min(best[i], p[k].len);
      }
      EXPECT_EQ(lastpass == 1, p[converged].len > best[i]);
      EXPECT_EQ(best[i], p.back().len);
    }
    std::vector<zipentry> z = finish();
    ASSERT_EQ(4u, z.size());
    for (size_t i = 0; i < 4; i++) {
      bool stored = i >= 2 && !ns;
      EXPECT_EQ(stored ? 0 : 8, z[i].method) << z[i].name;
      EXPECT_EQ(stored ? entries[i].data.size() : (size_t)best[i], z[i].csize) << z[i].name;
    }
  }
}
