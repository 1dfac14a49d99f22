// The state of the optimal parse: for the next 512 positions the cost of
// the cheapest known path to each, for every position the last step of that
// path, and where the parse stands.
#pragma once

#include <cstdint>

// One step of a path: a literal (length 1, dist holds the byte) or a match
// of length 3..258 at distance 1..32768.
struct parsestep {
  uint16_t length;
  uint16_t dist;
};

constexpr int32_t stepringsize = 262144;   // the forced cut keeps a path inside it
constexpr int32_t stepmask = stepringsize - 1;
constexpr int32_t costmask = 511;          // no step is longer than 258
constexpr int32_t unreached = 0x7fffffff;
// A block's start costs the most negative value, so that costs count up
// from it as signed 32-bit values.
constexpr int32_t blockstartcost = (int32_t)0x80000000;
constexpr int32_t maxchunk = 32256;   // most bytes one chunk may bring
constexpr int32_t lookahead = 260;    // bytes that must follow a position before it is processed

// Positions are counted from a base that moves with the data, so that the
// hot paths keep 32-bit positions for inputs of any length: before they
// reach rebaseat every live position moves down by rebasestep, a multiple of
// every ring's size, so that each ring index stays what it was.
constexpr int32_t rebasestep = 1 << 30;
constexpr int32_t rebaseat = (1 << 30) + (1 << 29);
// The current block's end when it lies beyond what the positions reach
// before the next rebase (the last block's always does).
constexpr int32_t farend = 0x7fffffff;

struct parsestate {
  parsestep laststep[stepringsize];   // last step of the cheapest known path to each position
  int32_t pathcost[costmask + 1];     // its cost, or unreached
  int32_t received;    // bytes of the data received
  int32_t nextpos;     // next position to process
  int32_t settled;     // last cut point: everything before it is written
  int32_t reach;       // furthest position any recorded step reaches
  int32_t steplimit;   // no step may end beyond this (block end or data received)
  int32_t blockend;    // the current block's end, or farend
  int64_t base;        // the data's offset of position 0
};
