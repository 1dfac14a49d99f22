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
// Bytes at or beyond the end of the data received match nothing, so a
// file's bits never depend on what an earlier file or pass left in the
// window.
#include <cstring>

#include "deflate/encoder.h"

namespace {

// The first three bytes at q, read as one little-endian word.
inline uint32_t triple(const matchstate &m, int32_t q) {
  uint32_t v;
  memcpy(&v, m.window + (q & windowmask), 4);   // the four bytes past the end repeat the first four
  return v & 0xffffff;
}

// Hash of three bytes, and of the first three bytes at q.
inline int32_t hash3(uint32_t t) { return (int32_t)((t * 0x9e3779b1u) >> 16); }
inline int32_t hashat(const matchstate &m, int32_t q) { return hash3(triple(m, q)); }

// Whether the candidate at distance d also matches byte l (beyond the end
// of the data nothing matches).
inline bool extends(const matchstate &m, int32_t received, int32_t p, int32_t l, int32_t d) {
  return p + l < received && m.window[(p + l - d) & windowmask] == m.window[(p + l) & windowmask];
}

// Chain steps after which a failing walk tries to prove it cannot extend;
// below this the walk is cheaper than the proof. No effect on the output.
constexpr int32_t prooflimit = 8;

}  // namespace

void encoder::runstep(int32_t q, int32_t b) {
  matchstate &m = match_;
  if (b == m.runbyte) {
    if (m.runcount < 32767) m.runcount++;
  } else {
    m.runbyte = b;
    m.runcount = 0;
  }
  m.runbefore[q & 0xffff] = (uint16_t)m.runcount;
}

// Next candidate for length l after distance d (which matches p for at
// least l bytes), or 0 when there is none: to the first position of the
// run that holds the candidate when l is the run's length, then through
// the list of the candidate's position to the previous occurrence.
int32_t encoder::nextcandidate(int32_t p, int32_t l, int32_t d) const {
  const matchstate &m = match_;
  if (l == m.runlength) d += m.runbefore[(p - d) & 0xffff];
  if (d >= maxdistance) return 0;
  int32_t s = (p - d) & 32767;
  if (m.listlength[s] <= l - 3) return 0;
  d += m.liststore[m.liststart[s] + l - 3];
  return d > maxdistance ? 0 : d;
}

// Proves cheaply, where it can, that no position at a distance from d0 to
// maxdistance matches p for l + 1 bytes; then a walk along the l-chain from
// d0 cannot extend and its result is known without following the chain.
// This is what makes periodic data with scattered changes affordable: there
// the chain runs through the whole window while the byte that would extend
// it occurs nowhere. False only means "could not prove it"; the caller then
// walks as before, so the offers never change.
bool encoder::cannotextend(int32_t p, int32_t l, int32_t d0) const {
  const matchstate &m = match_;
  const int32_t e = p + l;   // the byte that would extend the match
  if (e >= parse_.received) return true;
  const uint8_t c = m.window[e & windowmask];

  // Distances below l - 1 overlap p's own bytes: the byte l before the
  // extension byte's partner must already equal it.
  const int32_t dsmall = l - 2 < maxdistance ? l - 2 : maxdistance;
  for (int32_t d = d0; d <= dsmall; d++)
    if (m.window[(e - d) & windowmask] == c) return false;

  // Longer distances end with a copy of the three bytes at a = p + l - 2,
  // at a position already in the hash chains; the chain of their hash holds
  // every such position of the window, nearest first.
  const int32_t a = e - 2;
  const uint32_t want = triple(m, a);
  const int32_t dmin = d0 > l - 1 ? d0 : l - 1;
  const int32_t h = hashat(m, a);
  int32_t cand = m.hashhead[h];
  int32_t prev = -1;
  for (int32_t k = 0; k < 48; k++) {
    int32_t back = (p - 1 - cand) & 32767;
    if (back <= prev) return true;
    int32_t q = p - 1 - back;
    int32_t d = a - q;
    if (d > maxdistance || q < 0) return true;
    uint32_t there = triple(m, q);
    if (there == want) {
      // Only the whole l + 1 bytes make a match the walk could find.
      if (d >= dmin && q >= l - 2) {
        const int32_t s = p - d;
        int32_t i = 0;
        while (i <= l && m.window[(s + i) & windowmask] == m.window[(p + i) & windowmask]) i++;
        if (i > l) return false;
      }
    } else if (hashat(m, q) != h) {
      // The chain has left the window (a link to a reused slot, or the empty
      // head of a hash not seen in this pass): no older member is in it.
      return true;
    }
    prev = back;
    cand = m.hashnext[cand];
  }
  return false;
}

