// The dynamic block header: read back by an independent decoder of RFC 1951
// (3.2.7) that checks the counts, the code-length code, the lengths sent and
// the run-length symbols chosen; zlib checks every header of a usable code.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "deflate/deflate.h"
#include "testsupport.h"

namespace {

using table = std::array<int32_t, hufslots>;

struct clop {
  int32_t sym, extra;   // extra is 0 for the symbols 0..15
  bool operator==(const clop &o) const { return sym == o.sym && extra == o.extra; }
};
std::ostream &operator<<(std::ostream &os, const clop &o) { return os << o.sym << "/" << o.extra; }

struct header {
  bool ok = false;
  int32_t hlit = 0, hdist = 0, hclen = 0;
  int32_t cl[19] = {};
  table len{};   // lengths sent, in the 320 slots
  std::vector<clop> ops;
};

const int32_t rfcclorder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct bitreader {
  const std::string &s;
  size_t pos = 0;
  bool over = false;
  int32_t get(int32_t n) {
    int32_t v = 0;
    for (int32_t k = 0; k < n; k++, pos++) {
      if (pos / 8 >= s.size()) {
        over = true;
        return 0;
      }
      v |= (((uint8_t)s[pos / 8] >> (pos % 8)) & 1) << k;
    }
    return v;
  }
};

// Canonical decoding by counting codes per length: codes of one length are
// consecutive, taken in symbol order.
int32_t decodesym(bitreader &br, const int32_t *lens, int32_t n) {
  int32_t code = 0, first = 0, index = 0;
  std::vector<int32_t> bylen;
  for (int32_t l = 1; l <= 15; l++)
    for (int32_t i = 0; i < n; i++)
      if (lens[i] == l) bylen.push_back(i);
  for (int32_t l = 1; l <= 15; l++) {
    code |= br.get(1);
    int32_t count = 0;
    for (int32_t i = 0; i < n; i++) count += lens[i] == l;
    if (code - first < count) return bylen[index + code - first];
    index += count;
    first = (first + count) << 1;
    code <<= 1;
  }
  return -1;
}

// Reads BFINAL, BTYPE and the header that follows.
header readheader(const std::string &bytes) {
  header h;
  bitreader br{bytes};
  br.get(1);
  if (br.get(2) != 2) return h;
  h.hlit = br.get(5) + 257;
  h.hdist = br.get(5) + 1;
  h.hclen = br.get(4) + 4;
  for (int32_t k = 0; k < h.hclen; k++) h.cl[rfcclorder[k]] = br.get(3);
  std::vector<int32_t> seq;
  int32_t n = h.hlit + h.hdist;
  while ((int32_t)seq.size() < n && !br.over) {
    int32_t sym = decodesym(br, h.cl, 19);
    if (sym < 0) return h;
    clop op{sym, 0};
    if (sym < 16) {
      seq.push_back(sym);
    } else {
      int32_t rep, v = 0;
      if (sym == 16) {
        if (seq.empty()) return h;
        op.extra = br.get(2);
        rep = 3 + op.extra;
        v = seq.back();
      } else if (sym == 17) {
        op.extra = br.get(3);
        rep = 3 + op.extra;
      } else {
        op.extra = br.get(7);
        rep = 11 + op.extra;
      }
      seq.insert(seq.end(), rep, v);
    }
    h.ops.push_back(op);
  }
  if ((int32_t)seq.size() != n || br.over) return h;
  for (int32_t s = 0; s < h.hlit; s++) h.len[s] = seq[s];
  for (int32_t s = 0; s < h.hdist; s++) h.len[hufdistslot + s] = seq[h.hlit + s];
  h.ok = true;
  return h;
}

// Where the streams are written; one directory for the whole suite.
std::string headerdir;

class BlockHeader : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { headerdir = maketempdir(); }
  static void TearDownTestSuite() { removetree(headerdir); }
};

// The stream of one final block: BFINAL, BTYPE, the header, and when
// withend is set the end-of-block code, so that the block holds no data.
std::string writeheader(const table &t, bool withend) {
  std::string path = headerdir + "/header.bin";
  std::string bytes;
  if (voopen(path.c_str())) {
    zipdat = 0;
    zipbit = 0;
    fputbits(1, 1);
    fputbits(2, 2);
    storehuftables(t.data());
    if (withend) {
      int32_t sym[286] = {};
      hufgensym(t.data(), 286, sym);
      fputbits(sym[256], t[256]);
    }
    fputbits(0, (-zipbit) & 7);
    voclose();
    bytes = readfile(path);
  } else {
    ADD_FAILURE() << "cannot open " << path;
  }
  return bytes;
}

