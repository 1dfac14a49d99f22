// Block splitting: the cut and saving of findsplit, the two modes of
// hufsplit, their limits, and the block layouts on the Canterbury corpus as
// listed by the independently computed expectations next to it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "deflate/deflate.h"
#include "driver/driver.h"
#include "testsupport.h"

namespace {

using ivec = std::vector<int32_t>;

// Runs hufsplit over data[x0..x1) with the given settings and returns the
// block ends (and the block count setting as hufsplit left it); the settings
// are restored afterwards.
ivec splitends(const std::string &data, double thresh, int32_t count, int32_t x0 = 0, int32_t x1 = -1,
               int32_t *countafter = nullptr) {
  gpohufthresh = thresh;
  gpohufnum = count;
  hufbuf = (uint8_t *)data.data();
  hufsplit(x0, x1 < 0 ? (int32_t)data.size() : x1);
  ivec ends;
  for (int32_t i = 0; i < hufnum; i++) ends.push_back(huf[i].x1);
  hufbuf = nullptr;
  if (countafter) *countafter = gpohufnum;
  resetsettings();
  return ends;
}

int32_t split(const std::string &data, double *saving) {
  return findsplit((const uint8_t *)data.data(), (int32_t)data.size(), saving);
}

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
  double cnt[256] = {}, n = (double)(to - from);
  for (size_t i = from; i < to; i++) cnt[(uint8_t)s[i]] += 1;
  double cost = n > 0 ? n * std::log(n) : 0;
  for (double c : cnt)
    if (c > 0) cost -= c * std::log(c);
  return cost;
}

// Saving in bytes of cutting s at z, by the exact order-0 model.
double exactsaving(const std::string &s, size_t z) {
  return (exactcost(s, 0, s.size()) - exactcost(s, 0, z) - exactcost(s, z, s.size())) / (8 * std::log(2.0));
}

// The estimate's running log sums stand for ln(L + 1) rather than ln L in the
// first part, which is worth at most about one nat per byte value there.
double slack(const std::string &s, size_t z) {
  return (double)(std::set<char>(s.begin(), s.begin() + (ptrdiff_t)z).size() + 2) / (8 * std::log(2.0));
}

// Block ends must describe consecutive, non-empty blocks covering [x0, x1).
void expectlayout(const ivec &ends, int32_t x0, int32_t x1) {
  ASSERT_FALSE(ends.empty());
  for (size_t i = 0; i < ends.size(); i++) EXPECT_GT(ends[i], i ? ends[i - 1] : x0) << "block " << i;
  EXPECT_EQ(ends.back(), x1);
}

const std::string ab500 = std::string(300, 'a') + std::string(200, 'b');

}  // namespace

// ---- findsplit --------------------------------------------------------------

