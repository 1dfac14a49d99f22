// Huffman code lengths from symbol counts, limited in depth, and the
// canonical codes of RFC 1951 (3.2.2) for a set of lengths.
//
// The compressed output of the whole system depends on exactly which lengths
// come out for a given set of counts, not only on their total cost: every
// pass derives the next pass's tables from them and prices its parse with
// them. So ties are broken by fixed rules: the heap never lets a node rise
// past one of equal weight, and equal-weight runs of adjacent symbols get
// their lengths in ascending order.
#include <cassert>

#include "deflate/deflate.h"
#include "driver/driver.h"

int32_t hpfrq[576];
int32_t hppnode[576];
int32_t heapbuf[290];
int32_t heapcnt = 0;

// Node 575 lies above the largest node number a 286-symbol tree can use
// (2 x 286 - 2 = 570). Its weight is below every real weight, so in slot 0
// it stops every climb at the root without an index test.
constexpr int32_t hpsentinel = 575;
constexpr int32_t hpsentinelweight = INT32_MIN;
// Weight of an unused symbol: it enters the heap like the others so that
// node numbers stay fixed, but it is never taken out, since real weights
// (and their sums, the counts of one call staying below 2^31) are smaller.
constexpr int32_t hpunused = INT32_MAX;

void heapinit() {
  hpfrq[hpsentinel] = hpsentinelweight;
  heapbuf[0] = hpsentinel;
  heapcnt = 0;
}

void heapinsert(int32_t num) {
  assert(heapcnt < 289);
  int32_t w = hpfrq[num];
  int32_t i = ++heapcnt;
  // Strictly greater: a node never rises past one of equal weight, so of
  // equal weights the one inserted first comes out first.
  while (hpfrq[heapbuf[i >> 1]] > w) {
    heapbuf[i] = heapbuf[i >> 1];
    i >>= 1;
  }
  heapbuf[i] = num;
}

int32_t heapremovetop() {
  assert(heapcnt > 0);
  int32_t top = heapbuf[1];
  int32_t mov = heapbuf[heapcnt];
  heapcnt--;
  if (heapcnt <= 1) {
    heapbuf[1] = mov;
    return top;
  }
  int32_t w = hpfrq[mov];
  int32_t i = 1;
  do {
    int32_t c = i << 1;
    // The right child only when strictly lighter: of equal children the
    // left one moves up.
    if (c + 1 <= heapcnt && hpfrq[heapbuf[c + 1]] < hpfrq[heapbuf[c]]) c++;
    if (hpfrq[heapbuf[c]] >= w) break;
    heapbuf[i] = heapbuf[c];
    i = c;
  } while ((i << 1) <= heapcnt);
  heapbuf[i] = mov;
  return top;
}

void hufrq2bit(const int32_t *frqbuf, int32_t inum, int32_t *bitbuf, int32_t maxbitsiz) {
  assert(inum >= 1 && inum <= 286);
  // Coarsening: the weight of a used symbol is ceil(count / 2^shr). Each
  // round halves the weights, which flattens the tree; once every weight is
  // 1 the tree is balanced (9 levels for 286 symbols, 5 for 19), so the loop
  // ends. 64-bit so that count + add cannot overflow.
  int32_t shr = 0;
  int64_t add = 0;
  for (;;) {
    heapinit();
    int32_t nz = 0;
    for (int32_t i = 0; i < inum; i++) {
      if (frqbuf[i] > 0) {
        hpfrq[i] = (int32_t)(((int64_t)frqbuf[i] + add) >> shr);
        nz++;
      } else {
        hpfrq[i] = hpunused;
      }
      heapinsert(i);
    }

    if (nz <= 1) {
      // No tree to build: a lone used symbol (the lightest node) gets a
      // 1-bit code. With none, the lightest node is an unused symbol and
      // keeps length 0, unless zlib 1.2.1's inflate is to be served, which
      // refuses a code with no lengths at all: symbol 0 then gets one code.
      for (int32_t i = 0; i < inum; i++) bitbuf[i] = 0;
      bitbuf[heapremovetop()] = nz;
      if (fixzlib121 && nz == 0) bitbuf[0] = 1;
      return;
    }

    // nz - 1 merges take exactly the used symbols and the new nodes; the
    // unused symbols stay at the bottom of the heap.
    int32_t root = inum + nz - 2;
    for (int32_t t = inum; t <= root; t++) {
      int32_t a = heapremovetop();
      hppnode[a] = t;
      int32_t b = heapremovetop();
      hppnode[b] = t;
      hpfrq[t] = hpfrq[a] + hpfrq[b];
      heapinsert(t);
    }

    // Every parent has a higher number than its children, so one downward
    // sweep turns the internal nodes' weights into depths.
    hpfrq[root] = 0;
    for (int32_t t = root - 1; t >= inum; t--) hpfrq[t] = hpfrq[hppnode[t]] + 1;

    int32_t maxlen = 0;
    for (int32_t i = inum - 1; i >= 0; i--) {
      if (frqbuf[i] > 0) {
        int32_t l = hpfrq[hppnode[i]] + 1;
        bitbuf[i] = l;
        if (l > maxlen) maxlen = l;
      } else {
        bitbuf[i] = 0;
      }
    }
    if (maxlen < maxbitsiz) break;
    add += (int64_t)1 << shr;
    shr++;
  }

  // Runs of adjacent symbols with equal (scaled) weight get their lengths in
  // ascending order: the same multiset of lengths, so the code stays
  // complete and its cost unchanged, but the outcome no longer depends on
  // where the heap happened to put equal nodes. The leaves' hpfrq still hold
  // the final round's weights; an unused symbol's weight is hpunused, which
  // no used symbol has when two or more are used, so it always ends a run.
  int32_t i = 0;
  while (i < inum) {
    if (frqbuf[i] <= 0) {
      i++;
      continue;
    }
    int32_t e = i + 1;
    while (e < inum && hpfrq[e] == hpfrq[i]) e++;
    for (int32_t k = i + 1; k < e; k++) {
      for (int32_t m = i; m < k; m++) {
        if (bitbuf[m] > bitbuf[k]) {
          int32_t t = bitbuf[m];
          bitbuf[m] = bitbuf[k];
          bitbuf[k] = t;
        }
      }
    }
    i = e;
  }
}

void hufgensym(const int32_t *inbuf, int32_t inum, int32_t *sybuf) {
  int32_t tbuf[32] = {};
  for (int32_t i = 0; i < inum; i++) {
    assert(inbuf[i] >= 0 && inbuf[i] <= 31);
    tbuf[inbuf[i]]++;
  }

  // First code of each length (RFC 1951, 3.2.2): the codes of one length
  // follow each other in symbol order, and the next length continues from
  // the code after the last of the shorter ones, doubled.
  uint32_t nextcode[32];
  uint32_t code = 0;
  for (int32_t l = 1; l < 32; l++) {
    nextcode[l] = code;
    code = (code + (uint32_t)tbuf[l]) << 1;
  }

  // The bit writer sends bit 0 first but a Huffman code goes out from its
  // most significant bit, so each code is stored reversed.
  for (int32_t i = 0; i < inum; i++) {
    int32_t l = inbuf[i];
    if (l == 0) continue;
    uint32_t c = nextcode[l]++;
    uint32_t r = 0;
    for (int32_t k = 0; k < l; k++) {
      r = (r << 1) | (c & 1);
      c >>= 1;
    }
    sybuf[i] = (int32_t)r;
  }
}
