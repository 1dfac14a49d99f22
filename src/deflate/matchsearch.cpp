// The LZ77 match search. At every searched position p it offers the parse
// the nearest earlier occurrence of the bytes at p for every length from 3
// up, and under Xtreme also farther occurrences whose distance code is
// cheaper in the current block.
//
// Three incremental structures keep that affordable: hash chains over the
// first three bytes find the nearest 3-byte match; a distance list per
// searched position (entry k: the distance at which the search there first
// reached length k + 3) lets a later position jump from one occurrence of an
// l-byte string straight to the previous one; and a run table lets the walk
// cross a run of one byte value in one step. Which candidates are offered,
// and in which order, decides the parse on ties: all of it affects the
// output bits.
//
// Bytes at or beyond the end of the data received match nothing, so an
// entry's bits never depend on what an earlier entry or pass left in the
// window.
#include <cstring>

#include "deflate/deflate.h"
#include "driver/driver.h"

uint8_t wlz[wlzsiz + 4];
int16_t ffh[ffhsiz];
int16_t ffn[32768];
int32_t solval = 0;
int32_t soleftc = -1;
uint16_t soleft[65536];
int32_t solrig = 0;
int32_t soleng = 0;
uint16_t patbuf[patbufsiz];
int32_t pat0[32768];
int32_t pat10[32768];
int32_t patplc = 0;
int32_t opat1 = 0;
int32_t opat10 = -1;
int32_t dbitol[256];

// The first three bytes at q, read as one little-endian word.
static inline uint32_t wlztriple(int32_t q) {
  uint32_t v;
  memcpy(&v, wlz + (q & wlzmask), 4);   // wlz[65536..65539] repeat wlz[0..3]
  return v & 0xffffff;
}

// Hash of three bytes, and of the first three bytes at q.
static inline int32_t wlzhash3(uint32_t t) { return (int32_t)((t * 0x9e3779b1u) >> 16); }
static inline int32_t wlzhash(int32_t q) { return wlzhash3(wlztriple(q)); }

static inline void wlzrun(int32_t q, int32_t b) {
  if (b == solval) {
    if (soleftc < 32767) soleftc++;
  } else {
    solval = b;
    soleftc = 0;
  }
  soleft[q & 0xffff] = (uint16_t)soleftc;
}

// Next candidate for length l after distance d (which matches p for at
// least l bytes), or 0 when there is none.
static inline int32_t wlznext(int32_t p, int32_t l, int32_t d) {
  if (l == soleng) d += soleft[(p - d) & 0xffff];
  if (d >= wlzmaxdist) return 0;
  int32_t s = (p - d) & 32767;
  if (pat10[s] <= l - 3) return 0;
  d += patbuf[pat0[s] + l - 3];
  return d > wlzmaxdist ? 0 : d;
}

// Whether the candidate at distance d also matches byte l (beyond the end
// of the data nothing matches).
static inline bool wlzextends(int32_t p, int32_t l, int32_t d) {
  return p + l < wlzend && wlz[(p + l - d) & wlzmask] == wlz[(p + l) & wlzmask];
}

