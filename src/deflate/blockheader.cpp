// The dynamic block header (RFC 1951, 3.2.7): HLIT, HDIST, HCLEN, the
// code-length code and the block's code lengths, run-length coded.
//
// The run-length rules are greedy and local, and they are part of the
// output: the same lengths always give the same header bits. They run twice
// over the same sequence, first to count the code-length symbols (from which
// the code-length code is built), then to write them with that code; both
// runs must decide alike, since only counted symbols get a code.
#include <cassert>

#include "deflate/deflate.h"

// The order in which the code-length code's lengths are sent, rarest last,
// so that HCLEN can drop the unused tail.
static constexpr uint8_t ccind[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Code-length symbols: 0..15 a length; 16 repeats the previous length 3..6
// times; 17 sends 3..10 zeros; 18 sends 11..138 zeros.
constexpr int32_t clrepeat = 16;
constexpr int32_t clzeros = 17;
constexpr int32_t clzeroslong = 18;

// Counts the symbol (huftbit null) or writes its code and extra bits.
static inline void clemit(int32_t sym, int32_t extra, int32_t nbits, int32_t *huftsym,
                          const int32_t *huftbit) {
  if (!huftbit) {
    huftsym[sym]++;
    return;
  }
  fputbits(huftsym[sym], huftbit[sym]);
  fputbits(extra, nbits);
}

// A repeat count for symbol 16 from a run of r equal lengths: at most 6,
// but a run of 6k + 2 takes 5 first. Taking 6 each time would leave 2 at
// the end, too few for a repeat, to be sent singly.
static inline int32_t clrepeatcount(int32_t r) {
  if (r % 6 == 2) r = 5;
  return r > 6 ? 6 : r;
}

// One run of the rules over the n lengths in seq.
static void clrunlengths(const int32_t *seq, int32_t n, int32_t *huftsym, const int32_t *huftbit) {
  int32_t i = 0;
  while (i < n) {
    int32_t v = seq[i];
    int32_t run = 1;
    while (i + run < n && seq[i + run] == v) run++;

    if (v == 0 && run >= 3) {
      if (run > 138) run = 138;
      if (run >= 11) {
        clemit(clzeroslong, run - 11, 7, huftsym, huftbit);
      } else if (i > 0 && seq[i - 1] == 0 && run <= 6) {
        // The tail of a zero run cut at 138: the previous length is 0, and
        // 16 has the shorter count field.
        clemit(clrepeat, run - 3, 2, huftsym, huftbit);
      } else {
        clemit(clzeros, run - 3, 3, huftsym, huftbit);
      }
      i += run;
    } else if (i > 0 && v == seq[i - 1] && run >= 3) {
      // The rest of a run whose first repeat ran out at 6.
      int32_t r = clrepeatcount(run);
      clemit(clrepeat, r - 3, 2, huftsym, huftbit);
      i += r;
    } else if (run >= 4) {
      clemit(v, 0, 0, huftsym, huftbit);
      int32_t r = clrepeatcount(run - 1);
      clemit(clrepeat, r - 3, 2, huftsym, huftbit);
      i += 1 + r;
    } else {
      clemit(v, 0, 0, huftsym, huftbit);
      i++;
    }
  }
}

void storehuftables(const int32_t *dahufbit) {
  // Only as many lengths as reach the last used code of each alphabet; at
  // least the 257 of the literals and end of block, and one distance
  // length (0 when the block has no match).
  int32_t hlit = 286;
  while (hlit > 257 && dahufbit[hlit - 1] == 0) hlit--;
  int32_t hdist = 30;
  while (hdist > 1 && dahufbit[hufdistslot + hdist - 1] == 0) hdist--;
  fputbits(hlit - 257, 5);
  fputbits(hdist - 1, 5);

  // The two alphabets' lengths form one sequence: a run may cross from the
  // literal/length lengths into the distance lengths. The caller's table is
  // only read.
  int32_t seq[286 + 30];
  int32_t n = 0;
  for (int32_t s = 0; s < hlit; s++) seq[n++] = dahufbit[s];
  for (int32_t s = 0; s < hdist; s++) seq[n++] = dahufbit[hufdistslot + s];
#ifndef NDEBUG
  for (int32_t k = 0; k < n; k++) assert(seq[k] >= 0 && seq[k] <= 15);
#endif

  int32_t huftsym[19] = {};
  int32_t huftbit[19];
  clrunlengths(seq, n, huftsym, nullptr);
  // The code-length code's lengths are sent in 3 bits: limit 8, at most 7.
  hufrq2bit(huftsym, 19, huftbit, 8);
  hufgensym(huftbit, 19, huftsym);

  // At least 4 lengths (symbols 16, 17, 18 and 0) are always sent.
  int32_t c = 19;
  while (c > 4 && huftbit[ccind[c - 1]] == 0) c--;
  fputbits(c - 4, 4);
  for (int32_t k = 0; k < c; k++) fputbits(huftbit[ccind[k]], 3);

  clrunlengths(seq, n, huftsym, huftbit);
}
