// Huffman code lengths (hufrq2bit with its heap) and canonical codes
// (hufgensym).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <queue>
#include <random>
#include <vector>

#include "deflate/deflate.h"
#include "driver/driver.h"

namespace {

using ivec = std::vector<int32_t>;

ivec lengthsof(const ivec &frq, int32_t limit) {
  ivec bit(frq.size(), -7);   // every entry must be written
  hufrq2bit(frq.data(), (int32_t)frq.size(), bit.data(), limit);
  return bit;
}

int64_t scaled(int32_t f, int32_t shr) { return ((int64_t)f + ((int64_t)1 << shr) - 1) >> shr; }

// Cost of an optimal prefix code for the used weights: the sum of all merged
// weights, whatever the tie-breaking.
int64_t optimalcost(const std::vector<int64_t> &w) {
  std::priority_queue<int64_t, std::vector<int64_t>, std::greater<int64_t>> q;
  for (int64_t x : w)
    if (x > 0) q.push(x);
  int64_t cost = 0;
  while (q.size() > 1) {
    int64_t a = q.top();
    q.pop();
    int64_t b = q.top();
    q.pop();
    cost += a + b;
    q.push(a + b);
  }
  return cost;
}

// The lengths are an optimal code for the counts coarsened by shr.
bool optimalat(const ivec &frq, const ivec &bit, int32_t shr) {
  std::vector<int64_t> w(frq.size());
  int64_t cost = 0;
  for (size_t i = 0; i < frq.size(); i++) {
    w[i] = frq[i] > 0 ? scaled(frq[i], shr) : 0;
    cost += w[i] * bit[i];
  }
  return cost == optimalcost(w);
}

// Checks what every result must satisfy; returns the smallest coarsening
// under which the lengths are optimal (-1: none).
int32_t checklengths(const ivec &frq, const ivec &bit, int32_t limit) {
  int32_t nz = 0;
  uint64_t kraft = 0;
  for (size_t i = 0; i < frq.size(); i++) {
    EXPECT_EQ(bit[i] == 0, frq[i] == 0) << "symbol " << i;
    EXPECT_GE(bit[i], 0);
    EXPECT_LT(bit[i], limit) << "symbol " << i;
    if (frq[i] > 0 && bit[i] > 0 && bit[i] < limit) {
      nz++;
      kraft += (uint64_t)1 << (limit - 1 - bit[i]);
    }
  }
  if (nz < 2) return 0;
  EXPECT_EQ(kraft, (uint64_t)1 << (limit - 1)) << "code not complete";
  for (int32_t shr = 0; shr < 32; shr++) {
    if (!optimalat(frq, bit, shr)) continue;
    // Adjacent symbols of equal weight at that coarsening (so also at any
    // coarser one): shorter or equal codes first.
    for (size_t i = 1; i < frq.size(); i++) {
      if (frq[i] > 0 && frq[i - 1] > 0 && scaled(frq[i], shr) == scaled(frq[i - 1], shr)) {
        EXPECT_LE(bit[i - 1], bit[i]) << "symbol " << i;
      }
    }
    return shr;
  }
  ADD_FAILURE() << "lengths are not a Huffman code at any coarsening";
  return -1;
}

class HuffmanLengths : public ::testing::Test {
 protected:
  void SetUp() override {
    savedfix = fixzlib121;
    fixzlib121 = 0;
  }
  void TearDown() override { fixzlib121 = savedfix; }
  int32_t savedfix = 0;
};

TEST(HuffmanHeap, RemovesNodesInSignedWeightOrder) {
  std::mt19937 rng(7);
  heapinit();
  const int32_t n = 289;
  for (int32_t i = 0; i < n; i++) {
    int32_t w = (int32_t)rng();
    if (i % 7 == 0) w = INT32_MAX;
    if (i % 11 == 0) w = INT32_MIN + 1;
    if (i % 13 == 0) w = -5;
    hpfrq[i] = w;
    heapinsert(i);
  }
  EXPECT_EQ(heapcnt, n);
  std::vector<bool> seen(n, false);
  int32_t last = INT32_MIN;
  for (int32_t k = 0; k < n; k++) {
    int32_t node = heapremovetop();
    ASSERT_GE(node, 0);
    ASSERT_LT(node, n);
    EXPECT_FALSE(seen[node]);
    seen[node] = true;
    EXPECT_LE(last, hpfrq[node]);
    last = hpfrq[node];
  }
  EXPECT_EQ(heapcnt, 0);
}

std::vector<int32_t> removalorder(const ivec &weights) {
  heapinit();
  for (int32_t i = 0; i < (int32_t)weights.size(); i++) {
    hpfrq[i] = weights[i];
    heapinsert(i);
  }
  std::vector<int32_t> order;
  while (heapcnt > 0) order.push_back(heapremovetop());
  return order;
}

TEST(HuffmanHeap, EqualWeightsFollowTheFixedTieRules) {
  // Five equal nodes: each new one stays below its equal parent; on removal
  // the last node moves to the top and stops at the first equal child.
  EXPECT_EQ(removalorder({7, 7, 7, 7, 7}), (ivec{0, 4, 3, 2, 1}));
  // Two equal children of a heavier moving node: the left one moves up.
  EXPECT_EQ(removalorder({1, 2, 2, 5}), (ivec{0, 1, 2, 3}));
}

TEST_F(HuffmanLengths, JoinedNodeQueuesBehindEqualLeaves) {
  // 1 + 1 makes a node of weight 2, inserted behind the two leaves of
  // weight 2: leaf 2 is joined with it, and leaf 3 with that, which gives
  // 3, 3, 2, 1; the runs of equal weight are then put in ascending order.
  EXPECT_EQ(lengthsof({1, 1, 2, 2}, 16), (ivec{3, 3, 1, 2}));
}

TEST_F(HuffmanLengths, FourEqualCountsGiveTwoBitsEach) {
  EXPECT_EQ(lengthsof({1, 1, 1, 1}, 16), (ivec{2, 2, 2, 2}));
}

TEST_F(HuffmanLengths, EqualWeightRunGetsAscendingLengths) {
  EXPECT_EQ(lengthsof({5, 0, 5, 5, 5, 1}, 16), (ivec{2, 0, 2, 2, 3, 3}));
}

TEST_F(HuffmanLengths, FibonacciCountsAreCoarsenedOnce) {
  ivec frq{1, 1};
  while (frq.size() < 20) frq.push_back(frq[frq.size() - 1] + frq[frq.size() - 2]);
  ivec bit = lengthsof(frq, 16);
  EXPECT_EQ(bit, (ivec{10, 10, 10, 10, 9, 9, 8, 8, 7, 7, 6, 6, 5, 5, 4, 4, 3, 3, 2, 2}));
  EXPECT_EQ(checklengths(frq, bit, 16), 1);
}

TEST_F(HuffmanLengths, SingleUsedSymbolGetsOneBit) {
  for (int32_t fix = 0; fix <= 1; fix++) {
    fixzlib121 = fix;
    for (int32_t at : {0, 7, 18}) {
      ivec frq(19, 0);
      frq[at] = 1000;
      ivec want(19, 0);
      want[at] = 1;
      EXPECT_EQ(lengthsof(frq, 8), want) << "symbol " << at << ", fixzlib121 " << fix;
    }
  }
}

TEST_F(HuffmanLengths, NoUsedSymbolGivesNoCodeUnlessZlib121IsServed) {
  EXPECT_EQ(lengthsof(ivec(30, 0), 16), ivec(30, 0));
  fixzlib121 = 1;
  ivec want(30, 0);
  want[0] = 1;
  EXPECT_EQ(lengthsof(ivec(30, 0), 16), want);
}

TEST_F(HuffmanLengths, TwoUsedSymbolsGetOneBitEach) {
  ivec frq(286, 0);
  frq[3] = 100000;
  frq[285] = 1;
  ivec want(286, 0);
  want[3] = 1;
  want[285] = 1;
  EXPECT_EQ(lengthsof(frq, 16), want);
}

TEST_F(HuffmanLengths, RandomCountsGiveCompleteLimitedCodes) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 400; trial++) {
    bool small = trial % 2;
    int32_t n = small ? 19 : 286, limit = small ? 8 : 16;
    ivec frq(n);
    int32_t mode = trial % 4;
    int64_t sum = 0;
    for (auto &f : frq) {
      if (rng() % 3 == 0) {
        f = 0;
      } else if (mode < 2) {
        f = 1 + (int32_t)(rng() % 5000);
      } else {
        f = (int32_t)((rng() >> (rng() % 32)) >> 10);   // spread over many magnitudes
      }
      sum += f;
    }
    ASSERT_LT(sum, (int64_t)1 << 31);
    checklengths(frq, lengthsof(frq, limit), limit);
  }
}

