// Block splitting: the cut and saving of findsplit, the two modes of
// hufsplit, their limits, and the block layouts on the Canterbury corpus as
// listed by the independently computed expectations next to it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "deflate/deflate.h"
#include "driver/driver.h"
#include "testsupport.h"

namespace {

// Runs hufsplit over data[x0..x1) with the given settings and returns the
// block ends; the settings are restored afterwards.
std::vector<int32_t> splitends(const std::string &data, double thresh, int32_t count,
                               int32_t x0 = 0, int32_t x1 = -1) {
  if (x1 < 0) x1 = (int32_t)data.size();
  gpohufthresh = thresh;
  gpohufnum = count;
  hufbuf = (uint8_t *)data.data();
  hufsplit(x0, x1);
  std::vector<int32_t> ends;
  for (int32_t i = 0; i < hufnum; i++) ends.push_back(huf[i].x1);
  hufbuf = nullptr;
  resetsettings();
  return ends;
}

int32_t split(const std::string &data, double *saving) {
  return findsplit((const uint8_t *)data.data(), (int32_t)data.size(), saving);
}

// Small deterministic generator for test data shapes.
uint32_t nextrand(uint32_t *st) {
  *st = *st * 1664525u + 1013904223u;
  return *st >> 8;
}

// Random bytes drawn from the values base .. base + width - 1.
std::string segment(size_t n, int base, int width, uint32_t *st) {
  std::string s;
  for (size_t i = 0; i < n; i++) s += (char)(base + (int)(nextrand(st) % (uint32_t)width));
  return s;
}

// Order-0 cost of a range in nats with exact logarithms: n ln n - sum c ln c.
double exactcost(const std::string &s, size_t from, size_t to) {
  double cnt[256] = {};
  for (size_t i = from; i < to; i++) cnt[(uint8_t)s[i]] += 1;
  double n = (double)(to - from);
  double cost = n > 0 ? n * std::log(n) : 0;
  for (double c : cnt)
    if (c > 0) cost -= c * std::log(c);
  return cost;
}

// Saving in bytes of cutting s at z, by the exact order-0 model.
double exactsaving(const std::string &s, size_t z) {
  double nats = exactcost(s, 0, s.size()) - exactcost(s, 0, z) - exactcost(s, z, s.size());
  return nats / (8 * std::log(2.0));
}

int distinctvalues(const std::string &s, size_t from, size_t to) {
  bool seen[256] = {};
  int d = 0;
  for (size_t i = from; i < to; i++)
    if (!seen[(uint8_t)s[i]]) {
      seen[(uint8_t)s[i]] = true;
      d++;
    }
  return d;
}

// Block ends must describe consecutive, non-empty blocks covering [x0, x1).
void expectlayout(const std::vector<int32_t> &ends, int32_t x0, int32_t x1) {
  ASSERT_FALSE(ends.empty());
  int32_t last = x0;
  for (size_t i = 0; i < ends.size(); i++) {
    EXPECT_GT(ends[i], last) << "block " << i;
    last = ends[i];
  }
  EXPECT_EQ(ends.back(), x1);
}

const std::string ab500 = std::string(300, 'a') + std::string(200, 'b');

}  // namespace

// ---- findsplit --------------------------------------------------------------

TEST(FindSplit, TwoRunsAreCutAtTheirBoundary) {
  double saving = 0;
  EXPECT_EQ(split(ab500, &saving), 300);
  EXPECT_NEAR(saving, 60.76, 0.005);
}

TEST(FindSplit, TwoDifferentBytes) {
  double saving = 0;
  EXPECT_EQ(split("xy", &saving), 1);
  EXPECT_NEAR(saving, 0.375, 1e-5);
}

TEST(FindSplit, FourEqualBytes) {
  double saving = 0;
  EXPECT_EQ(split("qqqq", &saving), 1);
  EXPECT_NEAR(saving, 0.125, 0.002);
}

TEST(FindSplit, FewerThanTwoBytesGiveNoCutAndStoreNothing) {
  double saving = 12345.0;
  // The buffer is never read when there is nothing to cut.
  EXPECT_EQ(findsplit(nullptr, 0, &saving), 0);
  EXPECT_EQ(saving, 12345.0);
  EXPECT_EQ(findsplit((const uint8_t *)"z", 1, &saving), 0);
  EXPECT_EQ(saving, 12345.0);
  EXPECT_EQ(findsplit(nullptr, -3, &saving), 0);
  EXPECT_EQ(saving, 12345.0);
}

