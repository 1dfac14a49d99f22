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

// The lengths are an optimal code for the counts coarsened by shr: their
// cost is the sum of all merged weights of a Huffman tree, whatever its ties.
bool optimalat(const ivec &frq, const ivec &bit, int32_t shr) {
  std::priority_queue<int64_t, std::vector<int64_t>, std::greater<int64_t>> q;
  int64_t cost = 0;
  for (size_t i = 0; i < frq.size(); i++)
    if (frq[i] > 0) {
      q.push(scaled(frq[i], shr));
      cost += scaled(frq[i], shr) * bit[i];
    }
  while (q.size() > 1) {
    int64_t a = q.top();
    q.pop();
    a += q.top();
    q.pop();
    cost -= a;
    q.push(a);
  }
  return cost == 0;
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

// Node numbers in the order the heap gives them back.
ivec removalorder(const ivec &weights) {
  heapinit();
  for (int32_t i = 0; i < (int32_t)weights.size(); i++) {
    hpfrq[i] = weights[i];
    heapinsert(i);
  }
  ivec order;
  while (heapcnt > 0) order.push_back(heapremovetop());
  return order;
}

TEST(HuffmanHeap, RemovesNodesInSignedWeightOrder) {
  std::mt19937 rng(7);
  ivec w(289);
  for (int32_t i = 0; i < 289; i++)
    w[i] = i % 13 == 0 ? -5 : i % 11 == 0 ? INT32_MIN + 1 : i % 7 == 0 ? INT32_MAX : (int32_t)rng();
  ivec order = removalorder(w), sorted = order;
  ASSERT_EQ(order.size(), w.size());
  std::sort(sorted.begin(), sorted.end());
  for (int32_t k = 0; k < 289; k++) {
    EXPECT_EQ(sorted[k], k) << "not every node came back once";
    EXPECT_TRUE(k == 0 || w[order[k - 1]] <= w[order[k]]) << "removal " << k;
  }
}

TEST(HuffmanHeap, EqualWeightsFollowTheFixedTieRules) {
  // Five equal nodes: each new one stays below its equal parent; on removal
  // the last node moves to the top and stops at the first equal child.
  EXPECT_EQ(removalorder({7, 7, 7, 7, 7}), (ivec{0, 4, 3, 2, 1}));
  // Two equal children of a heavier moving node: the left one moves up.
  EXPECT_EQ(removalorder({1, 2, 2, 5}), (ivec{0, 1, 2, 3}));
}

// Lengths of given counts, in the order the fixed tie rules give them.
TEST(HuffmanLengths, Examples) {
  ivec fib{1, 1};
  while (fib.size() < 20) fib.push_back(fib[fib.size() - 1] + fib[fib.size() - 2]);
  ivec two(286, 0), twowant(286, 0), none1(30, 0);
  none1[0] = 1;
  two[3] = 100000;
  two[285] = 1;
  twowant[3] = twowant[285] = 1;
  struct lcase {
    const char *what;
    ivec frq;
    int32_t limit, fix;
    ivec want;
  };
  std::vector<lcase> cases = {
      {"four equal counts", {1, 1, 1, 1}, 16, 0, {2, 2, 2, 2}},
      // 1 + 1 makes a node of weight 2, inserted behind the two leaves of
      // weight 2: leaf 2 is joined with it, and leaf 3 with that, which gives
      // 3, 3, 2, 1; the runs of equal weight are then put in ascending order.
      {"joined node queues behind equal leaves", {1, 1, 2, 2}, 16, 0, {3, 3, 1, 2}},
      {"equal-weight run gets ascending lengths", {5, 0, 5, 5, 5, 1}, 16, 0, {2, 0, 2, 2, 3, 3}},
      // An optimal code would need 19 bits: the counts are halved once.
      {"Fibonacci counts", fib, 16, 0, {10, 10, 10, 10, 9, 9, 8, 8, 7, 7, 6, 6, 5, 5, 4, 4, 3, 3, 2, 2}},
      {"two used symbols", two, 16, 0, twowant},
      {"no used symbol", ivec(30, 0), 16, 0, ivec(30, 0)},
      {"no used symbol, fixzlib121", ivec(30, 0), 16, 1, none1},
  };
  for (int32_t fix = 0; fix <= 1; fix++)
    for (int32_t at : {0, 7, 18}) {
      ivec frq(19, 0), want(19, 0);
      frq[at] = 1000;
      want[at] = 1;
      cases.push_back({"one used symbol", frq, 8, fix, want});
    }
  for (const lcase &c : cases) {
    SCOPED_TRACE(::testing::Message() << c.what << ", fixzlib121 " << c.fix);
    fixzlib121 = c.fix;
    ivec bit = lengthsof(c.frq, c.limit);
    EXPECT_EQ(bit, c.want);
    if (c.frq == fib) {
      EXPECT_EQ(checklengths(c.frq, bit, c.limit), 1);
    }
  }
  resetsettings();
}

// Counts of every spread give complete codes within the limit, optimal for
// the counts coarsened as little as possible. Powers of two need a chain as
// deep as there are symbols, far beyond the limit, so they must be coarsened.
TEST(HuffmanLengths, RandomCountsGiveCompleteLimitedCodes) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 440; trial++) {
    bool small = trial % 2, skewed = trial >= 400;
    int32_t n = small ? 19 : 286, limit = small ? 8 : 16;
    ivec frq(n, 0);
    if (skewed) {
      int32_t used = small ? 19 : 30;
      for (int32_t k = 0; k < used; k++) frq[k] = 1 << k;
      if (!small) std::fill(frq.begin() + used, frq.end(), trial % 4 == 0 ? 0 : 1);
      std::shuffle(frq.begin(), frq.end(), rng);
    } else {
      for (auto &f : frq)
        if (rng() % 3 != 0)   // else unused
          f = trial % 4 < 2 ? 1 + (int32_t)(rng() % 5000) : (int32_t)((rng() >> (rng() % 32)) >> 10);
    }
    int64_t sum = 0;
    for (int32_t f : frq) sum += f;
    ASSERT_LT(sum, (int64_t)1 << 31);
    int32_t shr = checklengths(frq, lengthsof(frq, limit), limit);
    EXPECT_TRUE(!skewed || shr > 0) << "powers of two fit uncoarsened";
  }
}

// ---- Canonical codes ---------------------------------------------------
// Codes of random lengths are checked by zlib in the dynamic block tests.

TEST(CanonicalCodes, Examples) {
  struct ccase {
    ivec len, before, want;
  };
  const ccase cases[] = {
      // RFC 1951: 010, 011, 100, 101, 110, 00, 1110, 1111, each read backwards.
      {{3, 3, 3, 3, 3, 2, 4, 4}, ivec(8, 0), {2, 6, 1, 5, 3, 0, 7, 15}},
      // RFC 1951: A = 10, B = 0, C = 110, D = 111.
      {{2, 1, 3, 3}, ivec(4, 0), {1, 0, 3, 7}},
      // Symbols without a length keep their entries.
      {{0, 2, 0, 2, 2, 0, 2, 0}, {100, 101, 102, 103, 104, 105, 106, 107}, {100, 0, 102, 2, 1, 105, 3, 107}},
  };
  for (const ccase &c : cases) {
    ivec sym = c.before;
    hufgensym(c.len.data(), (int32_t)c.len.size(), sym.data());
    EXPECT_EQ(sym, c.want);
  }
}

}  // namespace
