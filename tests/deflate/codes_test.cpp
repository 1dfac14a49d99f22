// Code lengths from counts, canonical codes and the block splitter's
// estimate, on cases whose results follow from the rules alone.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "deflate/blocksplit.h"
#include "deflate/huffman.h"

namespace {

using ivec = std::vector<int32_t>;

TEST(Huffman, LengthsFromCounts) {
  ivec fib = {1, 1};
  while (fib.size() < 20) fib.push_back(fib[fib.size() - 1] + fib[fib.size() - 2]);
  struct lcase {
    ivec counts;
    int32_t limit;
    bool onecode;
    ivec lengths;
  };
  const lcase cases[] = {
      {{1, 1, 1, 1}, 16, false, {2, 2, 2, 2}},
      // Equal weights after an unused symbol: ascending lengths in the run.
      {{5, 0, 5, 5, 5, 1}, 16, false, {2, 0, 2, 2, 3, 3}},
      // The first round needs 19 bits; halving the counts gives 10.
      {fib, 16, false, {10, 10, 10, 10, 9, 9, 8, 8, 7, 7, 6, 6, 5, 5, 4, 4, 3, 3, 2, 2}},
      {{0, 0, 7, 0}, 16, true, {0, 0, 1, 0}},   // one used symbol: length 1 whatever the fix
      {{0, 0, 0}, 16, false, {0, 0, 0}},
      {{0, 0, 0}, 16, true, {1, 0, 0}},         // none used: symbol 0 gets a code only with the fix
      {{3, 0, 9}, 16, false, {1, 0, 1}},
  };
  huffmanscratch s;
  for (auto &c : cases) {
    ivec got(c.counts.size());
    lengthsfromcounts(s, c.counts.data(), (int32_t)c.counts.size(), got.data(), c.limit, c.onecode);
    EXPECT_EQ(got, c.lengths) << ::testing::PrintToString(c.counts) << " limit " << c.limit;
  }
  // Skewed counts under the limits of the three alphabets: every length
  // below the limit, and a complete code.
  for (int32_t n : {19, 30, 286}) {
    ivec counts(n), got(n);
    for (int32_t i = 0; i < n; i++) counts[i] = i % 7 == 3 ? 0 : 1 << (i % 20);
    lengthsfromcounts(s, counts.data(), n, got.data(), n == 19 ? 8 : 16, false);
    double kraft = 0;
    for (int32_t i = 0; i < n; i++) {
      EXPECT_EQ(got[i] == 0, counts[i] == 0);
      EXPECT_LT(got[i], n == 19 ? 8 : 16);
      if (got[i]) kraft += std::ldexp(1.0, -got[i]);
    }
    EXPECT_EQ(kraft, 1.0) << n;
  }
}

TEST(Huffman, CanonicalCodesOfRfc1951) {
  // RFC 1951's example lengths; codes 010, 011, 100, 101, 110, 00, 1110,
  // 1111 stored bit-reversed. A symbol of length 0 keeps its old entry.
  const ivec lengths = {3, 3, 3, 3, 3, 2, 4, 4, 0};
  ivec codes(9, -1);
  canonicalcodes(lengths.data(), 9, codes.data());
  EXPECT_EQ(codes, (ivec{2, 6, 1, 5, 3, 0, 7, 15, -1}));
}

TEST(BlockSplit, FindsTheCutAndItsSaving) {
  struct scase {
    std::string data;
    int32_t cut;
    double saving;
  };
  const scase cases[] = {
      {std::string(300, 'a') + std::string(200, 'b'), 300, 60.76},
      {"ab", 1, 0.375},
      {"aaaa", 1, 0.125},
      {"a", 0, -1},
      {"", 0, -1},
  };
  blocksplitter s;
  for (auto &c : cases) {
    double saving = -1;
    EXPECT_EQ(findsplit(s, (const uint8_t *)c.data.data(), (int32_t)c.data.size(), &saving), c.cut) << c.data.size();
    EXPECT_NEAR(saving, c.saving, 0.005) << c.data.size();
  }
}

TEST(BlockSplit, BlockCountsAndThresholds) {
  const std::string ab = std::string(300, 'a') + std::string(200, 'b');
  std::string steps;
  for (int k = 0; k < 4000; k++) steps += (char)(k / 100);
  struct bcase {
    const std::string &data;
    double threshold;
    int32_t count;
    ivec ends;   // empty: only the count of blocks is given
    int32_t blocks;
  };
  const bcase cases[] = {
      {ab, 256, 0, {500}, 1},
      {ab, 50, 0, {300, 500}, 2},
      {ab, 256, 1, {500}, 1},
      {ab, 256, 2, {300, 500}, 2},
      {steps, 0.5, 0, {}, 40},      // threshold mode: every step a block
      {steps, 256, 2000, {}, 1024}, // at most 1024 blocks
      {ab.substr(0, 10), 256, 20, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 10},   // stops when no part can be cut
  };
  blocksplitter s;
  for (auto &c : cases) {
    ivec ends(1024);
    int32_t n = splitblocks(s, (const uint8_t *)c.data.data(), (int32_t)c.data.size(), c.threshold, c.count, ends.data());
    ASSERT_EQ(n, c.blocks) << c.data.size() << " bytes, count " << c.count;
    ends.resize((size_t)n);
    if (!c.ends.empty()) {
      EXPECT_EQ(ends, c.ends);
    }
    for (int32_t k = 1; k < n; k++) EXPECT_LT(ends[(size_t)k - 1], ends[(size_t)k]);
    EXPECT_EQ(ends.back(), (int32_t)c.data.size());
  }
}

}  // namespace
