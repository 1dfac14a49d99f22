// The state of the LZ77 match search: the window, the hash chains, the run
// table and the distance lists (see matchsearch.cpp for how they are used).
// Positions are byte offsets within the data of the current pass, counted
// from the parse's base (parse.h), so that 32 bits hold them in any input.
#pragma once

#include <cstdint>

constexpr int32_t windowsize = 65536;   // the ring of the data's bytes
constexpr int32_t windowmask = windowsize - 1;
constexpr int32_t maxdistance = 32768;
constexpr int32_t maxmatch = 258;
// Hash heads. The search only ever uses the nearest earlier position whose
// first three bytes are equal, so the hash decides speed, not output: 2^16
// heads keep chains of unequal strings short even in data made of a few
// byte values.
constexpr int32_t hashheads = 65536;
// The list store: each searched position stores up to 256 distances. Lists
// of the 32767 positions a search can still follow must never be
// overwritten; with sharing, the live part of the ring is at most
// 32769 x 256 entries plus one wrap gap of 255, so this size always holds it.
constexpr int32_t liststoresize = (1 << 23) + (1 << 16);

struct matchstate {
  // The data's bytes: position q at window[q & windowmask]; the four bytes
  // past the end repeat the first four, so a 4-byte read at any index stays
  // inside.
  uint8_t window[windowsize + 4];

  // Hash chains over the first three bytes: the newest position with each
  // hash, and for each position slot the one that headed its chain before
  // it (positions & 32767).
  int16_t hashhead[hashheads];
  int16_t hashnext[32768];

  // Runs of one byte value, so that a walk crosses a run in one step.
  int32_t runbyte;            // value of the current run
  int32_t runcount;           // equal bytes before the current position, capped at 32767
  uint16_t runbefore[65536];  // runcount as it stood at each position
  int32_t runend;             // end of the run starting at the last searched position
  int32_t runlength;          // run length from the position being searched

  // Distance lists: entry k of a searched position's list is the distance
  // at which its search first reached length k + 3. A later position jumps
  // from one occurrence of an l-byte string to the previous one through the
  // list of the position the occurrence starts at.
  uint16_t liststore[liststoresize];   // a ring
  int32_t liststart[32768];            // where each position's list starts
  int32_t listlength[32768];           // entries in each position's list, 0..256
  int32_t listfree;                    // next free index of the store
  int32_t prevlistend;                 // end of the previous position's list
  int32_t prevlistlength;              // entries in the previous position's list

  // Xtreme: the cheapest distance cost offered so far for each length at
  // the position being searched.
  int32_t cheapestoffer[256];
};