// Writes t's header, reads it back, checks what every header must satisfy
// and returns what was read. A usable code (complete, or a single code) is
// also given to zlib as an empty final block.
header checkheader(const table &t, bool usable = true) {
  table copy = t;
  std::string bytes = writeheader(t, usable);
  EXPECT_EQ(t, copy) << "the table was changed";
  header h = readheader(bytes);
  EXPECT_TRUE(h.ok) << "header cannot be decoded";
  if (!h.ok) return h;
  EXPECT_EQ(h.len, t) << "lengths sent differ";
  // Only up to the last used code of each alphabet, with the minimums.
  EXPECT_TRUE(h.hlit == 257 || t[h.hlit - 1] != 0);
  EXPECT_TRUE(h.hdist == 1 || t[hufdistslot + h.hdist - 1] != 0);
  // The code-length code: HCLEN drops only unused tail lengths, no code is
  // longer than 7 bits, and it is the one built from the symbols sent.
  EXPECT_TRUE(h.hclen == 4 || h.cl[rfcclorder[h.hclen - 1]] != 0);
  int32_t cnt[19] = {}, want[19];
  for (const clop &op : h.ops) cnt[op.sym]++;
  hufrq2bit(cnt, 19, want, 8);
  for (int32_t s = 0; s < 19; s++) {
    EXPECT_LE(h.cl[s], 7);
    EXPECT_EQ(h.cl[s], want[s]) << "code-length symbol " << s;
  }
  if (usable) {
    bool ok = false;
    std::string out = inflateraw(bytes, &ok);
    EXPECT_TRUE(ok) << "zlib rejects the block";
    EXPECT_TRUE(out.empty());
  }
  return h;
}

void setlen(table &t, int32_t from, int32_t to, int32_t len) {
  for (int32_t s = from; s <= to; s++) t[s] = len;
}

std::vector<clop> ops(std::initializer_list<clop> l) { return l; }

TEST_F(BlockHeader, LongZeroRunLeavesTwoSingleZeros) {
  table t{};
  t[0] = 1;   // then 140 zeros
  t[141] = 2;
  t[256] = 2;
  header h = checkheader(t);
  EXPECT_EQ(h.ops, ops({{1, 0}, {18, 127}, {0, 0}, {0, 0}, {2, 0}, {18, 103}, {2, 0}, {0, 0}}));
}

TEST_F(BlockHeader, TailOfACutZeroRunRepeatsThePreviousZero) {
  table t{};
  t[0] = 1;   // then 142 zeros
  t[143] = 2;
  t[256] = 2;
  header h = checkheader(t);
  EXPECT_EQ(h.ops, ops({{1, 0}, {18, 127}, {16, 1}, {2, 0}, {18, 101}, {2, 0}, {0, 0}}));
}

TEST_F(BlockHeader, ZeroRunsAtTheStart) {
  table t{};
  t[10] = 1;
  t[256] = 1;
  EXPECT_EQ(checkheader(t).ops, ops({{17, 7}, {1, 0}, {18, 127}, {18, 96}, {1, 0}, {0, 0}}));
  table u{};
  u[11] = 1;
  u[256] = 1;
  EXPECT_EQ(checkheader(u).ops, ops({{18, 0}, {1, 0}, {18, 127}, {18, 95}, {1, 0}, {0, 0}}));
}

TEST_F(BlockHeader, NineEqualLengthsRepeatFiveThenThree) {
  table t{};
  t[0] = 1;
  setlen(t, 1, 9, 5);
  t[200] = 3;   // completes the code: 1/2 + 9/32 + 1/8 + 1/16 + 1/32
  t[210] = 4;
  t[256] = 5;
  header h = checkheader(t);
  EXPECT_EQ(h.ops, ops({{1, 0}, {5, 0}, {16, 2}, {16, 0}, {18, 127}, {18, 41}, {3, 0}, {17, 6},
                        {4, 0}, {18, 34}, {5, 0}, {0, 0}}));
}

