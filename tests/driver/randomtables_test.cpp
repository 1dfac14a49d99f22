// Random starting tables (-rn): every run draws from its own seed, and every
// block of a file gets a table of its own; each table is a complete code
// with a length for every literal, length and distance slot.
#include <gtest/gtest.h>

#include <vector>

#include "deflate/deflate.h"
#include "driver/driver.h"

namespace {

std::vector<int32_t> draw(uint64_t *state) {
  std::vector<int32_t> frq(hufslots), bit(hufslots);
  randomlengths(state, frq.data(), bit.data());
  // A complete prefix code over each alphabet, every slot of it coded.
  double litlen = 0, dist = 0;
  for (int32_t s = 0; s < hufslots; s++) {
    bool used = s <= 285 || (s >= hufdistslot && s <= 317);
    EXPECT_EQ(bit[s] != 0, used) << "slot " << s;
    EXPECT_LE(bit[s], 15) << "slot " << s;
    if (bit[s]) (s < hufdistslot ? litlen : dist) += 1.0 / (1 << bit[s]);
  }
  EXPECT_EQ(litlen, 1.0);
  EXPECT_EQ(dist, 1.0);
  return bit;
}

TEST(RandomTables, EveryRunAndEveryBlockDrawsAfresh) {
  uint64_t run1 = runseed(), run2 = runseed();
  EXPECT_NE(run1, run2);
  std::vector<int32_t> first = draw(&run1), second = draw(&run1), other = draw(&run2);
  EXPECT_NE(first, second);   // two blocks of one file
  EXPECT_NE(first, other);    // the first block in two runs
  // The same seed draws the same tables.
  uint64_t again = 12345, same = 12345;
  EXPECT_EQ(draw(&again), draw(&same));
}

}  // namespace