TEST(FindSplit, CutAndSaving) {
  struct fcase {
    std::string what, data;
    int32_t cut;          // -1: any cut that leaves both parts non-empty
    double saving, tol;   // tol < 0: the exact order-0 saving within slack
  };
  std::vector<fcase> cases = {
      {"two runs", ab500, 300, 60.757, 0.005},
      {"two different bytes", "xy", 1, 0.375, 1e-5},
      {"four equal bytes", "qqqq", 1, 0.125, 0.002},
      // Beyond 46341 bytes n * (n + 1) no longer fits 32 bits; two halves of
      // one value each save one bit per byte.
      {"long halves", std::string(60000, '\x01') + std::string(60000, '\xfe'), 60000, 15000, 1.0},
  };
  // Disjoint alphabets: the exact model puts the best cut at the boundary by
  // a wide margin, and the estimate must agree.
  uint32_t st = 99;
  for (auto l : {std::pair<size_t, size_t>{3000, 2000}, {50, 4000}, {4000, 50}, {700, 701}})
    cases.push_back({"disjoint", segment(l.first, 'a', 16, &st) + segment(l.second, 'A', 8, &st), (int32_t)l.first, 0, -1});
  for (int32_t n = 2; n < 40; n++) cases.push_back({"short", segment((size_t)n, 'a', 1 + n % 5, &st), -1, 0, -1});
  for (int r = 0; r < 6; r++)
    cases.push_back({"mixed", segment(1000 + 300 * (size_t)r, 'a', 26, &st) + segment(800, 'a' + 2 * r, 10 + r, &st) +
                     segment(500, ' ', 4, &st), -1, 0, -1});
  // Run twice, the second time backwards: the scratch tables are rebuilt by
  // every call, so nothing of an earlier range leaks into the next one.
  std::vector<double> first(cases.size());
  for (int round = 0; round < 2; round++)
    for (size_t k = 0; k < cases.size(); k++) {
      size_t i = round ? cases.size() - 1 - k : k;
      const fcase &c = cases[i];
      SCOPED_TRACE(::testing::Message() << c.what << " " << c.data.size());
      double saving = 0;
      int32_t cut = split(c.data, &saving);
      EXPECT_TRUE(c.cut < 0 ? cut >= 1 && cut < (int32_t)c.data.size() : cut == c.cut) << cut;
      if (c.tol < 0) {
        EXPECT_NEAR(saving, exactsaving(c.data, (size_t)cut), slack(c.data, (size_t)cut));
      } else {
        EXPECT_NEAR(saving, c.saving, c.tol);
      }
      EXPECT_TRUE(!round || saving == first[i]) << "differs after the other cases";
      first[i] = saving;
    }

  // Fewer than two bytes: no cut, and neither buffer nor saving is touched.
  double saving = 12345.0;
  EXPECT_EQ(findsplit(nullptr, 0, &saving), 0);
  EXPECT_EQ(findsplit((const uint8_t *)"z", 1, &saving), 0);
  EXPECT_EQ(findsplit(nullptr, -3, &saving), 0);
  EXPECT_EQ(saving, 12345.0);
}

// ---- hufsplit ----------------------------------------------------------------

TEST(HufSplit, Layouts) {
  double saving = 0;
  split(ab500, &saving);
  // Segments with disjoint alphabets: every boundary saves far more than the
  // threshold and no cut inside a uniform random segment comes near it. A
  // block already cut is only cut again when it is re-examined as a parent,
  // so this also needs the parent step.
  uint32_t st = 11;
  std::string segs;
  ivec bounds;
  int base = 0;
  for (size_t len : {1500, 2600, 900, 3100, 1200, 2000, 700}) {
    segs += segment(len, base, 4, &st);
    base += 16;
    bounds.push_back((int32_t)segs.size());
  }
  struct scase {
    const char *what;
    std::string data;
    double thresh;
    int32_t count, x0, x1;
    ivec ends;
  };
  const scase cases[] = {
      {"default threshold keeps small savings", ab500, 256, 0, 0, -1, {500}},
      {"lower threshold", ab500, 50, 0, 0, -1, {300, 500}},
      {"negative count is threshold mode", ab500, 50, -4, 0, -1, {300, 500}},
      {"saving equal to the threshold", ab500, saving, 0, 0, -1, {500}},
      {"saving just above the threshold", ab500, std::nextafter(saving, 0.0), 0, 0, -1, {300, 500}},
      {"empty", "", 256, 0, 0, -1, {0}},
      {"one byte", "q", 256, 0, 0, -1, {1}},
      {"one byte, tiny threshold", "q", 1e-9, 0, 0, -1, {1}},
      {"ends are absolute offsets", std::string(100, 'z') + ab500 + std::string(50, 'z'), 50, 0, 100, 600, {400, 600}},
      {"distinct segments", segs, 50, 0, 0, -1, bounds},
      {"count 1", ab500, 256, 1, 0, -1, {500}},
      {"count 2 ignores the threshold", ab500, 1e9, 2, 0, -1, {300, 500}},
      {"count, empty", "", 256, 5, 0, -1, {0}},
      {"count, one byte", "q", 256, 5, 0, -1, {1}},
      // Once every block is a single byte there is nothing left to cut.
      {"count beyond the bytes", "abcde", 256, 10, 0, -1, {1, 2, 3, 4, 5}},
      {"count beyond a run", "aaaaaaa", 256, 100, 0, -1, {1, 2, 3, 4, 5, 6, 7}},
  };
  for (const scase &c : cases) EXPECT_EQ(splitends(c.data, c.thresh, c.count, c.x0, c.x1), c.ends) << c.what;
}