TEST(FindSplit, CutAlwaysLeavesBothPartsNonEmpty) {
  uint32_t st = 7;
  for (int32_t n = 2; n < 40; n++) {
    std::string s = segment((size_t)n, 'a', 1 + n % 5, &st);
    double saving = 0;
    int32_t c = split(s, &saving);
    EXPECT_GE(c, 1) << n;
    EXPECT_LE(c, n - 1) << n;
  }
}

// Disjoint alphabets: the exact order-0 model puts the best cut at the
// boundary by a wide margin, and the estimate must agree.
TEST(FindSplit, DisjointAlphabetsAreCutAtTheBoundary) {
  uint32_t st = 99;
  const size_t lens[][2] = {{3000, 2000}, {50, 4000}, {4000, 50}, {700, 701}};
  for (auto &l : lens) {
    std::string s = segment(l[0], 'a', 16, &st) + segment(l[1], 'A', 8, &st);
    double saving = 0;
    EXPECT_EQ(split(s, &saving), (int32_t)l[0]) << l[0] << "+" << l[1];
  }
}

// The estimate follows the exact order-0 saving: the running log sums stand
// for ln(L + 1) rather than ln L in the first part, which is worth at most
// about one nat per byte value present there.
TEST(FindSplit, SavingFollowsTheExactOrder0Model) {
  uint32_t st = 5;
  for (int round = 0; round < 6; round++) {
    std::string s = segment(1000 + 300 * (size_t)round, 'a', 26, &st) +
                    segment(800, 'a' + 2 * round, 10 + round, &st) + segment(500, ' ', 4, &st);
    double saving = 0;
    int32_t c = split(s, &saving);
    ASSERT_GT(c, 0);
    double exact = exactsaving(s, (size_t)c);
    double slack = (distinctvalues(s, 0, (size_t)c) + 2) / (8 * std::log(2.0));
    EXPECT_NEAR(saving, exact, slack) << "round " << round << " cut " << c;
  }
}

// Lengths beyond 46341 bytes: n * (n + 1) no longer fits 32 bits, and the log
// step must still hold. Two halves of one value each save one bit per byte.
TEST(FindSplit, LongRangesKeepTheLogStepExact) {
  const int32_t half = 60000;
  std::string s = std::string(half, '\x01') + std::string(half, '\xfe');
  double saving = 0;
  EXPECT_EQ(split(s, &saving), half);
  EXPECT_NEAR(saving, exactsaving(s, half), 1.0);
  EXPECT_NEAR(saving, 2.0 * half / 8, 1.0);
}

// The scratch tables are rebuilt by every call: nothing of an earlier range
// leaks into the next one.
TEST(FindSplit, CallsDoNotInfluenceEachOther) {
  uint32_t st = 3;
  std::string x = segment(900, 'a', 5, &st) + segment(600, 'k', 3, &st);
  std::string y = segment(2000, 0, 256, &st);
  double s1 = 0, s2 = 0, s3 = 0;
  int32_t c1 = split(x, &s1);
  split(y, &s2);
  int32_t c3 = split(x, &s3);
  EXPECT_EQ(c1, c3);
  EXPECT_EQ(s1, s3);
}

// ---- hufsplit, threshold mode ---------------------------------------------

TEST(HufSplitThreshold, DefaultThresholdKeepsSmallSavingsInOneBlock) {
  EXPECT_EQ(splitends(ab500, 256.0, 0), (std::vector<int32_t>{500}));
}

TEST(HufSplitThreshold, LowerThresholdCutsAtTheRunBoundary) {
  EXPECT_EQ(splitends(ab500, 50.0, 0), (std::vector<int32_t>{300, 500}));
}

TEST(HufSplitThreshold, NegativeCountMeansThresholdMode) {
  EXPECT_EQ(splitends(ab500, 50.0, -4), (std::vector<int32_t>{300, 500}));
}

TEST(HufSplitThreshold, SavingMustStrictlyExceedTheThreshold) {
  double saving = 0;
  split(ab500, &saving);
  EXPECT_EQ(splitends(ab500, saving, 0), (std::vector<int32_t>{500}));
  EXPECT_EQ(splitends(ab500, std::nextafter(saving, 0.0), 0), (std::vector<int32_t>{300, 500}));
}

