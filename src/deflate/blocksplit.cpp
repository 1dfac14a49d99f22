// Block splitting: decides once per file, before any pass, where its Deflate
// blocks end. It looks only at the raw bytes: findsplit finds the cut of a
// range that most lowers an order-0 estimate of its coding cost (each part
// with its own byte statistics instead of one set for the whole range) and
// reports that saving in bytes; hufsplit applies it recursively, either to
// every block whose cut saves more than gpohufthresh bytes, or to the best
// block again and again until there are gpohufnum blocks.
//
// Every boundary depends on the exact rounding of the estimate, so the
// arithmetic below is written out step by step in double precision, in a
// fixed order, and the build forbids fused multiply-add: reordering or
// contracting any of it may move a boundary and change the archive.
#include <cassert>
#include <cmath>

#include "deflate/deflate.h"
#include "driver/driver.h"

uint8_t *hufbuf = nullptr;
int32_t frq0[256];
int32_t frq1[256];
double lrq0[256];
double lrq1[256];
double lrq[256];

// Coefficients of the rational log step below. They shape the estimate, so
// changing them moves block boundaries.
static constexpr double steppa = 0.2724914;
static constexpr double steppb = 0.0797141;

// Saving given to a block too short to cut: below every real saving (those
// are bounded by a few bits per input byte), so exact-count mode never
// chooses such a block while another one can still be cut.
static constexpr double hufnosaving = -1e300;

// ln(1 + 1/n) for n >= 1 by a rational approximation (ln 2 at n = 1, within
// 3e-7 everywhere), so that the scan carries logarithms as running sums
// instead of taking one per byte. m is formed in double precision: as a
// 32-bit product n * (n + 1) overflows from n = 46341.
static inline double logstep(int32_t n, double g0, double g1) {
  double m = (double)n * (double)(n + 1);
  return (n + 0.5) * (m + g1) / ((m + g0) * m);
}

int32_t findsplit(const uint8_t *buf, int32_t num, double *thresh) {
  if (num < 2) return 0;
  assert(buf != nullptr);

  const double g0 = steppa * (1.0 - steppa);
  const double g1 = 2.0 * g0 * steppb;

  for (int32_t c = 0; c < 256; c++) {
    frq0[c] = 0;
    frq1[c] = 0;
  }
  for (int32_t p = 0; p < num; p++) frq1[buf[p]]++;

  for (int32_t c = 0; c < 256; c++) {
    lrq0[c] = 0.0;
    lrq1[c] = frq1[c] ? log((double)frq1[c]) : 0.0;
    lrq[c] = frq1[c] * lrq1[c];
  }

  // a follows ln(l0), b follows ln(num - l0) (starting from ln(num - 1)),
  // ologz1 is the size term of the two parts; s is the estimated cost of the
  // two parts minus that of the whole range, in nats.
  double a = 0.0;
  double b = log((double)(num - 1));
  double ologz1 = num * log((double)num);
  double s = 0.0;
  double smin = 1e32;
  int32_t bestz = 0;

  // Moves byte p from the second part into the first; only the terms of its
  // byte value and the size terms change.
  for (int32_t p = 0; p <= num - 2; p++) {
    int32_t c = buf[p];
    int32_t l = frq0[c] + 1;   // count of c in the first part after the move
    int32_t r = frq1[c] - l;   // and in the second part
    int32_t l0 = p + 1;        // size of the first part after the move

    s = s + (lrq[c] - ologz1);

    frq0[c] = l;
    lrq0[c] = lrq0[c] + logstep(l, g0, g1);
    if (r != 0) lrq1[c] = lrq1[c] - logstep(r, g0, g1);

    lrq[c] = lrq0[c] * l + lrq1[c] * r;
    ologz1 = a * l0 + b * (num - l0);
    s = s - (lrq[c] - ologz1);

    a = a + logstep(l0, g0, g1);
    b = b - logstep(num - l0, g0, g1);

    // Strictly less: among equal estimates the first, smallest cut wins.
    if (s < smin) {
      smin = s;
      bestz = l0;
    }
  }

  // Nats to bytes, with the sign turned so that a saving is positive.
  *thresh = smin * (-0.125 / log(2.0));
  return bestz;
}

