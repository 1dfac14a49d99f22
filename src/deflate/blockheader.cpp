// The run-length rules are greedy and local, and they are part of the
// output: the same lengths always give the same header bits. They run twice
// over the same sequence, first to count the code-length symbols (from which
// the code-length code is built), then to write them with that code; both
// runs must decide alike, since only counted symbols get a code. The
// extra-effort modes search for a shorter coding of the same lengths and
// keep it as a plan, which the same two runs replay.
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

// One run of the rules over the n lengths in seq. The variants are only
// starting points of the search for a shorter plan (the normal run's
// headers are always those of the rules alone): norepeat sends every
// nonzero length singly, nozerorepeat ends a zero run with 17 rather than 16.
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

// The sequence that the header codes: as many lengths as reach the last
// used code of each alphabet (at least the 257 of the literals and end of
// block, and one distance length, 0 when the block has no match), the two
// alphabets' lengths as one sequence, so a run may cross from the one into
// the other. Returns its length; sets hlit and hdist.
int32_t headersequence(const int32_t *lengths, int32_t *seq, int32_t &hlit, int32_t &hdist) {
  hlit = 286;
  while (hlit > 257 && lengths[hlit - 1] == 0) hlit--;
  hdist = 30;
  while (hdist > 1 && lengths[distslot + hdist - 1] == 0) hdist--;
  int32_t n = 0;
  for (int32_t s = 0; s < hlit; s++) seq[n++] = lengths[s];
  for (int32_t s = 0; s < hdist; s++) seq[n++] = lengths[distslot + s];
#ifndef NDEBUG
  for (int32_t k = 0; k < n; k++) assert(seq[k] >= 0 && seq[k] <= 15);
#endif
  return n;
}

// The extra bits of each code-length symbol.
constexpr int32_t extrawidth(int32_t sym) { return sym == repeatprevious ? 2 : sym == shortzeros ? 3 : sym == longzeros ? 7 : 0; }

// Writes the header to bits, or only adds up its size in *size; symbols(out)
// emits the code-length symbols of the sequence seq.
template <class producer>
void blockheader(bitwriter *bits, int64_t *size, int32_t hlit, int32_t hdist, huffmanscratch &scratch,
                 bool onecodeforempty, producer symbols) {
  int32_t codes[19] = {};
  int32_t codelens[19];
  clsink counting{bits, codes, nullptr};
  symbols(counting);
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
  symbols(writing);
}

// The symbols of a plan, or of the rules when it has none.
auto planned(const int32_t *seq, int32_t n, const headerplan &plan) {
  return [=, &plan](clsink &out) {
    if (!plan.count) return runlengths(seq, n, out);
    for (int32_t k = 0; k < plan.count; k++)
      out.emit(plan.symbol[k], plan.extra[k], extrawidth(plan.symbol[k]));
  };
}

// The cheapest plan for the sequence when symbol s costs cost[s] bits (its
// extra bits added): a shortest path from position 0 to n, each step one
// code-length symbol. Returns the path's cost.
int64_t shortestplan(const int32_t *seq, int32_t n, const int32_t *cost, headerplan &plan) {
  int64_t best[maxheadersymbols + 1];
  uint8_t sym[maxheadersymbols], run[maxheadersymbols];
  int32_t same[maxheadersymbols + 1];   // equal lengths from each position on
  same[n] = 0;
  best[n] = 0;
  for (int32_t i = n - 1; i >= 0; i--) {
    same[i] = i + 1 < n && seq[i + 1] == seq[i] ? same[i + 1] + 1 : 1;
    int32_t v = seq[i];
    best[i] = cost[v] + best[i + 1], sym[i] = (uint8_t)v, run[i] = 1;
    auto consider = [&](int32_t s, int32_t r) {
      int64_t c = cost[s] + extrawidth(s) + best[i + r];
      if (c < best[i]) best[i] = c, sym[i] = (uint8_t)s, run[i] = (uint8_t)r;
    };
    // 16 copies the length before i, whatever coded it.
    if (i > 0 && seq[i - 1] == v)
      for (int32_t r = 3; r <= 6 && r <= same[i]; r++) consider(repeatprevious, r);
    if (v == 0) {
      for (int32_t r = 3; r <= 10 && r <= same[i]; r++) consider(shortzeros, r);
      for (int32_t r = 11; r <= 138 && r <= same[i]; r++) consider(longzeros, r);
    }
  }
  plan.count = 0;
  for (int32_t i = 0; i < n; i += run[i]) {
    int32_t s = sym[i];
    plan.symbol[plan.count] = (uint8_t)s;
    plan.extra[plan.count++] = (uint8_t)(s == repeatprevious || s == shortzeros ? run[i] - 3 : s == longzeros ? run[i] - 11 : 0);
  }
  return best[0];
}

