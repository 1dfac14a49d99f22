// Complete dynamic blocks written by hand with the bit writer, the header
// writer and the canonical codes, and read by zlib: the pieces fit together
// into streams that a real decoder accepts and inflates to the data.
#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <vector>

#include "deflatetest.h"
#include "driver/driver.h"

namespace {

struct token {
  int32_t l, d;   // l 1: literal byte d; else a match of length l at distance d
};

// Writes the tokens of each block as a dynamic block whose codes come from
// the block's own counts, has zlib inflate the stream and compares with data.
void expectinflates(const std::vector<std::vector<token>> &blocks, const std::string &data) {
  std::string bytes = capturebits([&] {
    for (size_t b = 0; b < blocks.size(); b++) {
      int32_t frq[hufslots] = {}, bit[hufslots] = {}, sym[hufslots] = {};
      for (const token &t : blocks[b]) {
        if (t.l == 1) {
          frq[t.d]++;
        } else {
          frq[huflind[t.l - 3] + 227]++;
          frq[hufdistslot + hufdind[t.d - 1]]++;
        }
      }
      frq[256] = 1;
      hufrq2bit(frq, 286, bit, 16);
      hufrq2bit(frq + hufdistslot, 30, bit + hufdistslot, 16);
      hufgensym(bit, 286, sym);
      hufgensym(bit + hufdistslot, 30, sym + hufdistslot);
      fputbits(b + 1 == blocks.size() ? 1 : 0, 1);
      fputbits(2, 2);
      storehuftables(bit);
      auto put = [&](int32_t slot, int32_t row, int32_t value) {
        fputbits(sym[slot], bit[slot]);
        fputbits(value - hxbit[row][1], hxbit[row][0]);
      };
      for (const token &t : blocks[b]) {
        if (t.l == 1) {
          fputbits(sym[t.d], bit[t.d]);
        } else {
          put(huflind[t.l - 3] + 227, huflind[t.l - 3], t.l);
          put(hufdistslot + hufdind[t.d - 1], hufdind[t.d - 1], t.d);
        }
      }
      fputbits(sym[256], bit[256]);
    }
    fputbits(0, (-zipbit) & 7);
  });
  bool ok = false;
  std::string out = inflateraw(bytes, &ok);
  EXPECT_TRUE(ok) << "zlib rejects the stream";
  EXPECT_TRUE(out == data) << "zlib inflates other data";
}

std::vector<token> literals(const std::string &data) {
  std::vector<token> v;
  for (unsigned char c : data) v.push_back({1, c});
  return v;
}

// Bytes whose counts halve from value to value: deep optimal codes that the
// 15-bit limit has to flatten.
std::string skewedbytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s;
  for (int32_t c = 0; c < 256; c++) s += (char)c;
  while (s.size() < n) s += (char)std::countr_zero(rng() | 0x80000000u);
  return s;
}

class DynamicBlock : public ::testing::Test {
 protected:
  void SetUp() override { initcodetables(); }
  void TearDown() override { resetsettings(); }
};

// Blocks of literals, each block with its own codes.
TEST_F(DynamicBlock, LiteralBlocksInflate) {
  std::string skewed = skewedbytes(400000, 4);
  int32_t frq[256] = {};   // the limit really applies: the counts span more than 2^15
  for (unsigned char c : skewed) frq[c]++;
  ASSERT_GT(frq[0], 1 << 16);
  ASSERT_EQ(frq[255], 1);
  struct lcase {
    const char *what;
    std::vector<std::string> blocks;
    int32_t fix;
  };
  const lcase cases[] = {
      {"random", {randombytes(50000, 1)}, 0},
      {"text", {textbytes(30000, 3)}, 0},
      {"one byte", {randombytes(1, 2)}, 0},
      {"one value and end of block", {std::string(1000, 'a')}, 0},
      {"end of block alone: a single 1-bit code", {""}, 0},
      {"skewed", {skewed}, 0},
      {"several blocks", {textbytes(5000, 5), randombytes(3000, 6), "", std::string(700, '\0'), skewedbytes(20000, 7)}, 0},
      // Distance code 0 gets a length although no match uses it.
      {"fixzlib121", {textbytes(4000, 8), randombytes(100, 9)}, 1},
  };
  for (const lcase &c : cases) {
    SCOPED_TRACE(c.what);
    fixzlib121 = c.fix;
    std::vector<std::vector<token>> blocks;
    std::string all;
    for (const std::string &d : c.blocks) {
      blocks.push_back(literals(d));
      all += d;
    }
    expectinflates(blocks, all);
  }
}

// After 40000 random bytes, every length 3..258 once, at distances that hit
// both ends of every distance code (powers of two and their neighbours, the
// halfway points and their neighbours).
TEST_F(DynamicBlock, MatchesOfEveryLengthAndDistanceCode) {
  std::string data = randombytes(40000, 10);
  std::vector<token> toks = literals(data);
  std::vector<int32_t> dists;
  for (int32_t d = 1; d <= 8; d++) dists.push_back(d);
  for (int32_t p = 8; p <= 32768; p *= 2)
    for (int32_t d : {p - 1, p, p + 1, p + p / 2 - 1, p + p / 2, p + p / 2 + 1})
      if (d <= 32768) dists.push_back(d);
  auto match = [&](int32_t l, int32_t d) {
    toks.push_back({l, d});
    for (int32_t k = 0; k < l; k++) data += data[data.size() - d];
  };
  size_t di = 0;
  for (int32_t l = 3; l <= 258; l++) {
    for (int32_t rep = 0; rep < (l >= 255 ? 4 : 1); rep++) match(l, dists[di++ % dists.size()]);
    toks.push_back({1, l & 255});
    data += (char)(l & 255);
  }
  for (int32_t d : dists) match(3, d);   // every distance at least once
  expectinflates({toks}, data);
}

}  // namespace