// Exact-count mode: finds block b's best cut (absolute, in x) and its saving
// (thresh). A block shorter than 2 bytes has no cut and findsplit stores no
// saving for it; its thresh would keep a value from an earlier split or an
// earlier file, which could win the choice and end the splitting with fewer
// blocks than asked while longer blocks remain. It gets hufnosaving instead.
static void hufbestcut(int32_t b) {
  huftree &h = huf[b];
  int32_t num = h.x1 - h.x0;
  h.x = h.x0 + findsplit(hufbuf + h.x0, num, &h.thresh);
  if (num < 2) {
    h.x = h.x0;
    h.thresh = hufnosaving;
  }
}

// Threshold mode: cuts block j once at its best cut when that saves more
// than gpohufthresh bytes; the part behind the cut becomes a new block at the
// end of the table that remembers j as the block it came from.
static void hufcutifworth(int32_t j) {
  double d = 0.0;
  int32_t c = findsplit(hufbuf + huf[j].x0, huf[j].x1 - huf[j].x0, &d);
  if (c > 0 && d > gpohufthresh) {
    int32_t n = hufnum;
    huf[n].x0 = huf[j].x0 + c;
    huf[n].x1 = huf[j].x1;
    huf[n].prev = j;
    huf[j].x1 = huf[j].x0 + c;
    hufnum = n + 1;
  }
}

int32_t hufsplit(int32_t x0, int32_t x1) {
  assert(x0 >= 0 && x1 >= x0);
  hufnum = 1;
  huf[0].x0 = x0;
  huf[0].x1 = x1;

  if (gpohufnum > 0) {
    if (gpohufnum == 1) return 0;
    if (gpohufnum > hufmaxblocks) gpohufnum = hufmaxblocks;

    hufbestcut(0);
    while (hufnum < gpohufnum) {
      // The block whose cut saves the most; a tie that includes block 0
      // goes to block 0, any other tie to the highest index.
      int32_t j = 0;
      double best = huf[0].thresh;
      for (int32_t k = hufnum - 1; k >= 0; k--) {
        if (huf[k].thresh > best) {
          best = huf[k].thresh;
          j = k;
        }
      }
      if (huf[j].x1 - huf[j].x0 < 2) break;

      int32_t n = hufnum;
      huf[n].x0 = huf[j].x;
      huf[n].x1 = huf[j].x1;
      hufbestcut(n);
      huf[j].x1 = huf[j].x;
      hufbestcut(j);
      hufnum = n + 1;
    }
  } else {
    // Each block is examined when the loop reaches it, and its parent once
    // more, since the parent's best cut has changed now that it is shorter.
    huf[0].prev = -1;
    for (int32_t i = 0; i < hufnum; i++) {
      hufcutifworth(i);
      if (hufnum == hufmaxblocks) break;
      if (huf[i].prev >= 0) {
        hufcutifworth(huf[i].prev);
        if (hufnum == hufmaxblocks) break;
      }
    }
  }

  // Blocks were appended in the order they were cut; put the ends in file
  // order. Only x1 is read after splitting, so only x1 moves. The ends are
  // all different, so the order is unique.
  for (int32_t gap = hufnum / 2; gap > 0; gap /= 2) {
    for (int32_t i = gap; i < hufnum; i++) {
      int32_t v = huf[i].x1;
      int32_t k = i;
      for (; k >= gap && huf[k - gap].x1 > v; k -= gap) huf[k].x1 = huf[k - gap].x1;
      huf[k].x1 = v;
    }
  }
  return 0;
}
