// The dynamic block header: read back by an independent decoder of RFC 1951
// (3.2.7) that checks the counts, the code-length code, the lengths sent and
// the run-length symbols chosen; zlib checks every header of a usable code.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "deflate/deflate.h"
#include "deflatetest.h"

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
      if (pos / 8 >= s.size()) return over = true, 0;
      v |= (((uint8_t)s[pos / 8] >> (pos % 8)) & 1) << k;
    }
    return v;
  }
};

// Canonical decoding: the codes of one length are consecutive, taken in
// symbol order, and the first code of the next length follows them, doubled.
int32_t decodesym(bitreader &br, const int32_t *lens, int32_t n) {
  for (int32_t l = 1, code = 0, first = 0; l <= 15; l++, code <<= 1, first <<= 1) {
    code |= br.get(1);
    for (int32_t i = 0; i < n; i++)
      if (lens[i] == l && code == first++) return i;
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
    if (sym < 0 || (sym == 16 && seq.empty())) return h;
    clop op{sym, 0};
    if (sym < 16) {
      seq.push_back(sym);
    } else {
      op.extra = br.get(sym == 16 ? 2 : sym == 17 ? 3 : 7);
      seq.insert(seq.end(), (sym == 18 ? 11 : 3) + op.extra, sym == 16 ? seq.back() : 0);
    }
    h.ops.push_back(op);
  }
  if ((int32_t)seq.size() != n || br.over) return h;
  for (int32_t s = 0; s < h.hlit; s++) h.len[s] = seq[s];
  for (int32_t s = 0; s < h.hdist; s++) h.len[hufdistslot + s] = seq[h.hlit + s];
  h.ok = true;
  return h;
}

// The stream of one final block: BFINAL, BTYPE, the header, and when
// withend is set the end-of-block code, so that the block holds no data.
std::string writeheader(const table &t, bool withend) {
  return capturebits([&] {
    fputbits(1, 1);
    fputbits(2, 2);
    storehuftables(t.data());
    if (withend) {
      int32_t sym[286] = {};
      hufgensym(t.data(), 286, sym);
      fputbits(sym[256], t[256]);
    }
    fputbits(0, (-zipbit) & 7);
  });
}

// Writes t's header, reads it back, checks what every header must satisfy
// and returns what was read. A usable code (complete, or a single code) is
// also given to zlib as an empty final block.
header checkheader(const table &t, bool usable) {
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
    EXPECT_EQ(inflateraw(bytes, &ok), "");
    EXPECT_TRUE(ok) << "zlib rejects the block";
  }
  return h;
}

struct run {
  int32_t from, to, len;   // slots from..to get the length len
};

}  // namespace