TEST_F(BlockHeader, EightEqualLengthsRepeatSixThenOneSingly) {
  table t{};
  t[0] = 1;
  setlen(t, 1, 8, 5);
  t[256] = 2;
  header h = checkheader(t);
  EXPECT_EQ(h.ops, ops({{1, 0}, {5, 0}, {16, 3}, {5, 0}, {18, 127}, {18, 98}, {2, 0}, {0, 0}}));
}

TEST_F(BlockHeader, ThreeEqualLengthsAreSentSingly) {
  table t{};
  t[0] = 1;
  setlen(t, 1, 3, 3);
  t[256] = 3;
  header h = checkheader(t);
  EXPECT_EQ(h.ops, ops({{1, 0}, {3, 0}, {3, 0}, {3, 0}, {18, 127}, {18, 103}, {3, 0}, {0, 0}}));
}

TEST_F(BlockHeader, RunCrossesFromLengthsIntoDistances) {
  table t{};
  setlen(t, 0, 255, 9);
  t[256] = 2;
  t[257] = 2;
  setlen(t, hufdistslot, hufdistslot + 3, 2);
  header h = checkheader(t);
  std::vector<clop> want{{9, 0}};
  for (int k = 0; k < 42; k++) want.push_back({16, 3});
  want.insert(want.end(), {{16, 0}, {2, 0}, {16, 2}});
  EXPECT_EQ(h.ops, want);
  EXPECT_EQ(h.hlit, 258);
  EXPECT_EQ(h.hdist, 4);
}

TEST_F(BlockHeader, CountsCoverTheLastUsedCodes) {
  table t{};
  t[256] = 1;
  t[0] = 1;
  header h = checkheader(t);   // no length code, no distance code
  EXPECT_EQ(h.hlit, 257);
  EXPECT_EQ(h.hdist, 1);

  setlen(t, 0, 255, 9);
  t[256] = 2;
  t[270] = 2;
  t[hufdistslot] = 1;
  t[hufdistslot + 5] = 1;
  h = checkheader(t);
  EXPECT_EQ(h.hlit, 271);
  EXPECT_EQ(h.hdist, 6);

  t[270] = 0;
  t[285] = 2;
  t[hufdistslot + 5] = 0;
  t[hufdistslot + 29] = 1;
  h = checkheader(t);
  EXPECT_EQ(h.hlit, 286);
  EXPECT_EQ(h.hdist, 30);
}

TEST_F(BlockHeader, AtLeastFourCodeLengthLengthsAreSent) {
  // All 258 lengths 0: only symbol 18 is used, which comes third in the
  // order; the length of symbol 0 (0) is sent all the same.
  table t{};
  header h = checkheader(t, false);
  EXPECT_EQ(h.hclen, 4);
  EXPECT_EQ(h.ops, ops({{18, 127}, {18, 109}}));
  EXPECT_EQ(h.cl[18], 1);
}

TEST_F(BlockHeader, RandomCodesAreSentExactly) {
  std::mt19937 rng(99);
  for (int trial = 0; trial < 150; trial++) {
    int32_t frq[hufslots] = {};
    int32_t zeros = (int32_t)(rng() % 4);   // 0: no unused codes .. 3: mostly unused
    for (int32_t s = 0; s < hufslots; s++)
      if (rng() % 4 >= (uint32_t)zeros) frq[s] = (int32_t)((rng() >> (rng() % 32)) >> 12);
    frq[256] = 1;
    frq[286] = frq[287] = frq[318] = frq[319] = 0;
    table t{};
    hufrq2bit(frq, 286, t.data(), 16);
    hufrq2bit(frq + hufdistslot, 30, t.data() + hufdistslot, 16);
    checkheader(t);
  }
}

TEST_F(BlockHeader, RandomRunsOfLengthsAreSentExactly) {
  // Not usable codes, but every run-length rule many times over, with runs
  // of every size crossing between the alphabets.
  std::mt19937 rng(2024);
  for (int trial = 0; trial < 300; trial++) {
    table t{};
    int32_t s = 0;
    while (s < 316) {
      int32_t len = rng() % 3 == 0 ? 0 : (int32_t)(rng() % 16);
      int32_t run = 1 + (int32_t)(rng() % (rng() % 2 ? 8 : 160));
      for (int32_t k = 0; k < run && s < 316; k++, s++) t[s < 286 ? s : s + 2] = len;
    }
    checkheader(t, false);
  }
}

}  // namespace