TEST_F(HuffmanLengths, HugeSkewedCountsAreCoarsenedToFit) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 40; trial++) {
    bool small = trial % 2;
    int32_t n = small ? 19 : 286, limit = small ? 8 : 16;
    // Powers of two: an optimal code for them is a chain as deep as there
    // are symbols, far beyond the limit.
    ivec frq(n, 0);
    int32_t used = small ? 19 : 30;
    for (int32_t k = 0; k < used; k++) frq[k] = 1 << k;
    if (!small) std::fill(frq.begin() + used, frq.end(), trial % 4 == 0 ? 0 : 1);
    std::shuffle(frq.begin(), frq.end(), rng);
    int64_t sum = 0;
    for (int32_t f : frq) sum += f;
    ASSERT_LT(sum, (int64_t)1 << 31);
    EXPECT_GT(checklengths(frq, lengthsof(frq, limit), limit), 0);
  }
}

// ---- Canonical codes ---------------------------------------------------

ivec codesof(const ivec &len, int32_t fill) {
  ivec sym(len.size(), fill);
  hufgensym(len.data(), (int32_t)len.size(), sym.data());
  return sym;
}

TEST(CanonicalCodes, Rfc1951ExampleComesOutReversed) {
  // 010, 011, 100, 101, 110, 00, 1110, 1111, each read backwards.
  EXPECT_EQ(codesof({3, 3, 3, 3, 3, 2, 4, 4}, 0), (ivec{2, 6, 1, 5, 3, 0, 7, 15}));
  // A = 10, B = 0, C = 110, D = 111.
  EXPECT_EQ(codesof({2, 1, 3, 3}, 0), (ivec{1, 0, 3, 7}));
}

