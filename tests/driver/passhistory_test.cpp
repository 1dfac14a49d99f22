// The pass history: how the loop recognises that its passes have started to
// repeat, which entry it keeps then, and where it stops at the latest. Each
// simulated pass is given by the tables it coded with and its length, which
// is all the history sees of a pass.
#include <gtest/gtest.h>

#include <cstring>

#include "deflate/deflate.h"
#include "driver/driver.h"
#include "zipout/zipout.h"

namespace {

// The lengths of table t, block b, slot s: slots 0..2 spell t in base 15,
// the rest differ from block to block.
uint8_t length(int32_t t, int32_t b, int32_t s) {
  if (s < 3) return (uint8_t)(1 + (s == 0 ? t : s == 1 ? t / 15 : t / 225) % 15);
  return (uint8_t)(1 + (s * 5 + b * 3) % 15);
}

class PassHistory : public ::testing::Test {
 protected:
  void SetUp() override {
    resetsettings();
    initcrc();
    memset(oldhufbit, 0, sizeof oldhufbit);
    memset(besthufbit, 0, sizeof besthufbit);
    hufnum = 3;
    passcnt = 0;
    lastpass = 0;
    bestleng = 0x7fffffff;
  }

  // One search pass that coded with table t and came out len bytes long,
  // as the loop runs it: the blocks then hold the lengths the pass derived
  // (here always those of table 999). True when the loop stops on it.
  bool pass(int32_t t, int32_t len) {
    for (int32_t b = 0; b < hufnum; b++)
      for (int32_t s = 0; s < 320; s++) {
        oldhufbit[b][s] = length(t, b, s);
        huf[b].bit[s] = length(999, b, s);
      }
    bool stop = recordpass(len);
    if (!stop) passcnt++;
    return stop;
  }

  // Whether every block holds the lengths of table t.
  static bool blocksheld(int32_t t) {
    for (int32_t b = 0; b < hufnum; b++)
      for (int32_t s = 0; s < 320; s++)
        if (huf[b].bit[s] != length(t, b, s)) return false;
    return true;
  }
  static bool bestis(int32_t t) {
    for (int32_t b = 0; b < hufnum; b++)
      for (int32_t s = 0; s < 320; s++)
        if (besthufbit[b][s] != length(t, b, s)) return false;
    return true;
  }
};

TEST_F(PassHistory, NewTablesGoOnAndTheShortestIsRemembered) {
  EXPECT_FALSE(pass(1, 100));
  EXPECT_FALSE(pass(2, 90));
  EXPECT_FALSE(pass(3, 95));
  EXPECT_EQ(0, lastpass);
  EXPECT_EQ(3, passcnt);
  EXPECT_EQ(90, bestleng);
  EXPECT_TRUE(bestis(2));
  EXPECT_TRUE(blocksheld(999));
}

// A repeat of the shortest pass, or one as short, stops: its entry stands
// and no pass follows. A repeat of a longer pass lets one final pass
// follow, with the best pass's tables in every block.
TEST_F(PassHistory, ARepeatStopsOrRecreatesTheBest) {
  struct repeat { int32_t table, len; bool stops; };
  for (repeat r : {repeat{2, 90, true}, repeat{4, 90, true}, repeat{1, 100, false}}) {
    SCOPED_TRACE(r.table);
    SetUp();
    EXPECT_FALSE(pass(1, 100));
    EXPECT_FALSE(pass(2, 90));
    EXPECT_FALSE(pass(3, 95));
    EXPECT_FALSE(pass(4, 90));
    EXPECT_EQ(r.stops, pass(r.table, r.len));
    EXPECT_EQ(r.stops ? 0 : 1, lastpass);
    EXPECT_EQ(90, bestleng);
    EXPECT_TRUE(bestis(2));
    EXPECT_TRUE(blocksheld(r.stops ? 999 : 2));
  }
}

// A repeat needs both the same tables and the same length.
TEST_F(PassHistory, SameTablesOrSameLengthAloneIsNoRepeat) {
  EXPECT_FALSE(pass(1, 100));
  EXPECT_FALSE(pass(1, 101));
  EXPECT_FALSE(pass(2, 100));
  EXPECT_FALSE(pass(2, 101));
  EXPECT_EQ(0, lastpass);
  EXPECT_EQ(4, passcnt);
  EXPECT_FALSE(pass(1, 101));
  EXPECT_EQ(1, lastpass);
  EXPECT_TRUE(blocksheld(1));
}

// Tables that differ in one slot of the last block only are other tables.
TEST_F(PassHistory, EveryBlockOfThePassCounts) {
  EXPECT_FALSE(pass(1, 100));
  for (int32_t s = 0; s < 320; s++) oldhufbit[2][s] = length(1, 2, s);
  oldhufbit[2][319] ^= 1;
  EXPECT_FALSE(recordpass(100));
  EXPECT_EQ(0, lastpass);
}

// The search reaches back to the first pass of a long history.
TEST_F(PassHistory, ARepeatOfTheFirstPassIsFoundAfterManyOthers) {
  EXPECT_FALSE(pass(0, 500));
  for (int32_t t = 1; t <= 700; t++) ASSERT_FALSE(pass(t, 400 + t % 50)) << t;
  EXPECT_FALSE(pass(0, 500));
  EXPECT_EQ(1, lastpass);
  EXPECT_TRUE(bestis(50));
  EXPECT_TRUE(blocksheld(50));
}

// 1024 passes are recorded; the 1025th stops the loop without comparison,
// even when it is the shortest or the longest so far.
TEST_F(PassHistory, TheCapStopsThe1025thPass) {
  for (int32_t longer : {0, 1}) {
    SCOPED_TRACE(longer ? "longer" : "shorter");
    SetUp();
    for (int32_t t = 0; t < maxpasses; t++) ASSERT_FALSE(pass(t, 5000 - t % 700)) << t;
    EXPECT_EQ(1024, passcnt);
    EXPECT_EQ(0, lastpass);
    int32_t best = bestleng;
    EXPECT_TRUE(pass(2000, longer ? 9000 : 10));
    EXPECT_EQ(0, lastpass);
    EXPECT_EQ(best, bestleng);
    EXPECT_EQ(1024, passcnt);
  }
}

}  // namespace
