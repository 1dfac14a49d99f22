// The bit writer: fields go out least significant bit first, bytes are
// handed to the archive as soon as they are complete, and at most 7 bits
// stay pending.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "deflate/deflate.h"
#include "testsupport.h"

namespace {

// Runs body with the bit writer reset at the start of a new archive file and
// returns the bytes that reached the file.
template <typename F>
std::string capturebits(F body) {
  std::string dir = maketempdir();
  std::string path = dir + "/bits.bin";
  std::string bytes;
  if (voopen(path.c_str())) {
    zipdat = 0;
    zipbit = 0;
    body();
    voclose();
    bytes = readfile(path);
  } else {
    ADD_FAILURE() << "cannot open " << path;
  }
  removetree(dir);
  return bytes;
}

TEST(BitWriter, ZeroWidthFieldChangesNothing) {
  std::string b = capturebits([] {
    fputbits(0, 0);
    EXPECT_EQ(zipbit, 0);
    EXPECT_EQ(zipdat, 0u);
    fputbits(5, 3);
    fputbits(0, 0);
    EXPECT_EQ(zipbit, 3);
    EXPECT_EQ(zipdat, 5u);
    EXPECT_EQ(votell(), 0);
  });
  EXPECT_TRUE(b.empty());
}

TEST(BitWriter, BlockStartFieldsPendLowBitFirst) {
  capturebits([] {
    fputbits(1, 1);   // BFINAL
    fputbits(2, 2);   // BTYPE 2
    EXPECT_EQ(zipdat, 5u);   // bits 1, 0, 1
    EXPECT_EQ(zipbit, 3);
    EXPECT_EQ(votell(), 0);
  });
  capturebits([] {
    fputbits(0, 1);
    fputbits(2, 2);
    EXPECT_EQ(zipdat, 4u);
    EXPECT_EQ(zipbit, 3);
  });
}

TEST(BitWriter, FifteenBitsOnSevenPendingCompleteTwoBytes) {
  std::string b = capturebits([] {
    fputbits(0x55, 7);
    fputbits(0x1234, 15);
    EXPECT_EQ(zipbit, 6);
    EXPECT_EQ(zipdat, 0x1234u >> 9);   // the field's top 6 bits
    EXPECT_EQ(votell(), 2);
  });
  // Byte 0: the 7 bits, then bit 0 of the field (0); byte 1: field bits 1..8.
  EXPECT_EQ(b, std::string("\x55\x1a", 2));
}

TEST(BitWriter, TwentyFiveBitsOnSevenPendingFillFourBytes) {
  std::string b = capturebits([] {
    fputbits(0x2b, 7);
    fputbits(0x1abcdef, 25);
    EXPECT_EQ(zipbit, 0);
    EXPECT_EQ(zipdat, 0u);
    EXPECT_EQ(votell(), 4);
  });
  // 0x2b | 0x1abcdef << 7 = 0xd5e6f7ab, least significant byte first.
  EXPECT_EQ(b, std::string("\xab\xf7\xe6\xd5", 4));
}

TEST(BitWriter, ClosingPadsWithZerosToAByte) {
  std::string b = capturebits([] {
    fputbits(0x1d, 5);
    fputbits(0, (-zipbit) & 7);
    EXPECT_EQ(zipbit, 0);
    EXPECT_EQ(votell(), 1);
    fputbits(0, (-zipbit) & 7);   // already aligned: nothing more
    EXPECT_EQ(votell(), 1);
  });
  EXPECT_EQ(b, std::string("\x1d", 1));
}

TEST(BitWriter, RandomFieldsPackLikeAnLsbFirstBitList) {
  std::mt19937 rng(12345);
  std::vector<uint8_t> bits;
  bool stateok = true;
  std::string b = capturebits([&] {
    for (int k = 0; k < 20000; k++) {
      int32_t n = (int32_t)(rng() % 26);
      int32_t v = (int32_t)(rng() & ((1u << n) - 1));
      fputbits(v, n);
      for (int32_t j = 0; j < n; j++) bits.push_back((uint8_t)((v >> j) & 1));
      stateok = stateok && zipbit >= 0 && zipbit <= 7 && (zipdat >> zipbit) == 0 &&
                (size_t)votell() * 8 + (size_t)zipbit == bits.size();
    }
    fputbits(0, (-zipbit) & 7);
  });
  EXPECT_TRUE(stateok);
  std::string want((bits.size() + 7) / 8, '\0');
  for (size_t i = 0; i < bits.size(); i++) want[i / 8] = (char)(want[i / 8] | bits[i] << (i % 8));
  EXPECT_EQ(b, want);
}

}  // namespace
