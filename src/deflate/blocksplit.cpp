// Every boundary depends on the exact rounding of the estimate, so the
// arithmetic below is written out step by step in double precision, in a
// fixed order, and the build forbids fused multiply-add: reordering or
// contracting any of it may move a boundary and change the archive.
#include "deflate/blocksplit.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace {

// Coefficients of the rational log step below. They shape the estimate, so
// changing them moves block boundaries.
constexpr double steppa = 0.2724914;
constexpr double steppb = 0.0797141;

// Saving given to a part too short to cut: below every real saving (those
// are bounded by a few bits per input byte), so exact-count mode never
// chooses such a part while another one can still be cut.
constexpr double nosaving = -1e300;

// ln(1 + 1/n) for n >= 1 by a rational approximation (ln 2 at n = 1, within
// 3e-7 everywhere), so that the scan carries logarithms as running sums
// instead of taking one per byte. m is formed in double precision: as a
// 32-bit product n * (n + 1) overflows from n = 46341.
inline double logstep(int32_t n, double g0, double g1) {
  double m = (double)n * (double)(n + 1);
  return (n + 0.5) * (m + g1) / ((m + g0) * m);
}

}  // namespace

int32_t findsplit(blocksplitter &s, const uint8_t *buf, int32_t num, double *saving) {
  if (num < 2) return 0;
  assert(buf != nullptr);

  const double g0 = steppa * (1.0 - steppa);
  const double g1 = 2.0 * g0 * steppb;

  for (int32_t c = 0; c < 256; c++) {
    s.firstcounts[c] = 0;
    s.allcounts[c] = 0;
  }
  for (int32_t p = 0; p < num; p++) s.allcounts[buf[p]]++;

  for (int32_t c = 0; c < 256; c++) {
    s.firstlog[c] = 0.0;
    s.secondlog[c] = s.allcounts[c] ? log((double)s.allcounts[c]) : 0.0;
    s.cost[c] = s.allcounts[c] * s.secondlog[c];
  }

  // a follows ln(l0), b follows ln(num - l0) (starting from ln(num - 1)),
  // sizeterm is the size term of the two parts; est is the estimated cost
  // of the two parts minus that of the whole range, in nats.
  double a = 0.0;
  double b = log((double)(num - 1));
  double sizeterm = num * log((double)num);
  double est = 0.0;
  double best = 1e32;
  int32_t bestcut = 0;

  // Moves byte p from the second part into the first; only the terms of its
  // byte value and the size terms change.
  for (int32_t p = 0; p <= num - 2; p++) {
    int32_t c = buf[p];
    int32_t l = s.firstcounts[c] + 1;   // count of c in the first part after the move
    int32_t r = s.allcounts[c] - l;     // and in the second part
    int32_t l0 = p + 1;                 // size of the first part after the move

    est = est + (s.cost[c] - sizeterm);

    s.firstcounts[c] = l;
    s.firstlog[c] = s.firstlog[c] + logstep(l, g0, g1);
    if (r != 0) s.secondlog[c] = s.secondlog[c] - logstep(r, g0, g1);

    s.cost[c] = s.firstlog[c] * l + s.secondlog[c] * r;
    sizeterm = a * l0 + b * (num - l0);
    est = est - (s.cost[c] - sizeterm);

    a = a + logstep(l0, g0, g1);
    b = b - logstep(num - l0, g0, g1);

    // Strictly less: among equal estimates the first, smallest cut wins.
    if (est < best) {
      best = est;
      bestcut = l0;
    }
  }

  // Nats to bytes, with the sign turned so that a saving is positive.
  *saving = best * (-0.125 / log(2.0));
  return bestcut;
}

namespace {

// Exact-count mode: part k's best cut (absolute) and its saving. A part
// shorter than 2 bytes has no cut and gets nosaving.
void bestcut(blocksplitter &s, const uint8_t *data, int32_t k) {
  blocksplitter::part &h = s.parts[k];
  int32_t num = h.end - h.start;
  h.cut = h.start + findsplit(s, data + h.start, num, &h.saving);
  if (num < 2) {
    h.cut = h.start;
    h.saving = nosaving;
  }
}

// Threshold mode: cuts part j once at its best cut when that saves more
// than threshold bytes; the part behind the cut becomes a new part at the
// end of the table that remembers j as the part it came from.
void cutifworth(blocksplitter &s, const uint8_t *data, int32_t j, double threshold, int32_t &count) {
  double d = 0.0;
  blocksplitter::part &h = s.parts[j];
  int32_t c = findsplit(s, data + h.start, h.end - h.start, &d);
  if (c > 0 && d > threshold) {
    blocksplitter::part &n = s.parts[count];
    n.start = h.start + c;
    n.end = h.end;
    n.parent = j;
    h.end = h.start + c;
    count++;
  }
}

}  // namespace

int32_t splitblocks(blocksplitter &s, const uint8_t *data, int32_t length, double threshold, int32_t wanted,
                    int32_t *ends, int32_t most) {
  assert(length >= 0);
  int32_t count = 1;
  s.parts[0].start = 0;
  s.parts[0].end = length;

  if (wanted > 0) {
    if (wanted > most) wanted = most;
    if (wanted > 1) bestcut(s, data, 0);
    while (count < wanted) {
      // The part whose cut saves the most; a tie that includes part 0 goes
      // to part 0, any other tie to the highest index.
      int32_t j = 0;
      double best = s.parts[0].saving;
      for (int32_t k = count - 1; k >= 0; k--) {
        if (s.parts[k].saving > best) {
          best = s.parts[k].saving;
          j = k;
        }
      }
      if (s.parts[j].end - s.parts[j].start < 2) break;

      int32_t n = count;
      s.parts[n].start = s.parts[j].cut;
      s.parts[n].end = s.parts[j].end;
      bestcut(s, data, n);
      s.parts[j].end = s.parts[j].cut;
      bestcut(s, data, j);
      count = n + 1;
    }
  } else {
    // Each part is examined when the loop reaches it, and its parent once
    // more, since the parent's best cut has changed now that it is shorter.
    s.parts[0].parent = -1;
    for (int32_t i = 0; i < count; i++) {
      cutifworth(s, data, i, threshold, count);
      if (count == most) break;
      if (s.parts[i].parent >= 0) {
        cutifworth(s, data, s.parts[i].parent, threshold, count);
        if (count == most) break;
      }
    }
  }

  // Parts were appended in the order they were cut; their ends, all
  // different, in file order are the block ends.
  for (int32_t k = 0; k < count; k++) ends[k] = s.parts[k].end;
  std::sort(ends, ends + count);
  return count;
}