// The table holds 1024 blocks. Constant runs of changing values: a
// threshold of 1 would make far more, and splitting stops there; a larger
// count is lowered to 1024.
TEST(HufSplit, NeverMoreThan1024Blocks) {
  uint32_t st = 17;
  std::string s;
  int prev = -1;
  for (int r = 0; r < 2500; r++) {
    int v;
    do v = (int)(nextrand(&st) % 256); while (v == prev);
    prev = v;
    s += std::string(20 + nextrand(&st) % 30, (char)v);
  }
  ivec ends = splitends(s, 1.0, 0);
  EXPECT_EQ(ends.size(), 1024u);
  expectlayout(ends, 0, (int32_t)s.size());

  s = randombytes(8000, 8);
  int32_t setting = 0;
  ends = splitends(s, 256.0, 2000, 0, -1, &setting);
  EXPECT_EQ(setting, 1024);
  EXPECT_EQ(ends, splitends(s, 256.0, 1024));
  EXPECT_EQ(ends.size(), 1024u);
}

// Each further block comes from one cut of one block, so the layout with n
// blocks is the layout with n - 1 blocks plus one end.
TEST(HufSplit, EachCountAddsExactlyOneBoundary) {
  std::string s = textbytes(5000, 4);
  ivec before = splitends(s, 256.0, 1);
  for (int32_t n = 2; n <= 40; n++) {
    ivec after = splitends(s, 256.0, n);
    ASSERT_EQ(after.size(), (size_t)n);
    expectlayout(after, 0, 5000);
    size_t extra = 0;
    for (size_t i = 0, k = 0; i < after.size(); i++) {
      if (k < before.size() && after[i] == before[k]) k++;
      else extra++;
    }
    EXPECT_EQ(extra, 1u) << n;
    before = after;
  }
}

// Blocks with the same bytes have bitwise equal savings, which makes ties in
// the choice of the block to cut. Piece x (random bytes over a, b, then over
// a..d) appears twice, apart from z (a run) and y (16 other values). The
// alphabets are disjoint, so the first cuts fall on piece boundaries; x's own
// best cut (at 200) saves more than y's or z's. The layouts of the earlier
// steps tell which block index each piece has when the tie comes up.
TEST(HufSplit, TiesGoToBlock0ElseToTheHighestIndex) {
  uint32_t st = 23;
  const std::string x = segment(200, 'a', 2, &st) + segment(200, 'a', 4, &st);
  const std::string y = segment(600, 'A', 16, &st), z(3000, 'z');

  // x y x: block 0 (x y) is cut at 400 into the first x; it ties with the
  // second x in block 1, and block 0 wins.
  std::string s = x + y + x;
  ASSERT_EQ(splitends(s, 256.0, 3), (ivec{400, 1000, 1400}));
  EXPECT_EQ(splitends(s, 256.0, 4), (ivec{200, 400, 1000, 1400}));

  // z x y x: block 0 is z, blocks 1 and 2 are the two x; without block 0
  // the higher index wins: the second x.
  s = z + x + y + x;
  ASSERT_EQ(splitends(s, 256.0, 4), (ivec{3000, 3400, 4000, 4400}));
  EXPECT_EQ(splitends(s, 256.0, 5), (ivec{3000, 3400, 4000, 4200, 4400}));
}

