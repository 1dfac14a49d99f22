// The run-length rules are greedy and local, and they are part of the
// output: the same lengths always give the same header bits. They run twice
// over the same sequence, first to count the code-length symbols (from which
// the code-length code is built), then to write them with that code; both
// runs must decide alike, since only counted symbols get a code.
#include "deflate/blockheader.h"

#include <cassert>

#include "deflate/blocktable.h"

namespace {

// The order in which the code-length code's lengths are sent, rarest last,
// so that HCLEN can drop the unused tail.
constexpr uint8_t sendorder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Code-length symbols: 0..15 a length; 16 repeats the previous length 3..6
// times; 17 sends 3..10 zeros; 18 sends 11..138 zeros.
constexpr int32_t repeatprevious = 16;
constexpr int32_t shortzeros = 17;
constexpr int32_t longzeros = 18;

// Counts a code-length symbol (codelens null), or writes its code and extra
// bits (or only adds up their size, when size is not null).
struct clsink {
  bitwriter *bits;
  int32_t *codes;            // the counts while counting, then the codes
  const int32_t *codelens;   // null while counting
  int64_t *size = nullptr;

  void emit(int32_t sym, int32_t extra, int32_t nbits) {
    if (!codelens) {
      codes[sym]++;
    } else if (size) {
      *size += codelens[sym] + nbits;
    } else {
      bits->put(codes[sym], codelens[sym]);
      bits->put(extra, nbits);
    }
  }
};

// A repeat count for symbol 16 from a run of r equal lengths: at most 6,
// but a run of 6k + 2 takes 5 first. Taking 6 each time would leave 2 at
// the end, too few for a repeat, to be sent singly.
inline int32_t repeatcount(int32_t r) {
  if (r % 6 == 2) r = 5;
  return r > 6 ? 6 : r;
}

// One run of the rules over the n lengths in seq. The other rules, which
// only the extra-effort mode uses (the normal run's headers are always
// those of the rules alone): norepeat sends every nonzero length singly,
// nozerorepeat ends a zero run with 17 rather than 16.
void runlengths(const int32_t *seq, int32_t n, clsink &out, int32_t rules = 0) {
  const bool norepeat = rules & 1, nozerorepeat = rules & 2;
  int32_t i = 0;
  while (i < n) {
    int32_t v = seq[i];
    int32_t run = 1;
    while (i + run < n && seq[i + run] == v) run++;

    if (v == 0 && run >= 3) {
      if (run > 138) run = 138;
      if (run >= 11) {
        out.emit(longzeros, run - 11, 7);
      } else if (i > 0 && seq[i - 1] == 0 && run <= 6 && !nozerorepeat) {
        // The tail of a zero run cut at 138: the previous length is 0, and
        // 16 has the shorter count field.
        out.emit(repeatprevious, run - 3, 2);
      } else {
        out.emit(shortzeros, run - 3, 3);
      }
      i += run;
    } else if (v && norepeat) {
      out.emit(v, 0, 0);
      i++;
    } else if (i > 0 && v == seq[i - 1] && run >= 3) {
      // The rest of a run whose first repeat ran out at 6.
      int32_t r = repeatcount(run);
      out.emit(repeatprevious, r - 3, 2);
      i += r;
    } else if (run >= 4) {
      out.emit(v, 0, 0);
      int32_t r = repeatcount(run - 1);
      out.emit(repeatprevious, r - 3, 2);
      i += 1 + r;
    } else {
      out.emit(v, 0, 0);
      i++;
    }
  }
}

}  // namespace

// Writes the header to bits, or only adds up its size in *size.
static void blockheader(bitwriter *bits, int64_t *size, const int32_t *lengths, huffmanscratch &scratch,
                        bool onecodeforempty, int32_t rules) {
  // Only as many lengths as reach the last used code of each alphabet; at
  // least the 257 of the literals and end of block, and one distance
  // length (0 when the block has no match).
  int32_t hlit = 286;
  while (hlit > 257 && lengths[hlit - 1] == 0) hlit--;
  int32_t hdist = 30;
  while (hdist > 1 && lengths[distslot + hdist - 1] == 0) hdist--;

  // The two alphabets' lengths form one sequence: a run may cross from the
  // literal/length lengths into the distance lengths.
  int32_t seq[286 + 30];
  int32_t n = 0;
  for (int32_t s = 0; s < hlit; s++) seq[n++] = lengths[s];
  for (int32_t s = 0; s < hdist; s++) seq[n++] = lengths[distslot + s];
#ifndef NDEBUG
  for (int32_t k = 0; k < n; k++) assert(seq[k] >= 0 && seq[k] <= 15);
#endif

  int32_t codes[19] = {};
  int32_t codelens[19];
  clsink counting{bits, codes, nullptr};
  runlengths(seq, n, counting, rules);
  // The code-length code's lengths are sent in 3 bits: limit 8, at most 7.
  lengthsfromcounts(scratch, codes, 19, codelens, 8, onecodeforempty);
  canonicalcodes(codelens, 19, codes);

  // At least 4 lengths (symbols 16, 17, 18 and 0) are always sent.
  int32_t c = 19;
  while (c > 4 && codelens[sendorder[c - 1]] == 0) c--;
  clsink writing{bits, codes, codelens, size};
  if (size) {
    *size += 5 + 5 + 4 + 3 * c;
  } else {
    bits->put(hlit - 257, 5);
    bits->put(hdist - 1, 5);
    bits->put(c - 4, 4);
    for (int32_t k = 0; k < c; k++) bits->put(codelens[sendorder[k]], 3);
  }
  runlengths(seq, n, writing, rules);
}

void writeblockheader(bitwriter &bits, const int32_t *lengths, huffmanscratch &scratch, bool onecodeforempty,
                      int32_t rules) {
  blockheader(&bits, nullptr, lengths, scratch, onecodeforempty, rules);
}

int64_t blockheaderbits(const int32_t *lengths, huffmanscratch &scratch, bool onecodeforempty, int32_t rules) {
  int64_t size = 0;
  blockheader(nullptr, &size, lengths, scratch, onecodeforempty, rules);
  return size;
}
