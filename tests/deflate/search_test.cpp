// The match search, driven one position at a time: which (length, distance)
// steps it offers the parse at the edges of the window, in runs, in periodic
// data, past hash collisions, at the end of the data received, and the
// cheaper farther distances that only Xtreme looks for.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "deflate/deflate.h"
#include "driver/driver.h"
#include "testsupport.h"

namespace {

using offers = std::vector<std::pair<int32_t, int32_t>>;   // (length, distance)

// The starting lengths of strategies 0 to 2: complete prefix codes over
// the literal/length and the distance alphabets.
void fixedtable(int32_t *bit) {
  for (int32_t s = 0; s < hufslots; s++)
    bit[s] = s <= 143 ? 8 : s <= 255 ? 9 : s <= 281 ? 7 : s <= 285 ? 8 : s <= 287 ? 0 : s <= 289 ? 4 : s <= 317 ? 5 : 0;
}

// A new entry holding data under the given strategy, one block coded with
// the fixed lengths or with bits. The window outside the data holds stale
// bytes, either one value or the given pattern continued.
void startentry(int32_t strat, const std::string &data, const int32_t *bits = nullptr,
                const std::string &stale = "\x55") {
  strategy = strat;
  hufnum = 1;
  if (bits) memcpy(huf[0].bit, bits, sizeof huf[0].bit);
  else fixedtable(huf[0].bit);
  wlz77init();
  for (int32_t k = 0; k < wlzsiz; k++) wlz[k] = (uint8_t)stale[(size_t)k % stale.size()];
  memcpy(wlz, data.data(), data.size());
  memcpy(wlz + wlzsiz, wlz, 4);
  wlzend = (int32_t)data.size();
  // Every step the search offers is recorded, even one that would need
  // bytes beyond the data: what the search offers is what is under test.
  dawlzend2 = 0x7fffffff;
}

// Searches position p from an empty cost ring and returns the recorded
// steps: for each length the cheapest offer, the first one on equal cost.
offers searchat(int32_t p) {
  for (int32_t &c : bjs) c = bjunreached;
  wlzsearch(p, 0);
  offers got;
  for (int32_t l = 3; l <= 258; l++) {
    if (bjs[(p + l) & bjsmask] == bjunreached) continue;
    const bjtyp &r = bj[(p + l) & (bjsiz - 1)];
    EXPECT_EQ(l, r.l);
    got.push_back({r.l, r.d});
  }
  return got;
}

// Searches the positions from..to-1 in order, as the parse does.
void searchrange(int32_t from, int32_t to) {
  for (int32_t p = from; p < to; p++) searchat(p);
}

offers lengthsat(int32_t d, int32_t lo, int32_t hi) {
  offers v;
  for (int32_t l = lo; l <= hi; l++) v.push_back({l, d});
  return v;
}

// Three bytes other than s1 that the search's hash puts into s1's chain,
// found by brute force through the hash heads themselves: s1 is inserted at
// position 4, then every candidate in turn at a position of its own, and the
// first one that takes over s1's head shares its hash. Candidate bytes are
// 1..31 and 128..255, which upper-case filler never contains.
std::string hashmate(const std::string &s1) {
  startentry(1, std::string(4, 'A') + s1);
  wlzskip(4);
  const int32_t heads = (int32_t)(sizeof ffh / sizeof ffh[0]);
  int32_t h1 = 0;
  while (h1 < heads && ffh[h1] != 4) h1++;
  if (h1 == heads) return "";
  auto byteof = [](int32_t k) { return (uint8_t)(k < 31 ? 1 + k : 97 + k); };
  int32_t q = 8;
  for (int32_t a = 0; a < 159; a++)
    for (int32_t b = 0; b < 159; b++)
      for (int32_t c = 0; c < 159; c++) {
        const uint8_t t[3] = {byteof(a), byteof(b), byteof(c)};
        if (memcmp(t, s1.data(), 3) == 0) continue;
        memcpy(wlz + q, t, 3);
        wlzskip(q);
        if (ffh[h1] != 4) return std::string((const char *)t, 3);
        q = q < 32000 ? q + 4 : 8;
      }
  return "";
}

}  // namespace