// Regression: a part shorter than 2 bytes gets no saving from findsplit, and
// its record used to keep the saving left there by an earlier split or file.
// That stale value could win the choice and end the splitting while other
// blocks could still be cut, so the layout depended on what ran before.
TEST(HufSplit, StaleSavingOfAShortPartDoesNotStopSplitting) {
  const std::string small = "abcdefgh";
  const ivec all = {1, 2, 3, 4, 5, 6, 7, 8};
  splitends(std::string(40000, 'x') + randombytes(40000, 2) + std::string(40000, 'y'), 256.0, 1024);
  EXPECT_EQ(splitends(small, 256.0, 20), all);
  for (double poison : {1e300, -1e300, 0.0}) {
    for (int32_t i = 0; i < hufmaxblocks; i++) {
      huf[i].thresh = poison;
      huf[i].x = 12345;
    }
    EXPECT_EQ(splitends(small, 256.0, 20), all) << poison;
    EXPECT_EQ(splitends(ab500, 256.0, 2), (ivec{300, 500})) << poison;
  }
  // In a real run of several files: grammar.lsp with 1024 blocks must not
  // depend on the file split before it.
  std::string grammar = corpusfile("grammar.lsp");
  ASSERT_FALSE(grammar.empty());
  ivec alone = splitends(grammar, 256.0, 1024);
  splitends(corpusfile("fields.c"), 256.0, 1024);
  EXPECT_EQ(alone.size(), 1024u);
  EXPECT_EQ(splitends(grammar, 256.0, 1024), alone);
}

// ---- Canterbury corpus -------------------------------------------------------

namespace {

std::string trim(const std::string &s) {
  size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t\r");
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// Splits every corpus file as the table after "## <title>" in EXPECTED.md
// lists it and compares block count and ends; of a list cut off with "..."
// only the shown prefix counts, its last number possibly cut off itself.
void checkcorpus(const std::string &title, double thresh, int32_t count) {
  std::istringstream in(expectedtable());
  std::string line;
  bool insection = false;
  int rows = 0;
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) insection = trim(line.substr(3)) == title;
    if (!insection || line.rfind("| ", 0) != 0) continue;
    std::vector<std::string> cols;
    std::istringstream cl(line.substr(1));
    for (std::string col; std::getline(cl, col, '|');) cols.push_back(trim(col));
    if (cols.size() < 6 || cols[0] == "file" || cols[0] == "total" || cols[0].rfind("---", 0) == 0) continue;
    rows++;
    SCOPED_TRACE(title + " " + cols[0]);
    std::string data = corpusfile(cols[0]), list = cols[5];
    ASSERT_FALSE(data.empty());
    ivec ends = splitends(data, thresh, count);
    EXPECT_EQ((int32_t)ends.size(), std::stoi(cols[4]));
    expectlayout(ends, 0, (int32_t)data.size());
    bool cutoff = list.size() >= 3 && list.compare(list.size() - 3, 3, "...") == 0;
    if (cutoff) list.resize(list.size() - 3);
    std::istringstream el(list);
    size_t i = 0;
    for (std::string e; std::getline(el, e, ','); i++) {
      ASSERT_LT(i, ends.size());
      std::string got = std::to_string(ends[i]);
      if (cutoff && el.eof()) EXPECT_EQ(got.rfind(trim(e), 0), 0u) << "end " << i << ": " << got << " vs " << e;
      else EXPECT_EQ(got, trim(e)) << "end " << i;
    }
  }
  EXPECT_EQ(rows, 11) << title;
}

}  // namespace

TEST(HufSplitCorpus, LayoutsAsExpected) {
  checkcorpus("vorpak -s0", 256.0, 0);
  checkcorpus("vorpak -s0 -n7", 256.0, 7);
  checkcorpus("vorpak -s3 -n1024", 256.0, 1024);
}