TEST(HufSplitThreshold, EmptyAndOneByteInputsAreOneBlock) {
  EXPECT_EQ(splitends("", 256.0, 0), (std::vector<int32_t>{0}));
  EXPECT_EQ(splitends("q", 256.0, 0), (std::vector<int32_t>{1}));
  EXPECT_EQ(splitends("q", 1e-9, 0), (std::vector<int32_t>{1}));
}

// Ends are absolute input offsets, also when the range does not start at 0.
TEST(HufSplitThreshold, EndsAreAbsoluteOffsets) {
  std::string data = std::string(100, 'z') + ab500 + std::string(50, 'z');
  EXPECT_EQ(splitends(data, 50.0, 0, 100, 600), (std::vector<int32_t>{400, 600}));
}

// Segments with disjoint alphabets: every boundary saves far more than the
// threshold and no cut inside a uniform random segment comes near it. A block
// already cut is only cut again when it is re-examined as a parent, so this
// also needs the parent step.
TEST(HufSplitThreshold, FindsEveryBoundaryOfDistinctSegments) {
  uint32_t st = 11;
  const size_t lens[] = {1500, 2600, 900, 3100, 1200, 2000, 700};
  std::string s;
  std::vector<int32_t> bounds;
  for (size_t i = 0; i < sizeof lens / sizeof lens[0]; i++) {
    s += segment(lens[i], (int)(16 * i), 4, &st);
    bounds.push_back((int32_t)s.size());
  }
  EXPECT_EQ(splitends(s, 50.0, 0), bounds);
}

// Constant runs of changing values: any block holding two runs or more has a
// cut that saves well over a byte, so a threshold of 1 would make far more
// than 1024 blocks; the table holds 1024 and splitting stops there.
TEST(HufSplitThreshold, NeverMakesMoreThan1024Blocks) {
  uint32_t st = 17;
  std::string s;
  int prev = -1;
  for (int r = 0; r < 2500; r++) {
    int v;
    do v = (int)(nextrand(&st) % 256); while (v == prev);
    prev = v;
    s += std::string(20 + nextrand(&st) % 30, (char)v);
  }
  std::vector<int32_t> ends = splitends(s, 1.0, 0);
  EXPECT_EQ(ends.size(), 1024u);
  expectlayout(ends, 0, (int32_t)s.size());
}

// ---- hufsplit, exact-count mode --------------------------------------------

TEST(HufSplitCount, CountOneIsOneBlock) {
  EXPECT_EQ(splitends(ab500, 256.0, 1), (std::vector<int32_t>{500}));
}

TEST(HufSplitCount, CountTwoCutsAtTheBestCut) {
  // A cut is made whatever its saving: the threshold does not apply.
  EXPECT_EQ(splitends(ab500, 1e9, 2), (std::vector<int32_t>{300, 500}));
}

TEST(HufSplitCount, EmptyAndOneByteInputsAreOneBlock) {
  EXPECT_EQ(splitends("", 256.0, 5), (std::vector<int32_t>{0}));
  EXPECT_EQ(splitends("q", 256.0, 5), (std::vector<int32_t>{1}));
}

TEST(HufSplitCount, GivesExactlyTheBlocksAsked) {
  std::string s = randombytes(3000, 21);
  for (int32_t n : {2, 3, 17, 100, 999}) {
    std::vector<int32_t> ends = splitends(s, 256.0, n);
    EXPECT_EQ(ends.size(), (size_t)n);
    expectlayout(ends, 0, 3000);
  }
}

// Each further block comes from one cut of one block, so the layout with n
// blocks keeps every end of the layout with n - 1 blocks.
TEST(HufSplitCount, EachStepAddsExactlyOneBoundary) {
  std::string s = textbytes(5000, 4);
  std::vector<int32_t> before = splitends(s, 256.0, 1);
  for (int32_t n = 2; n <= 40; n++) {
    std::vector<int32_t> after = splitends(s, 256.0, n);
    ASSERT_EQ(after.size(), before.size() + 1) << n;
    size_t extra = 0;
    for (size_t i = 0, k = 0; i < after.size(); i++) {
      if (k < before.size() && after[i] == before[k]) k++;
      else extra++;
    }
    EXPECT_EQ(extra, 1u) << n;
    before = after;
  }
}