// ---- The window's reach ----------------------------------------------------

TEST(MatchSearch, TheWindowReachesExactly32768Back) {
  const std::string key = "\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89";
  for (int32_t strat : {0, 1, 2})
    for (int32_t gap : {32768, 32769}) {
      SCOPED_TRACE(::testing::Message() << "strategy " << strat << ", gap " << gap);
      // Filler of bytes below 128, which the key's bytes can never match.
      std::string data = randombytes((size_t)gap + 300, (uint32_t)gap);
      for (char &c : data) c &= 127;
      data.replace(0, key.size(), key);
      data.replace((size_t)gap, key.size(), key);
      data[(size_t)gap + key.size()] = (char)(data[key.size()] ^ 1);   // the copy is 10 bytes long
      startentry(strat, data);
      searchrange(0, gap);
      EXPECT_EQ(gap == 32768 ? lengthsat(32768, 3, 10) : offers{}, searchat(gap));
    }
}

TEST(MatchSearch, PositionZeroOffersNothing) {
  // The stale window before the data holds the same bytes, so only the
  // distance reaching before the entry's start can keep them out.
  for (int32_t strat : {0, 1, 2}) {
    SCOPED_TRACE(strat);
    startentry(strat, std::string(600, 'a'), nullptr, "a");
    EXPECT_EQ(offers{}, searchat(0));
    EXPECT_EQ(lengthsat(1, 3, 258), searchat(1));
  }
}

// ---- Runs and periodic data ----------------------------------------------

// A run is counted by its byte value as an unsigned number: values of 128 and
// more behave like any other, and 0 like any other at the entry's start.
TEST(MatchSearch, RunsCountAlikeForEveryByteValue) {
  const int32_t n = 1000;
  for (int32_t strat : {0, 1})
    for (int v : {0x00, 0x41, 0xe5, 0xff}) {
      SCOPED_TRACE(::testing::Message() << "strategy " << strat << ", byte " << v);
      startentry(strat, std::string(n, (char)v));
      for (int32_t p = 0; p < n; p++) {
        offers want = p == 0 ? offers{} : lengthsat(1, 3, std::min(258, n - p));
        ASSERT_EQ(want, searchat(p)) << "position " << p;
        ASSERT_EQ(p, soleft[p]) << "position " << p;
        ASSERT_EQ(n, solrig) << "position " << p;   // the run's end
      }
    }
}

// a, b, c over and over: the nearest occurrence is 3 back for every length.
// Every list from position 4 on is the tail of the one before, so the list
// store holds a single copy of 256 entries.
TEST(MatchSearch, PeriodThreeOffersDistanceThreeForEveryLength) {
  const int32_t n = 3000;
  std::string data;
  for (int32_t k = 0; k < n; k++) data += "abc"[k % 3];
  for (int32_t strat : {0, 1, 2}) {
    SCOPED_TRACE(strat);
    startentry(strat, data, nullptr, "abc");
    for (int32_t p = 0; p < n; p++) {
      offers want = p < 3 ? offers{} : lengthsat(3, 3, std::min(258, n - p));
      ASSERT_EQ(want, searchat(p)) << "position " << p;
      if (p < 3) continue;
      ASSERT_EQ(256, patplc) << "position " << p;
      if (p + 260 <= n) {
        ASSERT_EQ(256, pat10[p]) << "position " << p;
        ASSERT_EQ(0, pat0[p]) << "position " << p;
      }
    }
  }
}

// ---- Hash chains -----------------------------------------------------------

