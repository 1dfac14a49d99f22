// Complete dynamic blocks written by hand with the bit writer, the header
// writer and the canonical codes, and read by zlib: the pieces fit together
// into streams that a real decoder accepts and inflates to the data.
#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <vector>

#include "deflate/deflate.h"
#include "driver/driver.h"
#include "testsupport.h"

namespace {

struct token {
  int32_t l, d;   // l 1: literal byte d; else a match of length l at distance d
};

// Writes the tokens of each block as a dynamic block whose codes come from
// the block's own counts, into a new file; returns the file's bytes.
std::string writeblocks(const std::vector<std::vector<token>> &blocks) {
  std::string dir = maketempdir();
  std::string path = dir + "/blocks.bin";
  std::string bytes;
  if (!voopen(path.c_str())) {
    ADD_FAILURE() << "cannot open " << path;
    removetree(dir);
    return bytes;
  }
  zipdat = 0;
  zipbit = 0;
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
    for (const token &t : blocks[b]) {
      if (t.l == 1) {
        fputbits(sym[t.d], bit[t.d]);
        continue;
      }
      int32_t row = huflind[t.l - 3];
      fputbits(sym[row + 227], bit[row + 227]);
      fputbits(t.l - hxbit[row][1], hxbit[row][0]);
      row = hufdind[t.d - 1];
      fputbits(sym[hufdistslot + row], bit[hufdistslot + row]);
      fputbits(t.d - hxbit[row][1], hxbit[row][0]);
    }
    fputbits(sym[256], bit[256]);
  }
  fputbits(0, (-zipbit) & 7);
  voclose();
  bytes = readfile(path);
  removetree(dir);
  return bytes;
}

std::vector<token> literals(const std::string &data) {
  std::vector<token> v;
  for (unsigned char c : data) v.push_back({1, c});
  return v;
}

void expectinflates(const std::vector<std::string> &blockdata) {
  std::vector<std::vector<token>> blocks;
  std::string all;
  for (const std::string &d : blockdata) {
    blocks.push_back(literals(d));
    all += d;
  }
  bool ok = false;
  std::string out = inflateraw(writeblocks(blocks), &ok);
  EXPECT_TRUE(ok) << "zlib rejects the stream";
  EXPECT_TRUE(out == all) << "zlib inflates other data";
}

// Bytes whose counts halve from value to value: deep optimal codes that the
// 15-bit limit has to flatten.
std::string skewedbytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s;
  for (int32_t c = 0; c < 256; c++) s += (char)c;
  while (s.size() < n) {
    uint32_t r = rng() | 0x80000000u;
    s += (char)std::countr_zero(r);
  }
  return s;
}

class DynamicBlock : public ::testing::Test {
 protected:
  void SetUp() override {
    initcodetables();
    savedfix = fixzlib121;
    fixzlib121 = 0;
  }
  void TearDown() override { fixzlib121 = savedfix; }
  int32_t savedfix = 0;
};

TEST_F(DynamicBlock, LiteralBlocksInflate) {
  expectinflates({randombytes(50000, 1)});
  expectinflates({textbytes(30000, 3)});
  expectinflates({randombytes(1, 2)});
  expectinflates({std::string(1000, 'a')});   // one byte value and end of block
  expectinflates({""});                        // end of block alone: a single 1-bit code
}

TEST_F(DynamicBlock, SkewedLiteralsGetLimitedCodes) {
  std::string data = skewedbytes(400000, 4);
  // The limit really applies: the counts span more than 2^15.
  int32_t frq[256] = {};
  for (unsigned char c : data) frq[c]++;
  ASSERT_GT(frq[0], 1 << 16);
  ASSERT_EQ(frq[255], 1);
  expectinflates({data});
}

TEST_F(DynamicBlock, SeveralBlocksWithTheirOwnCodes) {
  expectinflates({textbytes(5000, 5), randombytes(3000, 6), "", std::string(700, '\0'), skewedbytes(20000, 7)});
}

TEST_F(DynamicBlock, EmptyDistanceCodeForOldZlib) {
  // With fixzlib121 distance code 0 gets a length although no match uses it.
  fixzlib121 = 1;
  expectinflates({textbytes(4000, 8), randombytes(100, 9)});
}

TEST_F(DynamicBlock, MatchesOfEveryLengthAndDistanceCode) {
  // After 40000 random bytes, every length 3..258 once, at distances that
  // hit both ends of every distance code (powers of two and their
  // neighbours, the halfway points and their neighbours).
  std::string data = randombytes(40000, 10);
  std::vector<token> toks = literals(data);
  std::vector<int32_t> dists;
  for (int32_t d = 1; d <= 8; d++) dists.push_back(d);
  for (int32_t p = 8; p <= 32768; p *= 2)
    for (int32_t d : {p - 1, p, p + 1, p + p / 2 - 1, p + p / 2, p + p / 2 + 1})
      if (d <= 32768) dists.push_back(d);
  size_t di = 0;
  for (int32_t l = 3; l <= 258; l++) {
    for (int32_t rep = 0; rep < (l >= 255 ? 4 : 1); rep++) {
      int32_t d = dists[di++ % dists.size()];
      toks.push_back({l, d});
      for (int32_t k = 0; k < l; k++) data += data[data.size() - d];
    }
    toks.push_back({1, l & 255});
    data += (char)(l & 255);
  }
  for (int32_t d : dists) {   // every distance at least once
    toks.push_back({3, d});
    for (int32_t k = 0; k < 3; k++) data += data[data.size() - d];
  }
  bool ok = false;
  std::string out = inflateraw(writeblocks({toks}), &ok);
  EXPECT_TRUE(ok) << "zlib rejects the stream";
  EXPECT_TRUE(out == data) << "zlib inflates other data";
}

}  // namespace
