// The fingerprint of the code lengths a pass was coded with, by which a
// repeating sequence of passes is recognised. Expected values come from
// zlib's CRC-32, never from our own table.
#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

#include "deflate/deflate.h"
#include "driver/driver.h"
#include "zipout/zipout.h"

namespace {

// The first `rows` rows as one sequence, pairs from the last to the first,
// each pair (a at the even position, b at the odd one) packed into b * 16 + a.
// zlib presets the register to all ones and complements the result; the
// fingerprint is the register itself.
uint32_t byzlib(int32_t rows) {
  const uint8_t *seq = &oldhufbit[0][0];
  std::vector<uint8_t> p;
  for (int32_t k = rows * 320 - 2; k >= 0; k -= 2) p.push_back((uint8_t)(seq[k + 1] * 16 + seq[k]));
  return (uint32_t)crc32(0, p.data(), (uInt)p.size()) ^ 0xffffffffu;
}

TEST(Fingerprint, EqualsZlibsRegisterOverThePassesBlocks) {
  initcrc();
  struct fpcase {
    const char *what;
    int32_t blocks;
    uint8_t (*length)(int b, int s);   // fills every row: those beyond the count must not count
  };
  const fpcase cases[] = {
      {"all zero", 1, [](int, int) -> uint8_t { return 0; }},
      // Asymmetric pairs: a swapped pair or a forward reading gives another value.
      {"mixed lengths", 5, [](int b, int s) -> uint8_t { return (uint8_t)((s * 7 + b * 3 + (s >> 4)) % 16); }},
      // Only the first slot of the first row and the last of the second.
      {"two ends", 2,
       [](int b, int s) -> uint8_t { return b == 0 && s == 0 ? 1 : b == 1 && s == 319 ? 15 : b >= 2 ? 9 : 0; }},
      {"full table", 1024, [](int b, int s) -> uint8_t { return (uint8_t)((b ^ s) & 15); }},
  };
  for (const fpcase &c : cases) {
    SCOPED_TRACE(c.what);
    for (int b = 0; b < 1024; b++)
      for (int s = 0; s < 320; s++) oldhufbit[b][s] = c.length(b, s);
    hufnum = c.blocks;
    EXPECT_EQ(passfingerprint(), byzlib(c.blocks));
  }
}

}  // namespace