TEST(HufSplitCount, CountsAbove1024AreCappedAt1024) {
  std::string s = randombytes(8000, 8);
  gpohufnum = 2000;
  hufbuf = (uint8_t *)s.data();
  hufsplit(0, 8000);
  EXPECT_EQ(gpohufnum, 1024);
  EXPECT_EQ(hufnum, 1024);
  std::vector<int32_t> ends;
  for (int32_t i = 0; i < hufnum; i++) ends.push_back(huf[i].x1);
  hufbuf = nullptr;
  resetsettings();
  expectlayout(ends, 0, 8000);
  EXPECT_EQ(ends, splitends(s, 256.0, 1024));
}

// Blocks with the same bytes have bitwise equal savings, which makes ties in
// the choice of the block to cut. The piece x (random bytes over a, b, then
// over a, b, c, d) appears twice, apart from z (a long run of one value) and
// y (uniform random bytes of 16 other values). The pieces have disjoint
// alphabets, so the first cuts fall on piece boundaries; x's own best cut
// saves more than y's or z's. The layouts of the earlier steps tell which
// block index each piece has when the tie comes up.
TEST(HufSplitCount, TiesGoToBlock0ElseToTheHighestIndex) {
  uint32_t st = 23;
  const std::string x = segment(200, 'a', 2, &st) + segment(200, 'a', 4, &st);
  const std::string y = segment(600, 'A', 16, &st);
  const std::string z(3000, 'z');
  double sx = 0, sy = 0, sz = 0;
  ASSERT_EQ(split(x, &sx), 200);
  split(y, &sy);
  split(z, &sz);
  ASSERT_GT(sx, sy);
  ASSERT_GT(sx, sz);

  // x y x: the cut at 1000 puts the second x into block 1; block 0 (x y) is
  // then cut at 400 and becomes the first x. Block 0 and block 1 tie, and
  // block 0 wins: the next cut lies in the first x.
  std::string s = x + y + x;
  ASSERT_EQ(splitends(s, 256.0, 2), (std::vector<int32_t>{1000, 1400}));
  ASSERT_EQ(splitends(s, 256.0, 3), (std::vector<int32_t>{400, 1000, 1400}));
  EXPECT_EQ(splitends(s, 256.0, 4), (std::vector<int32_t>{200, 400, 1000, 1400}));

  // z x y x: block 0 is z; block 1 (x y x) is cut at 4000, the second x
  // becoming block 2, then at 3400, block 1 keeping the first x. Blocks 1
  // and 2 tie without block 0, and the higher index wins: the second x.
  s = z + x + y + x;
  ASSERT_EQ(splitends(s, 256.0, 2), (std::vector<int32_t>{3000, 4400}));
  ASSERT_EQ(splitends(s, 256.0, 3), (std::vector<int32_t>{3000, 4000, 4400}));
  ASSERT_EQ(splitends(s, 256.0, 4), (std::vector<int32_t>{3000, 3400, 4000, 4400}));
  EXPECT_EQ(splitends(s, 256.0, 5), (std::vector<int32_t>{3000, 3400, 4000, 4200, 4400}));
}

// Ten blocks asked of five bytes: once every block is a single byte there is
// nothing left to cut, and splitting stops with five.
TEST(HufSplitCount, StopsWhenNoBlockCanBeCut) {
  EXPECT_EQ(splitends("abcde", 256.0, 10), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(splitends("aaaaaaa", 256.0, 100), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7}));
}

// Regression: a part shorter than 2 bytes gets no saving from findsplit, and
// its record used to keep the saving left there by an earlier split or file.
// That stale value could win the choice and end the splitting while other
// blocks could still be cut, so the layout depended on what ran before.
TEST(HufSplitCount, StaleSavingOfAShortPartDoesNotStopSplitting) {
  const std::string small = "abcdefgh";
  const std::vector<int32_t> all = {1, 2, 3, 4, 5, 6, 7, 8};

  // Large savings left by a real earlier run.
  std::string big = std::string(40000, 'x') + randombytes(40000, 2) + std::string(40000, 'y');
  splitends(big, 256.0, 1024);
  EXPECT_EQ(splitends(small, 256.0, 20), all);

  // The worst leftovers: every record claims a huge saving, or every record
  // claims a huge loss.
  for (double poison : {1e300, -1e300, 0.0}) {
    for (int32_t i = 0; i < hufmaxblocks; i++) {
      huf[i].thresh = poison;
      huf[i].x = 12345;
    }
    EXPECT_EQ(splitends(small, 256.0, 20), all) << poison;
    EXPECT_EQ(splitends(ab500, 256.0, 2), (std::vector<int32_t>{300, 500})) << poison;
  }
}

