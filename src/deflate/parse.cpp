// The optimal parse. Every position of the entry is a node; a literal is a
// step of one position, every match the search offers is a step of its
// length, each weighted by its exact size in bits under the current block's
// code lengths. bjs holds the cost of the cheapest known path to each of the
// next 512 positions (no step is longer than 258), bj the last step of that
// path. Whenever no recorded step crosses the position being processed, the
// cheapest path to it can no longer change: it is gathered, written with the
// block's codes and counted (a cut point).
#include <cstring>

#include "deflate/deflate.h"
#include "driver/driver.h"

bjtyp bj[bjsiz];
int32_t bjs[bjsmask + 1];
int32_t wlzend = 0;
int32_t wlzplc = 0;
int32_t wlzmini = 0;
int32_t wlzmaxi = 0;
int32_t dawlzend2 = 0;

// The uncommitted stretch after which a cut is forced, so that a path never
// spans more than the bj ring.
constexpr int32_t wlzforcecut = bjsiz - 1;

void wlz77init() {
  if (!wlz77init1stime) initcodetables();

  bjs[0] = bjstart;
  for (int32_t k = 1; k <= bjsmask; k++) bjs[k] = bjunreached;

  memset(ffh, 0, sizeof ffh);
  memset(ffn, 0, sizeof ffn);
  if (strategy <= 2) {
    memset(pat10, 0, sizeof pat10);
    soleftc = -1;
    opat10 = -1;
    patplc = 0;
    solrig = 0;
    opat1 = 0;
    solval = 0;
  }

  hufcur = 0;
  huf[hufnum - 1].x1 = 0x7fffffff;
  wlzend = wlzplc = wlzmaxi = wlzmini = 0;
  ghufsave = 0;
  inithuf(0);
}

// Whether the block has codes for every symbol of a match step.
static inline bool wlzstepcoded(bjtyp r) {
  const int32_t *bit = huf[hufcur].bit;
  if (r.l == 1) return bit[r.d] != 0;
  return bit[227 + huflind[r.l - 3]] != 0 && bit[hufdistslot + hufdind[r.d - 1]] != 0;
}

// A forced cut commits the step into the furthest reach before that
// position is settled, so it could commit a step priced with a length or
// distance code the block does not have (such a step costs hufnocost and is
// only ever the best way into a position nothing cheaper has reached yet).
// With lengths derived from the block's own previous pass this does not
// happen: the cut falls at the same place in every pass and the step the
// previous pass committed there is coded and offered again. The guard keeps
// the stream valid for any other table: it cuts at the furthest reach whose
// step is coded (the literal into wlzplc always is), which is the furthest
// reach itself whenever that step is coded.
static int32_t wlzforcedreach() {
  int32_t m = wlzmaxi;
  while (m > wlzplc && (bjs[m & bjsmask] == bjunreached || !wlzstepcoded(bj[m & (bjsiz - 1)]))) m--;
  if (m < wlzmaxi) {
    for (int32_t t = m + 1; t <= wlzmaxi; t++) bjs[t & bjsmask] = bjunreached;
    wlzmaxi = m;
  }
  return m;
}

// Writes the settled path from wlzmini to wlzmaxi (= wlzplc).
static void wlzemit() {
  constexpr int32_t mask = bjsiz - 1;
  int32_t k = wlzmaxi;
  int32_t s = k - bj[k & mask].l;
  while (s > wlzmini) {
    k--;
    bj[k & mask] = bj[s & mask];
    s -= bj[k & mask].l;
  }

  huftree &h = huf[hufcur];
  uint32_t *frq = (uint32_t *)h.frq;
  for (; k <= wlzmaxi; k++) {
    bjtyp r = bj[k & mask];
    if (r.l == 1) {
      frq[r.d]++;
      fputbits(hufsym[r.d], h.bit[r.d]);
    } else {
      int32_t lr = huflind[r.l - 3];
      int32_t dc = hufdind[r.d - 1];
      frq[227 + lr]++;
      frq[hufdistslot + dc]++;
      fputbits(hufsym[227 + lr], h.bit[227 + lr]);
      fputbits(r.l - hxbit[lr][1], hxbit[lr][0]);
      fputbits(hufsym[hufdistslot + dc], h.bit[hufdistslot + dc]);
      fputbits(r.d - hxbit[dc][1], hxbit[dc][0]);
    }
  }
}

void wlz77(const uint8_t *buf, int32_t leng) {
  int32_t dawlzend;
  if (leng > 0) {
    int32_t o = wlzend & wlzmask;
    int32_t n1 = leng < wlzsiz - o ? leng : wlzsiz - o;
    memcpy(wlz + o, buf, (size_t)n1);
    memcpy(wlz, buf + n1, (size_t)(leng - n1));
    memcpy(wlz + wlzsiz, wlz, 4);
    wlzend += leng;
    dawlzend = wlzend - wlzlookahead;
  } else {
    dawlzend = wlzend;
  }
  dawlzend2 = huf[hufcur].x1 < wlzend ? huf[hufcur].x1 : wlzend;

  const bool search = strategy <= 2;
  while (wlzplc < dawlzend) {
    int32_t p = wlzplc;
    int32_t sc = bjs[p & bjsmask];
    bjs[p & bjsmask] = bjunreached;

    if (search) wlzsearch(p, sc);

    // The literal step; on equal cost it replaces a match into p + 1.
    int32_t b = wlz[p & wlzmask];
    wlzplc = p + 1;
    huftree &h = huf[hufcur];
    int32_t nsc = sc + h.bit[b];
    h.frq[b] = (int32_t)((uint32_t)h.frq[b] | hufseenflag);
    if (nsc <= bjs[wlzplc & bjsmask]) {
      if (wlzplc > wlzmaxi) wlzmaxi = wlzplc;
      bjs[wlzplc & bjsmask] = nsc;
      bj[wlzplc & (bjsiz - 1)] = bjtyp{1, (uint16_t)b};
    }

    // Longest Match commits the furthest step of every searched position;
    // the others only when the stretch would outgrow the step ring.
    if (strategy == 2 || wlzplc - wlzmini + wlzlookahead > wlzforcecut) {
      bool forced = strategy != 2;
      int32_t m = forced ? wlzforcedreach() : wlzmaxi;
      while (wlzplc < m) {
        int32_t q = wlzplc;
        bjs[q & bjsmask] = bjunreached;
        wlzskip(q);
        // Every byte value the parse weighs keeps a code for the next pass.
        // A skipped byte is a copy of one weighed earlier in the same block
        // (the stretch before a forced cut is longer than any match reaches
        // back), so this flag is a guard that never changes the counts.
        if (forced) {
          int32_t v = wlz[q & wlzmask];
          h.frq[v] = (int32_t)((uint32_t)h.frq[v] | hufseenflag);
        }
        wlzplc = q + 1;
      }
    }

    if (wlzmaxi == wlzplc) {
      wlzemit();
      wlzmini = wlzplc;
      // Only this position's cost is live now; counting the rest of the
      // block from here again gives the same decisions and keeps the costs
      // of a large block from overflowing.
      bjs[wlzplc & bjsmask] = bjstart;

      if (wlzplc >= huf[hufcur].x1) {
        nexthuf();
        for (int32_t k = 0; k <= bjsmask; k++) bjs[k] = bjunreached;
        dawlzend2 = huf[hufcur].x1 < wlzend ? huf[hufcur].x1 : wlzend;
        bjs[wlzplc & bjsmask] = bjstart;
      }
    }
  }
}
