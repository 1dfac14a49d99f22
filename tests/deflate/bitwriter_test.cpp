// The bit writer: fields go out least significant bit first, bytes are
// handed to the archive as soon as they are complete, and at most 7 bits
// stay pending.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "deflatetest.h"

namespace {

// Fields of given widths, and what stays pending and what reached the file.
TEST(BitWriter, FieldWidthsAndOrder) {
  struct bcase {
    const char *what;
    std::vector<std::pair<int32_t, int32_t>> fields;   // (value, width)
    uint32_t dat;
    int32_t bit;
    std::string bytes;
  };
  const bcase cases[] = {
      {"zero width", {{0, 0}}, 0, 0, ""},
      {"zero width after three bits", {{5, 3}, {0, 0}}, 5, 3, ""},
      {"BFINAL 1, BTYPE 2", {{1, 1}, {2, 2}}, 5, 3, ""},
      {"BFINAL 0, BTYPE 2", {{0, 1}, {2, 2}}, 4, 3, ""},
      // Byte 0: the 7 bits, then bit 0 of the field (0); byte 1: field bits
      // 1..8; the field's top 6 bits stay.
      {"15 bits on 7 pending", {{0x55, 7}, {0x1234, 15}}, 0x1234u >> 9, 6, std::string("\x55\x1a", 2)},
      // 0x2b | 0x1abcdef << 7 = 0xd5e6f7ab, least significant byte first.
      {"25 bits on 7 pending", {{0x2b, 7}, {0x1abcdef, 25}}, 0, 0, "\xab\xf7\xe6\xd5"},
      {"padding to a byte", {{0x1d, 5}, {0, 3}}, 0, 0, "\x1d"},
  };
  for (const bcase &c : cases) {
    SCOPED_TRACE(c.what);
    std::string b = capturebits([&] {
      for (auto [v, n] : c.fields) fputbits(v, n);
      EXPECT_EQ(zipdat, c.dat);
      EXPECT_EQ(zipbit, c.bit);
      EXPECT_EQ(votell(), (int32_t)c.bytes.size());
    });
    EXPECT_EQ(b, c.bytes);
  }
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