// ---- Canterbury corpus -------------------------------------------------------

namespace {

struct expectedrow {
  std::string file;
  int32_t blocks;
  std::vector<std::string> ends;   // as written; a cut-off list ends in a partial number
  bool cutoff;
};

std::string trim(const std::string &s) {
  size_t a = s.find_first_not_of(" \t");
  size_t b = s.find_last_not_of(" \t\r");
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// Reads the table that follows the heading "## <title>" in EXPECTED.md.
std::vector<expectedrow> readexpected(const std::string &title) {
  std::string text = readfile(std::string(VORPAK_CORPUS) + "/../EXPECTED.md");
  std::istringstream in(text);
  std::string line;
  bool insection = false;
  std::vector<expectedrow> rows;
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) {
      insection = trim(line.substr(3)) == title;
      continue;
    }
    if (!insection || line.rfind("| ", 0) != 0) continue;
    std::vector<std::string> cols;
    std::istringstream cl(line.substr(1));
    std::string col;
    while (std::getline(cl, col, '|')) cols.push_back(trim(col));
    if (cols.size() < 6 || cols[0] == "file" || cols[0] == "total" || cols[0].rfind("---", 0) == 0)
      continue;
    expectedrow r;
    r.file = cols[0];
    r.blocks = std::stoi(cols[4]);
    std::string list = cols[5];
    r.cutoff = list.size() >= 3 && list.compare(list.size() - 3, 3, "...") == 0;
    if (r.cutoff) list.resize(list.size() - 3);
    std::istringstream el(list);
    std::string e;
    while (std::getline(el, e, ',')) r.ends.push_back(trim(e));
    rows.push_back(r);
  }
  return rows;
}

// Splits every corpus file under the given settings and compares block count
// and ends with the table; of a cut-off list only the shown prefix counts,
// its last number possibly being cut off itself.
void checkcorpus(const std::string &title, double thresh, int32_t count) {
  std::vector<expectedrow> rows = readexpected(title);
  ASSERT_EQ(rows.size(), 11u) << title;
  for (const expectedrow &r : rows) {
    std::string data = readfile(std::string(VORPAK_CORPUS) + "/" + r.file);
    ASSERT_FALSE(data.empty()) << r.file;
    std::vector<int32_t> ends = splitends(data, thresh, count);
    EXPECT_EQ((int32_t)ends.size(), r.blocks) << title << " " << r.file;
    expectlayout(ends, 0, (int32_t)data.size());
    ASSERT_LE(r.ends.size(), ends.size()) << title << " " << r.file;
    for (size_t i = 0; i < r.ends.size(); i++) {
      std::string got = std::to_string(ends[i]);
      if (r.cutoff && i + 1 == r.ends.size())
        EXPECT_EQ(got.rfind(r.ends[i], 0), 0u)
            << title << " " << r.file << " end " << i << ": " << got << " vs " << r.ends[i] << "...";
      else
        EXPECT_EQ(got, r.ends[i]) << title << " " << r.file << " end " << i;
    }
  }
}

}  // namespace

// Regression for the stale saving in a real run of several files: the
// layout of grammar.lsp with 1024 blocks must not depend on the file split
// before it in the same process.
TEST(HufSplitCorpus, LayoutDoesNotDependOnTheFileBefore) {
  std::string grammar = readfile(std::string(VORPAK_CORPUS) + "/grammar.lsp");
  std::string fields = readfile(std::string(VORPAK_CORPUS) + "/fields.c");
  ASSERT_FALSE(grammar.empty());
  ASSERT_FALSE(fields.empty());
  for (int32_t i = 0; i < hufmaxblocks; i++) huf[i].thresh = -1e300;
  std::vector<int32_t> alone = splitends(grammar, 256.0, 1024);
  splitends(fields, 256.0, 1024);
  std::vector<int32_t> after = splitends(grammar, 256.0, 1024);
  EXPECT_EQ(alone.size(), 1024u);
  EXPECT_EQ(after, alone);
}

TEST(HufSplitCorpus, DefaultThreshold) { checkcorpus("vorpak -s0", 256.0, 0); }

TEST(HufSplitCorpus, SevenBlocks) { checkcorpus("vorpak -s0 -n7", 256.0, 7); }

TEST(HufSplitCorpus, MostBlocks) { checkcorpus("vorpak -s3 -n1024", 256.0, 1024); }