// Proves cheaply, where it can, that no position at a distance from d0 to
// wlzmaxdist matches p for l + 1 bytes; then a walk along the l-chain from
// d0 cannot extend and its result is known without following the chain. This
// is what makes periodic data with scattered changes affordable: there the
// chain runs through the whole window while the byte that would extend it
// occurs nowhere. A false answer only means "could not prove it"; the caller
// then walks as before, so the offers never change.
static bool wlznoextension(int32_t p, int32_t l, int32_t d0) {
  const int32_t e = p + l;   // the byte that would extend the match
  if (e >= wlzend) return true;
  const uint8_t c = wlz[e & wlzmask];

  // Distances below l - 1 overlap p's own bytes: the byte l before the
  // extension byte's partner must already equal it.
  const int32_t dsmall = l - 2 < wlzmaxdist ? l - 2 : wlzmaxdist;
  for (int32_t d = d0; d <= dsmall; d++)
    if (wlz[(e - d) & wlzmask] == c) return false;

  // Longer distances end with a copy of the three bytes at a = p + l - 2,
  // at a position already in the hash chains; the chain of their hash holds
  // every such position of the window, nearest first.
  const int32_t a = e - 2;
  const uint32_t want = wlztriple(a);
  const int32_t dmin = d0 > l - 1 ? d0 : l - 1;
  const int32_t h = wlzhash(a);
  int32_t cand = ffh[h];
  int32_t prev = -1;
  for (int32_t k = 0; k < 48; k++) {
    int32_t back = (p - 1 - cand) & 32767;
    if (back <= prev) return true;
    int32_t q = p - 1 - back;
    int32_t d = a - q;
    if (d > wlzmaxdist || q < 0) return true;
    uint32_t there = wlztriple(q);
    if (there == want) {
      // Only the whole l + 1 bytes make a match the walk could find.
      if (d >= dmin && q >= l - 2) {
        const int32_t s = p - d;
        int32_t i = 0;
        while (i <= l && wlz[(s + i) & wlzmask] == wlz[(p + i) & wlzmask]) i++;
        if (i > l) return false;
      }
    } else if (wlzhash(q) != h) {
      // The chain has left the window (a link to a reused slot, or the empty
      // head of a hash not seen in this entry): no older member is in it.
      return true;
    }
    prev = back;
    cand = ffn[cand];
  }
  return false;
}

// Chain steps after which a failing walk tries to prove it cannot extend;
// below this the walk is cheaper than the proof. No effect on the output.
constexpr int32_t wlzprooflimit = 8;

static inline int32_t wlzcost(int32_t sc, int32_t l, int32_t d) {
  return sc + bitot[huflind[l - 3]] + bitot[hufdind[d - 1]];
}

// Intense and Longest Match: the nearest distance for each length.
static void wlzwalknearest(int32_t p, int32_t sc, int32_t d) {
  int32_t l = 3;
  for (;;) {
    patbuf[patplc++] = (uint16_t)d;
    wlzoffer(p, l, d, wlzcost(sc, l, d));
    if (l == 258) return;
    int32_t steps = 0;
    while (!wlzextends(p, l, d)) {
      if (++steps == wlzprooflimit && wlznoextension(p, l, d)) return;
      d = wlznext(p, l, d);
      if (!d) return;
    }
    l++;
  }
}

// Xtreme: besides the nearest distance for each length, every candidate
// whose distance code is cheaper than those already offered for the length.
static void wlzwalkxtreme(int32_t p, int32_t sc, int32_t d) {
  int32_t l = 3, od = 0, nd = 0, thr = 0, steps = 0;
  const int32_t listbase = pat0[p & 32767];

x1:  // offer, and while the candidate extends, offer it for the next length
  {
    const int32_t dcode = hufdind[d - 1];
    const int32_t dcost = bitot[dcode];
    const int32_t base = sc + dcost;
    // The lengths l..m that this candidate reaches: it extends from each
    // one to the next up to m.
    int32_t m = l;
    while (m < 258 && wlzextends(p, m, d)) m++;
    // Lengths that already have a list entry only lower their cost; the
    // others append d.
    int32_t have = patplc - listbase + 3;
    int32_t k = l;
    for (; k <= m && k < have; k++) {
      if (dcost < dbitol[k - 3]) dbitol[k - 3] = dcost;
      wlzoffer(p, k, d, base + bitot[huflind[k - 3]]);
    }
    for (; k <= m; k++) {
      patbuf[patplc++] = (uint16_t)d;
      dbitol[k - 3] = dcost;
      wlzoffer(p, k, d, base + bitot[huflind[k - 3]]);
    }
    l = m;
    if (l == 258) {
      if (resetleng[dcode] > 29) return;
      d = wlznext(p, 258, d);
      if (!d) return;
      goto x1;
    }
    // x2: start a length (the same for every length this candidate reached)
    nd = resetleng[dcode];
    od = d;
    steps = 0;
  }
  goto x4;

x3:  // extend
  if (wlzextends(p, l, d)) {
    l++;
    goto x1;
  }
x4:
  // With no cheaper code to look for, the loop of x3 and x4 ends only by an
  // extension or at the end of the chain.
  if (++steps == wlzprooflimit && nd > 29 && wlznoextension(p, l, d)) return;

  // next candidate
  d = wlznext(p, l, d);
  if (!d) {
    if (nd > 29) return;
    thr = bitot[nd];
  } else {
    int32_t x = hufdind[d - 1];
    if (x < nd) goto x3;
    int32_t r = nd;
    while (resetleng[r] <= x) r = resetleng[r];
    thr = bitot[r];
  }

  // x5: step back to the lengths that a cheaper code can improve
  while (l > 5 && dbitol[l - 6] > thr) l -= 3;
  while (l > 3 && dbitol[l - 4] > thr) l -= 1;

  // x6: from od, the first candidate for the new l whose code reaches nd
  d = od;
  for (;;) {
    if (l == soleng) {
      d += soleft[(p - d) & 0xffff];
      if (d > wlzmaxdist) return;
      if (hufdind[d - 1] >= nd) {
        d = hxbit[nd][1];
        goto x1;
      }
    }
    if (d == wlzmaxdist) return;
    int32_t s = (p - d) & 32767;
    if (pat10[s] <= l - 3) return;
    d += patbuf[pat0[s] + l - 3];
    if (d > wlzmaxdist) return;
    if (hufdind[d - 1] >= nd) goto x1;
  }
}