// Intense and Longest Match: the nearest distance for each length.
void encoder::walknearest(int32_t p, int32_t cost, int32_t d) {
  matchstate &m = match_;
  const int32_t received = parse_.received;
  int32_t l = 3;
  for (;;) {
    m.liststore[m.listfree++] = (uint16_t)d;
    offer(p, l, d, cost + codecost_[codetables.lengthrow[l - 3]] + codecost_[codetables.distcode[d - 1]]);
    if (l == maxmatch) return;
    int32_t steps = 0;
    while (!extends(m, received, p, l, d)) {
      if (++steps == prooflimit && cannotextend(p, l, d)) return;
      d = nextcandidate(p, l, d);
      if (!d) return;
    }
    l++;
  }
}

// Xtreme: besides the nearest distance for each length, every candidate
// whose distance code is cheaper than those already offered for the length.
// The walk keeps l and d (the current length and candidate), from (the
// distance at which the attempts to extend the current length began) and
// cheaper (the next distance code strictly cheaper than from's). Each return
// to offer lands either on a longer length (through extend) or on a strictly
// higher distance code than from's (through refind), so the walk ends.
void encoder::walkxtreme(int32_t p, int32_t cost, int32_t d) {
  matchstate &m = match_;
  const int32_t received = parse_.received;
  int32_t l = 3, from = 0, cheaper = 0, threshold = 0, steps = 0;
  const int32_t listbase = m.liststart[p & 32767];

offer:  // offer the candidate for every length it reaches from l on
  {
    const int32_t dcode = codetables.distcode[d - 1];
    const int32_t dcost = codecost_[dcode];
    const int32_t base = cost + dcost;
    int32_t top = l;
    while (top < maxmatch && extends(m, received, p, top, d)) top++;
    // Lengths that already have a list entry only lower their cheapest
    // cost; the others append d.
    int32_t have = m.listfree - listbase + 3;
    int32_t k = l;
    for (; k <= top && k < have; k++) {
      if (dcost < m.cheapestoffer[k - 3]) m.cheapestoffer[k - 3] = dcost;
      this->offer(p, k, d, base + codecost_[codetables.lengthrow[k - 3]]);
    }
    for (; k <= top; k++) {
      m.liststore[m.listfree++] = (uint16_t)d;
      m.cheapestoffer[k - 3] = dcost;
      this->offer(p, k, d, base + codecost_[codetables.lengthrow[k - 3]]);
    }
    l = top;
    if (l == maxmatch) {
      if (cheapercode_[dcode] >= distcodecount) return;
      d = nextcandidate(p, maxmatch, d);
      if (!d) return;
      goto offer;
    }
    // A new length starts (the same for every length this candidate reached).
    cheaper = cheapercode_[dcode];
    from = d;
    steps = 0;
  }
  goto next;

extend:
  if (extends(m, received, p, l, d)) {
    l++;
    goto offer;
  }
next:
  // With no cheaper code to look for, the loop of extend and next ends only
  // by an extension or at the end of the chain.
  if (++steps == prooflimit && cheaper >= distcodecount && cannotextend(p, l, d)) return;

  d = nextcandidate(p, l, d);
  if (!d) {
    if (cheaper >= distcodecount) return;
    threshold = codecost_[cheaper];
  } else {
    int32_t x = codetables.distcode[d - 1];
    if (x < cheaper) goto extend;
    // The lowest cost of any code from from's code up to x.
    int32_t r = cheaper;
    while (cheapercode_[r] <= x) r = cheapercode_[r];
    threshold = codecost_[r];
  }

  // Step back to the lengths that a cheaper code can improve.
  while (l > 5 && m.cheapestoffer[l - 6] > threshold) l -= 3;
  while (l > 3 && m.cheapestoffer[l - 4] > threshold) l -= 1;

  // Refind: from from, the first candidate for the new l whose code reaches
  // cheaper.
  d = from;
  for (;;) {
    if (l == m.runlength) {
      d += m.runbefore[(p - d) & 0xffff];
      if (d > maxdistance) return;
      if (codetables.distcode[d - 1] >= cheaper) {
        d = codetables.rows[(size_t)cheaper].base;
        goto offer;
      }
    }
    if (d == maxdistance) return;
    int32_t s = (p - d) & 32767;
    if (m.listlength[s] <= l - 3) return;
    d += m.liststore[m.liststart[s] + l - 3];
    if (d > maxdistance) return;
    if (codetables.distcode[d - 1] >= cheaper) goto offer;
  }
}