TEST(CanonicalCodes, SymbolsWithoutLengthKeepTheirEntries) {
  ivec len{0, 2, 0, 2, 2, 0, 2, 0};
  ivec sym{100, 101, 102, 103, 104, 105, 106, 107};
  hufgensym(len.data(), 8, sym.data());
  EXPECT_EQ(sym, (ivec{100, 0, 102, 2, 1, 105, 3, 107}));
}

TEST(CanonicalCodes, RandomCodesAreCanonicalAndComplete) {
  std::mt19937 rng(17);
  for (int trial = 0; trial < 200; trial++) {
    ivec frq(trial % 2 ? 286 : 30);
    for (auto &f : frq) f = rng() % 3 ? (int32_t)((rng() >> (rng() % 32)) >> 10) : 0;
    frq[trial % frq.size()] = 1;
    frq[(trial + 1) % frq.size()] = 1;
    ivec len = lengthsof(frq, 16);
    ivec sym = codesof(len, -1);
    // Undo the reversal, then walk the symbols by (length, symbol): each
    // code follows the previous one, extended by the length difference.
    std::vector<std::pair<int32_t, int32_t>> order;
    for (int32_t i = 0; i < (int32_t)len.size(); i++)
      if (len[i]) order.push_back({len[i], i});
    std::sort(order.begin(), order.end());
    uint32_t want = 0;
    int32_t prevlen = order[0].first;
    for (size_t k = 0; k < order.size(); k++) {
      auto [l, i] = order[k];
      if (k > 0) want = (want + 1) << (l - prevlen);
      prevlen = l;
      uint32_t code = 0;
      for (int32_t b = 0; b < l; b++) code |= (((uint32_t)sym[i] >> b) & 1) << (l - 1 - b);
      ASSERT_EQ((uint32_t)sym[i] >> l, 0u) << "symbol " << i;
      ASSERT_EQ(code, want) << "symbol " << i;
    }
    EXPECT_EQ(want, (1u << prevlen) - 1);   // the last code is all ones
  }
}

}  // namespace