void wlzsearch(int32_t p, int32_t sc) {
  // Run bookkeeping.
  int32_t b = wlz[p & wlzmask];
  wlzrun(p, b);
  if (solrig < p + 1) solrig = p + 1;
  while (solrig < wlzend && wlz[solrig & wlzmask] == b) solrig++;
  soleng = solrig - p;

  // List start; a list of up to 256 entries never runs past the store.
  if (patplc > patbufsiz - 256) patplc = 0;
  const int32_t slot = p & 32767;
  pat0[slot] = patplc;

  // Nearest 3-byte match. Within the window a chain holds every position
  // with its hash, nearest first; past its last member it runs on through
  // slots reused by newer positions or left empty. Those are recognised by a
  // shrinking distance or a different hash, and end the search: an equal
  // string there would have been a member of the chain.
  const uint32_t here = wlztriple(p);
  const int32_t fi = wlzhash3(here);
  if (p + 3 <= wlzend) {
    int32_t cand = ffh[fi];
    int32_t prev = 0;
    for (;;) {
      int32_t d = ((p - cand - 1) & 32767) + 1;
      if (d <= prev) break;
      uint32_t there = wlztriple(p - d);
      if (there != here) {
        if (wlzhash3(there) != fi) break;
        prev = d;
        cand = ffn[cand];
        continue;
      }
      if (d <= p) {
        if (strategy == 0) wlzwalkxtreme(p, sc, d);
        else wlzwalknearest(p, sc, d);
      }
      break;
    }
  }

  // Finish: a list equal to the tail of the previous position's list is
  // stored once; then p joins its hash chain.
  int32_t n = patplc - pat0[slot];
  pat10[slot] = n;
  if (n <= opat10) {
    int32_t k = 0;
    const uint16_t *mine = patbuf + pat0[slot];
    const uint16_t *prevtail = patbuf + opat1 - n;
    while (k < n && mine[k] == prevtail[k]) k++;
    if (k == n) {
      pat0[slot] = opat1 - n;
      patplc = opat1;
    }
  }
  ffn[slot] = ffh[fi];
  ffh[fi] = (int16_t)slot;
  opat1 = patplc;
  opat10 = n;
}

void wlzskip(int32_t q) {
  int32_t fi = wlzhash(q);
  if (strategy <= 2) {
    wlzrun(q, wlz[q & wlzmask]);
    pat10[q & 32767] = 0;
    opat10 = 0;
  }
  ffn[q & 32767] = ffh[fi];
  ffh[fi] = (int16_t)(q & 32767);
}
