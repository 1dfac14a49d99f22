// Code lengths from counts, canonical codes and the splitter's estimate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "deflate/blockheader.h"
#include "deflate/blocksplit.h"
#include "deflate/dynamiccode.h"
#include "deflate/blocktable.h"
#include "deflate/huffman.h"
#include "testsupport.h"

namespace {

using ivec = std::vector<int32_t>;

TEST(Huffman, LengthsFromCountsAndCanonicalCodes) {
  ivec fib = {1, 1};
  while (fib.size() < 20) fib.push_back(fib[fib.size() - 1] + fib[fib.size() - 2]);
  const std::tuple<ivec, bool, ivec> cases[] = {
      {{1, 1, 1, 1}, false, {2, 2, 2, 2}},
      // Equal weights after an unused symbol: ascending lengths in the run.
      {{5, 0, 5, 5, 5, 1}, false, {2, 0, 2, 2, 3, 3}},
      // The first round needs 19 bits; halving the counts gives 10.
      {fib, false, {10, 10, 10, 10, 9, 9, 8, 8, 7, 7, 6, 6, 5, 5, 4, 4, 3, 3, 2, 2}},
      {{0, 0, 7, 0}, true, {0, 0, 1, 0}},   // one used symbol: length 1 whatever the fix
      {{0, 0, 0}, false, {0, 0, 0}}, {{0, 0, 0}, true, {1, 0, 0}},   // none: a code only with the fix
      {{3, 0, 9}, false, {1, 0, 1}}};
  huffmanscratch s;
  for (auto &[counts, onecode, lengths] : cases) {
    ivec got(counts.size());
    lengthsfromcounts(s, counts.data(), (int32_t)counts.size(), got.data(), 16, onecode);
    EXPECT_EQ(got, lengths) << ::testing::PrintToString(counts);
  }
  // Skewed counts: every length below each alphabet's limit, a complete code.
  for (int32_t n : {19, 30, 286}) {
    ivec counts(n), got(n);
    for (int32_t i = 0; i < n; i++) counts[i] = i % 7 == 3 ? 0 : 1 << (i % 20);
    lengthsfromcounts(s, counts.data(), n, got.data(), n == 19 ? 8 : 16, false);
    double kraft = 0;
    for (int32_t i = 0; i < n; i++) {
      EXPECT_TRUE((got[i] == 0) == (counts[i] == 0) && got[i] < (n == 19 ? 8 : 16)) << n << " " << i;
      kraft += got[i] ? std::ldexp(1.0, -got[i]) : 0;
    }
    EXPECT_EQ(kraft, 1.0) << n;
  }
  // The quick lengths of the extra-effort modes: a complete code within the
  // limit, as cheap as the passes' lengths wherever those need no coarsening.
  for (auto &[counts, onecode, lengths] : cases) {
    ivec got(counts.size());
    fastlengths(counts.data(), (int32_t)counts.size(), got.data(), 16, onecode);
    int64_t cost = 0, want = 0;
    for (size_t i = 0; i < counts.size(); i++) cost += (int64_t)counts[i] * got[i], want += (int64_t)counts[i] * lengths[i];
    EXPECT_EQ(cost, want) << ::testing::PrintToString(counts);
    for (size_t i = 0; i < counts.size(); i++) EXPECT_EQ(got[i] == 0, lengths[i] == 0) << i;
  }
  for (int32_t n : {19, 30, 286}) {
    ivec counts(n), got(n);
    for (int32_t i = 0; i < n; i++) counts[i] = i % 7 == 3 ? 0 : 1 << (i % 20);
    fastlengths(counts.data(), n, got.data(), n == 19 ? 8 : 16, false);
    double kraft = 0;
    for (int32_t i = 0; i < n; i++) {
      EXPECT_TRUE((got[i] == 0) == (counts[i] == 0) && got[i] < (n == 19 ? 8 : 16)) << n << " " << i;
      kraft += got[i] ? std::ldexp(1.0, -got[i]) : 0;
    }
    EXPECT_EQ(kraft, 1.0) << n;
  }
  // RFC 1951's example, bit-reversed; a symbol of length 0 keeps its old entry.
  const ivec lengths = {3, 3, 3, 3, 3, 2, 4, 4, 0};
  ivec codes(9, -1);
  canonicalcodes(lengths.data(), 9, codes.data());
  EXPECT_EQ(codes, (ivec{2, 6, 1, 5, 3, 0, 7, 15, -1}));
}

// The searched header: never longer than the rules' one, exactly as long as
// it says, and a block of it and an end of block alone inflates (zlib) to
// nothing.
TEST(BlockHeader, SearchedCodingIsShorterAndValid) {
  std::vector<ivec> tables;
  ivec lengths(slotcount, 0);
  for (int32_t k = 0; k < 286; k++) lengths[k] = k < 226 ? 8 : 9;   // long runs, a complete code
  for (int32_t k = 0; k < 30; k++) lengths[distslot + k] = k < 2 ? 4 : 5;
  tables.push_back(lengths);
  huffmanscratch s;
  for (uint32_t seed : {1u, 2u, 3u}) {   // ragged lengths with gaps
    ivec counts(slotcount, 0);
    std::string r = randombytes(400, seed);
    for (int32_t k = 0; k < 286; k++) counts[k] = (uint8_t)r[k] % 5 ? (uint8_t)r[k] >> (seed + 2) : 0;
    for (int32_t k = 0; k < 30; k++) counts[distslot + k] = (uint8_t)r[300 + k] % 3 ? (uint8_t)r[300 + k] : 0;
    counts[endofblock] = 1;
    lengthsfromcounts(s, counts.data(), 286, lengths.data(), 16, false);
    lengthsfromcounts(s, counts.data() + distslot, 30, lengths.data() + distslot, 16, false);
    tables.push_back(lengths);
  }
  // The cheapest dynamic coding of Fibonacci counts, whose unlimited
  // optimal code would be 20 deep: at most 15 bits, and valid.
  {
    stepcounts c;
    for (int32_t k = 0, a = 1, b = 1; k < 21; k++, b = a + b, a = b - a) c.counts['a' + k] = a;
    headerplan plan;
    cheapestdynamic(c, nullptr, s, false, lengths.data(), plan);
    EXPECT_LE(*std::max_element(lengths.begin(), lengths.end()), 15);
    tables.push_back(lengths);
  }
  int32_t shorter = 0;
  for (const ivec &l : tables) {
    SCOPED_TRACE(::testing::PrintToString(l));
    headerplan plan;
    int64_t bits = cheapestheader(l.data(), s, false, plan);
    EXPECT_LE(bits, blockheaderbits(l.data(), s, false));
    shorter += bits < blockheaderbits(l.data(), s, false);
    bytesink out;
    bitwriter w;
    w.start(&out);
    w.put(1, 1), w.put(2, 2);
    writeplannedheader(w, l.data(), plan, s, false);
    EXPECT_EQ((out.tell() * 8 + w.pendingbits) - 3, bits);
    ivec codes(slotcount);
    canonicalcodes(l.data(), 286, codes.data());
    w.put(codes[endofblock], l[endofblock]);
    w.align();
    bool ok;
    EXPECT_EQ(inflateraw(std::string((const char *)out.bytes(), (size_t)out.tell()), &ok), "");
    EXPECT_TRUE(ok);
  }
  EXPECT_GT(shorter, 0);
}

TEST(BlockSplit, CutsCountsAndThresholds) {
  const std::string ab = std::string(300, 'a') + std::string(200, 'b');
  std::string steps;
  for (int k = 0; k < 4000; k++) steps += (char)(k / 100);
  blocksplitter s;
  const std::tuple<std::string, int32_t, double> cuts[] = {{ab, 300, 60.76}, {"ab", 1, 0.375}, {"aaaa", 1, 0.125}, {"a", 0, -1}, {"", 0, -1}};
  for (auto &[data, cut, saving] : cuts) {
    double got = -1;
    EXPECT_EQ(findsplit(s, (const uint8_t *)data.data(), (int32_t)data.size(), &got), cut) << data.size();
    EXPECT_NEAR(got, saving, 0.005) << data.size();
  }
  const std::tuple<std::string, double, int32_t, ivec> layouts[] = {
      {ab, 256, 0, {500}}, {ab, 50, 0, {300, 500}}, {ab, 256, 1, {500}}, {ab, 256, 2, {300, 500}},
      {steps, 0.5, 0, ivec(40)},       // threshold mode: every step a block
      {steps, 256, 2000, ivec(1024)},  // at most 1024 blocks
      {ab.substr(0, 10), 256, 20, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}}};   // stops when no part can be cut
  for (auto &[data, threshold, count, want] : layouts) {
    ivec ends(1024);
    int32_t n = splitblocks(s, (const uint8_t *)data.data(), (int32_t)data.size(), threshold, count, ends.data());
    ASSERT_EQ(n, (int32_t)want.size()) << data.size() << " bytes, count " << count;
    ends.resize((size_t)n);
    EXPECT_TRUE(want[0] == 0 || ends == want);
    for (int32_t k = 1; k < n; k++) EXPECT_LT(ends[(size_t)k - 1], ends[(size_t)k]);
    EXPECT_EQ(ends.back(), (int32_t)data.size());
  }
}

}  // namespace
