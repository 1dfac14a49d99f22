#include "deflate/dynamiccode.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// The counts evened out: in each stretch of at least 4 adjacent used
// symbols whose counts differ by at most the factor ratio, every count
// becomes the stretch's mean. With fill, unused symbols inside a stretch
// join it and get a code too: a code that is never sent costs a little
// room in the code, and a header with long runs of equal lengths is short.
constexpr int32_t maxfill = 10;
void evenout(const int32_t *counts, int32_t n, double ratio, bool fill, int32_t *out) {
  memcpy(out, counts, sizeof(int32_t) * (size_t)n);
  for (int32_t a = 0; a < n;) {
    if (counts[a] <= 0) {
      a++;
      continue;
    }
    int32_t lo = counts[a], hi = counts[a], b = a + 1, last = a;
    int64_t sum = counts[a];
    while (b < n) {
      int32_t c = counts[b];
      if (c <= 0) {
        // A long run of unused symbols is cheap in the header as it is.
        int32_t z = b;
        while (z < n && counts[z] <= 0) z++;
        if (!fill || z - b > maxfill) break;
        b = z;
        continue;
      }
      if (std::max(hi, c) > ratio * std::min(lo, c)) break;
      lo = std::min(lo, c), hi = std::max(hi, c);
      sum += c;
      last = b++;
    }
    b = last + 1;   // unused symbols at the end stay out
    if (b - a >= 4)
      for (int32_t k = a; k < b; k++) out[k] = (int32_t)std::max<int64_t>(1, (sum + (b - a) / 2) / (b - a));
    a = b;
  }
}

// The counts evened out by absolute closeness: a stretch of at least 4
// adjacent symbols, used or not, whose counts stay within tolerance of the
// stretch's mean takes that mean (at least 1 where any of them is used).
// Rare symbols, with counts of 0 to a few, so come to share one length,
// the unused among them with a code that is never sent.
void evenclose(const int32_t *counts, int32_t n, int32_t tolerance, int32_t *out) {
  memcpy(out, counts, sizeof(int32_t) * (size_t)n);
  while (n > 0 && counts[n - 1] <= 0) n--;
  for (int32_t a = 0; a < n;) {
    // The stretch's mean so far, the first four counts always in it, so
    // that a stretch that starts with unused symbols can take in the rare
    // ones after them.
    const int32_t look = std::min(n, a + 4);
    int64_t ahead = 0;
    for (int32_t k = a; k < look; k++) ahead += counts[k];
    int64_t sum = counts[a];
    int32_t b = a + 1;
    while (b < n) {
      int64_t len = std::max(b, look) - a, total = b < look ? ahead : sum;
      if (std::llabs((int64_t)counts[b] * len - total) > tolerance * len) break;
      sum += counts[b++];
    }
    if (b - a >= 4 && sum > 0)
      for (int32_t k = a; k < b; k++) out[k] = (int32_t)std::max<int64_t>(1, (sum + (b - a) / 2) / (b - a));
    a = b;
  }
}

}  // namespace

int64_t cheapestdynamic(const stepcounts &c, const int32_t *had, huffmanscratch &s, bool onecode, int32_t *lengths,
                        headerplan &plan) {
  stepcounts withend = c;
  withend.counts[endofblock]++;
  // Every variant priced with the rules' header; the search of the
  // header's coding (slow beside that) only for the few cheapest, which it
  // shortens by a few per cent at most.
  struct variant {
    int64_t bits;
    int32_t lengths[slotcount];
  };
  constexpr size_t searched = 3;
  variant top[searched];
  size_t kept = 0;
  auto consider = [&](const int32_t *l) {
    int64_t n = 3 + withend.symbolbits(l) + blockheaderbits(l, s, onecode);
    size_t at = kept;
    while (at > 0 && top[at - 1].bits > n) at--;
    if (at >= searched) return;
    if (kept < searched) kept++;
    for (size_t k = kept - 1; k > at; k--) top[k] = top[k - 1];
    top[at].bits = n;
    memcpy(top[at].lengths, l, sizeof top[at].lengths);
  };
  int32_t tried[slotcount] = {}, even[slotcount] = {};
  fastlengths(withend.counts, litlencount, tried, 16, onecode);
  fastlengths(withend.counts + distslot, distcodecount, tried + distslot, 16, onecode);
  consider(tried);
  if (had) consider(had);
  for (int32_t tolerance : {1, 2, 4, 8, 16}) {
    evenclose(withend.counts, litlencount, tolerance, even);
    evenclose(withend.counts + distslot, distcodecount, tolerance, even + distslot);
    fastlengths(even, litlencount, tried, 16, onecode);
    fastlengths(even + distslot, distcodecount, tried + distslot, 16, onecode);
    consider(tried);
  }
  for (bool fill : {false, true}) {
    for (double ratio : {1.5, 2.5, 4.0, 8.0, 16.0, 1e9}) {
      evenout(withend.counts, litlencount, ratio, fill, even);
      evenout(withend.counts + distslot, distcodecount, ratio, fill, even + distslot);
      fastlengths(even, litlencount, tried, 16, onecode);
      fastlengths(even + distslot, distcodecount, tried + distslot, 16, onecode);
      consider(tried);
    }
  }
  // Stretch by stretch: one variant may even out the rare symbols well and
  // the frequent ones badly. Every stretch of the variants is tried alone on
  // the counts as they stand and kept where it shortens the block, the
  // header priced by the rules (the search of its coding is slow) until the
  // last.
  int32_t cur[slotcount];
  memcpy(cur, withend.counts, sizeof cur);
  auto total = [&]() {
    fastlengths(cur, litlencount, tried, 16, onecode);
    fastlengths(cur + distslot, distcodecount, tried + distslot, 16, onecode);
    return withend.symbolbits(tried) + blockheaderbits(tried, s, onecode);
  };
  int64_t now = total();
  // Twice over: a stretch may pay only once others have been taken.
  for (int32_t sweep = 0; sweep < 2; sweep++)
  for (int32_t tolerance : {1, 2, 3, 4, 6, 8, 12, 16, 32}) {
    evenclose(withend.counts, litlencount, tolerance, even);
    evenclose(withend.counts + distslot, distcodecount, tolerance, even + distslot);
    for (int32_t a = 0; a < slotcount;) {
      int32_t b = a + 1;
      while (b < slotcount && even[b] == even[a] && b != distslot) b++;
      bool differs = false;
      for (int32_t k = a; k < b; k++) differs |= even[k] != cur[k];
      if (differs && b - a >= 4) {
        int32_t saved[slotcount];
        memcpy(saved + a, cur + a, sizeof(int32_t) * (size_t)(b - a));
        memcpy(cur + a, even + a, sizeof(int32_t) * (size_t)(b - a));
        int64_t n = total();
        if (n < now) now = n;
        else memcpy(cur + a, saved + a, sizeof(int32_t) * (size_t)(b - a));
      }
      a = b;
    }
  }
  total();
  consider(tried);
  int64_t best = INT64_MAX;
  for (size_t k = 0; k < kept; k++) {
    headerplan p;
    int64_t n = 3 + withend.symbolbits(top[k].lengths) + cheapestheader(top[k].lengths, s, onecode, p);
    if (n < best) best = n, plan = p, memcpy(lengths, top[k].lengths, sizeof top[k].lengths);
  }
  return best;
}