void encoder::search(int32_t p, int32_t cost) {
  matchstate &m = match_;
  const int32_t received = parse_.received;
  // Run bookkeeping.
  int32_t b = m.window[p & windowmask];
  runstep(p, b);
  if (m.runend < p + 1) m.runend = p + 1;
  while (m.runend < received && m.window[m.runend & windowmask] == b) m.runend++;
  m.runlength = m.runend - p;

  // List start; a list of up to 256 entries never runs past the store.
  if (m.listfree > liststoresize - 256) m.listfree = 0;
  const int32_t slot = p & 32767;
  m.liststart[slot] = m.listfree;

  // Nearest 3-byte match. Within the window a chain holds every position
  // with its hash, nearest first; past its last member it runs on through
  // slots reused by newer positions or left empty. Those are recognised by a
  // shrinking distance or a different hash, and end the search: an equal
  // string there would have been a member of the chain.
  const uint32_t here = triple(m, p);
  const int32_t fi = hash3(here);
  if (p + 3 <= received) {
    int32_t cand = m.hashhead[fi];
    int32_t prev = 0;
    for (;;) {
      int32_t d = ((p - cand - 1) & 32767) + 1;
      if (d <= prev) break;
      uint32_t there = triple(m, p - d);
      if (there != here) {
        if (hash3(there) != fi) break;
        prev = d;
        cand = m.hashnext[cand];
        continue;
      }
      if (d <= p) {
        if (options_.strategy == 0) walkxtreme(p, cost, d);
        else walknearest(p, cost, d);
      }
      break;
    }
  }

  // Finish: a list equal to the tail of the previous position's list is
  // stored once; then p joins its hash chain.
  int32_t n = m.listfree - m.liststart[slot];
  m.listlength[slot] = n;
  if (n <= m.prevlistlength) {
    int32_t k = 0;
    const uint16_t *mine = m.liststore + m.liststart[slot];
    const uint16_t *prevtail = m.liststore + m.prevlistend - n;
    while (k < n && mine[k] == prevtail[k]) k++;
    if (k == n) {
      m.liststart[slot] = m.prevlistend - n;
      m.listfree = m.prevlistend;
    }
  }
  m.hashnext[slot] = m.hashhead[fi];
  m.hashhead[fi] = (int16_t)slot;
  m.prevlistend = m.listfree;
  m.prevlistlength = n;
}

void encoder::skip(int32_t q) {
  matchstate &m = match_;
  int32_t fi = hashat(m, q);
  if (options_.strategy <= 2) {
    runstep(q, m.window[q & windowmask]);
    m.listlength[q & 32767] = 0;
    m.prevlistlength = 0;
  }
  m.hashnext[q & 32767] = m.hashhead[fi];
  m.hashhead[fi] = (int16_t)(q & 32767);
}
