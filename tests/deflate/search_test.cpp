// The match search, driven one position at a time: which (length, distance)
// steps it offers the parse at the edges of the window, in runs, in periodic
// data, past hash collisions, at the end of the data received, and the
// cheaper farther distances that only Xtreme looks for.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "deflatetest.h"
#include "driver/driver.h"

namespace {

using offers = std::vector<std::pair<int32_t, int32_t>>;   // (length, distance)

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

// ---- Runs and periodic data ----------------------------------------------

// A run is counted by its byte value as an unsigned number: values of 128 and
// more behave like any other, and 0 like any other at the entry's start. The
// stale window before the data holds the same byte, so only the distance
// reaching before the entry's start keeps position 0 from matching it.
TEST(MatchSearch, RunsCountAlikeForEveryByteValue) {
  const int32_t n = 1000;
  for (int32_t strat : {0, 1, 2})
    for (int v : {0x00, 0x41, 0xe5, 0xff}) {
      SCOPED_TRACE(::testing::Message() << "strategy " << strat << ", byte " << v);
      startentry(strat, std::string(n, (char)v), nullptr, std::string(1, (char)v));
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
// store holds a single copy. The window beyond the data continues the
// pattern (bytes of an earlier entry or pass); they must not lengthen a
// match, also when the data ends within the first 258 bytes.
TEST(MatchSearch, PeriodThreeOffersDistanceThreeUpToTheEndOfTheData) {
  for (int32_t n : {12, 3000})
    for (int32_t strat : {0, 1, 2}) {
      SCOPED_TRACE(::testing::Message() << n << " bytes, strategy " << strat);
      std::string data;
      for (int32_t k = 0; k < n; k++) data += "abc"[k % 3];
      startentry(strat, data, nullptr, "abc");
      for (int32_t p = 0; p < n; p++) {
        offers want = p < 3 ? offers{} : lengthsat(3, 3, std::min(258, n - p));
        ASSERT_EQ(want, searchat(p)) << "position " << p;
        if (want.empty()) continue;
        ASSERT_EQ(std::min(256, n - 5), patplc) << "position " << p;
        ASSERT_EQ((int32_t)want.size(), pat10[p]) << "position " << p;
        ASSERT_TRUE(p + 260 > n || pat0[p] == 0) << "position " << p;
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

// Xtreme looks past the nearest distance for a farther one with a cheaper
// code. At position 5 of "aaab aaaab" the three bytes recur 1 back and 5
// back, and nowhere between; only the copy 5 back goes on to a fourth byte.
// At position 12 of the second the bytes recur 2 back for 4 bytes and 10 back
// for 5: the cheaper code of distance 10 shows only when the copy 2 back stops
// at length 4, and Xtreme then steps back to length 3.
TEST(MatchSearch, XtremeFindsTheFartherCheaperDistance) {
  struct xcase {
    std::string data;
    int32_t p, cheap, cheapbits, dearfrom;   // distance code cheap costs cheapbits, codes from dearfrom 6, else 5
    offers xtreme, others;
  };
  const xcase cases[] = {
      {"aaabaaaabxyz", 5, 4, 3, 28, {{3, 5}, {4, 5}}, {{3, 1}, {4, 5}}},
      {"qqxyxyzrstxyxyxyzkkk", 12, 6, 2, 20, {{3, 10}, {4, 10}, {5, 10}}, {{3, 2}, {4, 2}, {5, 10}}},
  };
  for (const xcase &c : cases)
    for (int32_t strat : {0, 1}) {
      SCOPED_TRACE(::testing::Message() << c.data << ", strategy " << strat);
      int32_t bits[hufslots];
      fixedtable(bits);
      for (int32_t k = 0; k < 30; k++) bits[hufdistslot + k] = k == c.cheap ? c.cheapbits : k < c.dearfrom ? 5 : 6;
      startentry(strat, c.data, bits);
      searchrange(0, c.p);
      EXPECT_EQ(strat == 0 ? c.xtreme : c.others, searchat(c.p));
    }
  // With the fixed lengths the farther code is dearer: Xtreme keeps the near one.
  startentry(0, cases[0].data);
  searchrange(0, 5);
  EXPECT_EQ(cases[0].others, searchat(5));
}
