// The fingerprint of the code lengths a pass was coded with, by which a
// repeating sequence of passes is recognised. The expected values come from
// zlib's CRC-32 and from a bitwise CRC, never from our own table.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "deflate/deflate.h"
#include "driver/driver.h"
#include "zipout/zipout.h"

namespace {

// The rows as one sequence, pairs from the last to the first, each pair
// (a at the even position, b at the odd one) packed into b * 16 + a.
std::vector<uint8_t> packedpairs(int32_t rows) {
  const uint8_t *seq = &oldhufbit[0][0];
  std::vector<uint8_t> p;
  for (int32_t k = rows * 320 - 2; k >= 0; k -= 2) p.push_back((uint8_t)(seq[k + 1] * 16 + seq[k]));
  return p;
}

// zlib presets the register to all ones and complements the result; the
// fingerprint is the register itself.
uint32_t byzlib(int32_t rows) {
  std::vector<uint8_t> p = packedpairs(rows);
  return (uint32_t)crc32(0, p.data(), (uInt)p.size()) ^ 0xffffffffu;
}

uint32_t bybits(int32_t rows) {
  uint32_t r = 0xffffffffu;
  for (uint8_t b : packedpairs(rows)) {
    r ^= b;
    for (int k = 0; k < 8; k++) r = (r >> 1) ^ (0xedb88320u & (0u - (r & 1)));
  }
  return r;
}

class Fingerprint : public ::testing::Test {
 protected:
  void SetUp() override {
    resetsettings();
    initcrc();
    memset(oldhufbit, 0, sizeof oldhufbit);
  }
};

// The fixed starting lengths of the first pass.
void fixedrow(uint8_t *row) {
  for (int s = 0; s < 320; s++) {
    uint8_t v = 0;
    if (s <= 143) v = 8;
    else if (s <= 255) v = 9;
    else if (s <= 281) v = 7;
    else if (s <= 285) v = 8;
    else if (s >= 288 && s <= 289) v = 4;
    else if (s >= 290 && s <= 317) v = 5;
    row[s] = v;
  }
}

TEST_F(Fingerprint, OneBlockOfFixedLengths) {
  fixedrow(oldhufbit[0]);
  hufnum = 1;
  EXPECT_EQ(passfingerprint(), byzlib(1));
  EXPECT_EQ(passfingerprint(), bybits(1));
}

TEST_F(Fingerprint, AllZeroRow) {
  hufnum = 1;
  EXPECT_EQ(passfingerprint(), byzlib(1));
  EXPECT_EQ(passfingerprint(), bybits(1));
}

TEST_F(Fingerprint, SeveralBlocksOfMixedLengths) {
  for (int b = 0; b < 5; b++)
    for (int s = 0; s < 320; s++) oldhufbit[b][s] = (uint8_t)((s * 7 + b * 3 + (s >> 4)) % 16);
  hufnum = 5;
  EXPECT_EQ(passfingerprint(), byzlib(5));
}

TEST_F(Fingerprint, PairOrderMatters) {
  // Swapping the two lengths of a pair changes the packed byte.
  hufnum = 1;
  oldhufbit[0][10] = 3;
  oldhufbit[0][11] = 5;
  uint32_t f1 = passfingerprint();
  EXPECT_EQ(f1, byzlib(1));
  oldhufbit[0][10] = 5;
  oldhufbit[0][11] = 3;
  uint32_t f2 = passfingerprint();
  EXPECT_EQ(f2, byzlib(1));
  EXPECT_NE(f1, f2);
}

TEST_F(Fingerprint, SequenceIsReadFromTheEnd) {
  // One length at the very first and one at the very last slot of two
  // blocks: reading in the wrong direction gives another value.
  hufnum = 2;
  oldhufbit[0][0] = 1;
  oldhufbit[1][319] = 15;
  EXPECT_EQ(passfingerprint(), byzlib(2));
}

TEST_F(Fingerprint, RowsBeyondTheBlockCountDoNotCount) {
  hufnum = 2;
  fixedrow(oldhufbit[0]);
  fixedrow(oldhufbit[1]);
  uint32_t before = passfingerprint();
  memset(oldhufbit[2], 9, 320);
  memset(oldhufbit[1023], 4, 320);
  EXPECT_EQ(passfingerprint(), before);
  EXPECT_EQ(before, byzlib(2));
}

TEST_F(Fingerprint, EveryBlockOfAFullTable) {
  for (int b = 0; b < 1024; b++)
    for (int s = 0; s < 320; s++) oldhufbit[b][s] = (uint8_t)((b ^ s) & 15);
  hufnum = 1024;
  EXPECT_EQ(passfingerprint(), byzlib(1024));
}

}  // namespace