// The run-length symbols chosen for given lengths, and the counts sent.
TEST(BlockHeader, RunLengthRulesAndCounts) {
  const int32_t d = hufdistslot;
  std::vector<clop> crossing{{9, 0}};   // 256 nines, then 2, 2 and four 2s of distances
  crossing.insert(crossing.end(), 42, {16, 3});
  crossing.insert(crossing.end(), {{16, 0}, {2, 0}, {16, 2}});
  struct hcase {
    const char *what;
    std::vector<run> runs;
    std::vector<clop> ops;   // empty: not checked
    int32_t hlit, hdist;     // 0: not checked
    bool usable = true;
  };
  const hcase cases[] = {
      {"140 zeros leave two single zeros", {{0, 0, 1}, {141, 141, 2}, {256, 256, 2}},
       {{1, 0}, {18, 127}, {0, 0}, {0, 0}, {2, 0}, {18, 103}, {2, 0}, {0, 0}}, 257, 1},
      {"142 zeros: the cut tail repeats the previous zero", {{0, 0, 1}, {143, 143, 2}, {256, 256, 2}},
       {{1, 0}, {18, 127}, {16, 1}, {2, 0}, {18, 101}, {2, 0}, {0, 0}}, 0, 0},
      {"10 zeros at the start", {{10, 10, 1}, {256, 256, 1}},
       {{17, 7}, {1, 0}, {18, 127}, {18, 96}, {1, 0}, {0, 0}}, 0, 0},
      {"11 zeros at the start", {{11, 11, 1}, {256, 256, 1}},
       {{18, 0}, {1, 0}, {18, 127}, {18, 95}, {1, 0}, {0, 0}}, 0, 0},
      // 1/2 + 9/32 + 1/8 + 1/16 + 1/32: a complete code.
      {"nine equal lengths repeat five then three", {{0, 0, 1}, {1, 9, 5}, {200, 200, 3}, {210, 210, 4}, {256, 256, 5}},
       {{1, 0}, {5, 0}, {16, 2}, {16, 0}, {18, 127}, {18, 41}, {3, 0}, {17, 6}, {4, 0}, {18, 34}, {5, 0}, {0, 0}}, 0, 0},
      {"eight equal lengths repeat six then one singly", {{0, 0, 1}, {1, 8, 5}, {256, 256, 2}},
       {{1, 0}, {5, 0}, {16, 3}, {5, 0}, {18, 127}, {18, 98}, {2, 0}, {0, 0}}, 0, 0},
      {"three equal lengths go singly", {{0, 0, 1}, {1, 3, 3}, {256, 256, 3}},
       {{1, 0}, {3, 0}, {3, 0}, {3, 0}, {18, 127}, {18, 103}, {3, 0}, {0, 0}}, 0, 0},
      {"a run crosses into the distances", {{0, 255, 9}, {256, 257, 2}, {d, d + 3, 2}}, crossing, 258, 4},
      {"counts cover the last used codes", {{0, 255, 9}, {256, 256, 2}, {270, 270, 2}, {d, d, 1}, {d + 5, d + 5, 1}}, {}, 271, 6},
      {"the largest counts", {{0, 255, 9}, {256, 256, 2}, {285, 285, 2}, {d, d, 1}, {d + 29, d + 29, 1}}, {}, 286, 30},
      // Only symbol 18 is used, third in the order; the length of symbol 0
      // (0) is sent all the same.
      {"no lengths: HCLEN is at least 4", {}, {{18, 127}, {18, 109}}, 257, 1, false},
  };
  for (const hcase &c : cases) {
    SCOPED_TRACE(c.what);
    table t{};
    for (const run &r : c.runs)
      for (int32_t s = r.from; s <= r.to; s++) t[s] = r.len;
    header h = checkheader(t, c.usable);
    if (!c.ops.empty()) {
      EXPECT_EQ(h.ops, c.ops);
    }
    EXPECT_TRUE(!c.hlit || h.hlit == c.hlit) << h.hlit;
    EXPECT_TRUE(!c.hdist || h.hdist == c.hdist) << h.hdist;
    EXPECT_TRUE(c.usable || h.hclen == 4) << h.hclen;
  }
}

// Complete codes from random counts, and random runs of lengths that are
// no usable code but exercise every run-length rule many times over, with
// runs of every size crossing between the alphabets.
TEST(BlockHeader, RandomTablesAreSentExactly) {
  std::mt19937 rng(99);
  for (int trial = 0; trial < 450; trial++) {
    table t{};
    bool code = trial % 3 == 0;
    if (code) {
      int32_t frq[hufslots] = {};
      uint32_t zeros = rng() % 4;   // 0: no unused codes .. 3: mostly unused
      for (int32_t s = 0; s < hufslots; s++)
        if (rng() % 4 >= zeros) frq[s] = (int32_t)((rng() >> (rng() % 32)) >> 12);
      frq[256] = 1;
      hufrq2bit(frq, 286, t.data(), 16);
      hufrq2bit(frq + hufdistslot, 30, t.data() + hufdistslot, 16);
    } else {
      for (int32_t s = 0; s < 316;) {
        int32_t len = rng() % 3 == 0 ? 0 : (int32_t)(rng() % 16);
        int32_t run = 1 + (int32_t)(rng() % (rng() % 2 ? 8 : 160));
        for (int32_t k = 0; k < run && s < 316; k++, s++) t[s < 286 ? s : s + 2] = len;
      }
    }
    checkheader(t, code);
  }
}