TEST(MatchSearch, AHashCollisionCostsNoOffer) {
  const std::string s1 = "\x01\x02\x03";
  const std::string s2 = hashmate(s1);
  ASSERT_EQ(3u, s2.size());

  for (int32_t strat : {0, 1, 2})
    for (bool earlier : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "strategy " << strat << (earlier ? ", s2 also at 5" : ""));
      // Upper-case filler; s1 at 20, s2 at 40 and, in the second round, at 5.
      std::string data(100, 'A');
      for (size_t k = 0; k < data.size(); k++) data[k] = (char)('A' + (k * 7) % 26);
      data.replace(20, 3, s1);
      data.replace(40, 3, s2);
      if (earlier) data.replace(5, 3, s2);
      data[43] = (char)(data[8] == 'Z' ? 'A' : data[8] + 1);   // both copies are 3 bytes long
      startentry(strat, data);
      searchrange(0, 40);
      EXPECT_EQ(earlier ? (offers{{3, 35}}) : offers{}, searchat(40));
    }
}

// ---- Cheaper farther distances -------------------------------------------

// At position 5 of "aaab aaaab": the three bytes there recur 1 back and 5
// back, and nowhere between; only the copy 5 back goes on to a fourth byte.
TEST(MatchSearch, XtremeFindsTheFartherCheaperDistance) {
  const std::string data = "aaabaaaabxyz";
  // Distance codes 0 to 3 cost 5 bits, code 4 (distances 5 and 6) 3 + 1.
  int32_t bits[hufslots];
  fixedtable(bits);
  for (int32_t c = 0; c < 30; c++) bits[hufdistslot + c] = c == 4 ? 3 : c < 28 ? 5 : 6;

  startentry(0, data, bits);
  ASSERT_EQ(bitot[0], bitot[3]);
  ASSERT_GT(bitot[0], bitot[4]);
  searchrange(0, 5);
  EXPECT_EQ((offers{{3, 5}, {4, 5}}), searchat(5));

  startentry(1, data, bits);
  searchrange(0, 5);
  EXPECT_EQ((offers{{3, 1}, {4, 5}}), searchat(5));

  // With the fixed lengths the farther code is dearer: Xtreme keeps the near one.
  startentry(0, data);
  searchrange(0, 5);
  EXPECT_EQ((offers{{3, 1}, {4, 5}}), searchat(5));
}

// At position 12 the bytes recur 2 back for 4 bytes and 10 back for 5, at
// no other distance. The cheaper code of distance 10 shows only when the
// copy 2 back stops at length 4; Xtreme then goes back to length 3.
TEST(MatchSearch, XtremeStepsBackToShorterLengthsForACheaperCode) {
  const std::string data = "qqxyxyzrstxyxyxyzkkk";
  // Distance codes 0 to 3 cost 5 bits, 4 and 5 cost 5 + 1, code 6
  // (distances 9 to 12) 2 + 2.
  int32_t bits[hufslots];
  fixedtable(bits);
  for (int32_t c = 0; c < 30; c++) bits[hufdistslot + c] = c == 6 ? 2 : c < 20 ? 5 : 6;

  startentry(0, data, bits);
  ASSERT_GT(bitot[1], bitot[6]);
  searchrange(0, 12);
  EXPECT_EQ((offers{{3, 10}, {4, 10}, {5, 10}}), searchat(12));

  startentry(1, data, bits);
  searchrange(0, 12);
  EXPECT_EQ((offers{{3, 2}, {4, 2}, {5, 10}}), searchat(12));
}

// ---- The end of the data -----------------------------------------------

// The window beyond the data continues the pattern (bytes of an earlier
// entry or pass); they must not lengthen a match.
TEST(MatchSearch, BytesBeyondTheDataMatchNothing) {
  const std::string data = "abcabcabcabc";
  for (int32_t strat : {0, 1, 2}) {
    SCOPED_TRACE(strat);
    startentry(strat, data, nullptr, "abc");
    searchrange(0, 3);
    EXPECT_EQ(lengthsat(3, 3, 9), searchat(3));
    EXPECT_EQ(7, pat10[3]);
    searchrange(4, 9);
    EXPECT_EQ(lengthsat(3, 3, 3), searchat(9));
    EXPECT_EQ(offers{}, searchat(10));   // fewer than three bytes left
    EXPECT_EQ(offers{}, searchat(11));
  }
}