// A plan's header size in bits, the code-length code built from its counts.
int64_t plannedbits(const int32_t *seq, int32_t n, int32_t hlit, int32_t hdist, const headerplan &plan,
                    huffmanscratch &scratch, bool onecodeforempty) {
  int64_t size = 0;
  blockheader(nullptr, &size, hlit, hdist, scratch, onecodeforempty, planned(seq, n, plan));
  return size;
}

}  // namespace

void writeblockheader(bitwriter &bits, const int32_t *lengths, huffmanscratch &scratch, bool onecodeforempty) {
  writeplannedheader(bits, lengths, headerplan{}, scratch, onecodeforempty);
}

int64_t blockheaderbits(const int32_t *lengths, huffmanscratch &scratch, bool onecodeforempty) {
  int32_t seq[maxheadersymbols], hlit, hdist;
  int32_t n = headersequence(lengths, seq, hlit, hdist);
  int64_t size = 0;
  blockheader(nullptr, &size, hlit, hdist, scratch, onecodeforempty, [&](clsink &out) { runlengths(seq, n, out); });
  return size;
}

void writeplannedheader(bitwriter &bits, const int32_t *lengths, const headerplan &plan, huffmanscratch &scratch,
                        bool onecodeforempty) {
  int32_t seq[maxheadersymbols], hlit, hdist;
  int32_t n = headersequence(lengths, seq, hlit, hdist);
  blockheader(&bits, nullptr, hlit, hdist, scratch, onecodeforempty, planned(seq, n, plan));
}

int64_t cheapestheader(const int32_t *lengths, huffmanscratch &scratch, bool onecodeforempty, headerplan &plan) {
  int32_t seq[maxheadersymbols], hlit, hdist;
  const int32_t n = headersequence(lengths, seq, hlit, hdist);
  plan.count = 0;
  int64_t best = plannedbits(seq, n, hlit, hdist, plan, scratch, onecodeforempty);
  // The search starts from the code of each variant of the rules; a symbol
  // that code lacks is priced as if it had the longest code.
  for (int32_t rules = 0; rules < 4; rules++) {
    int32_t counts[19] = {};
    clsink counting{nullptr, counts, nullptr};
    runlengths(seq, n, counting, rules);
    for (int32_t round = 0; round < 4; round++) {
      int32_t codelens[19], cost[19];
      lengthsfromcounts(scratch, counts, 19, codelens, 8, onecodeforempty);
      for (int32_t s = 0; s < 19; s++) cost[s] = codelens[s] ? codelens[s] : 7;
      headerplan tried;
      shortestplan(seq, n, cost, tried);
      int64_t bits = plannedbits(seq, n, hlit, hdist, tried, scratch, onecodeforempty);
      if (bits >= best && round) break;
      if (bits < best) best = bits, plan = tried;
      for (int32_t &c : counts) c = 0;
      for (int32_t k = 0; k < tried.count; k++) counts[tried.symbol[k]]++;
    }
  }
  return best;
}
