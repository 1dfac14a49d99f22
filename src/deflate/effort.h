// The extra-effort mode (-x): more bytes saved for more CPU time, never
// larger than the normal run, which is its first trial.
//
// A normal run leaves two things to improve: where the blocks end (the
// splitter looks at raw bytes, not at the parse) and where the passes
// started from (the fixed tables, after which the alphabet of a block only
// shrinks from pass to pass). So the file is also coded as one block, the
// steps of that parse are cut into blocks by their real cost (each block's
// optimal codes plus its header), and the file is parsed again over those
// boundaries, as long as that helps. The passes so far price symbols by
// their shares of the counts, which leads them to better codings than whole
// bits do but leaves each near, not at, the coding the whole bits of its
// own lengths cannot improve: so the best coding is settled by passes
// priced by whole bits. Then rounds of trials start from the best coding's
// own counts, each weight scaled by a seeded random factor, with a weight
// for every length and distance code, so that a trial may take up codes the
// passes before it had given up; each trial ends with a pass priced by
// whole bits. Blocks with the same boundaries are independent Deflate
// blocks: every block is coded by the trial (or the pass of it) that coded
// it best, and finally by the cheapest codes of its own steps (the
// header's run-length coding searched, the lengths evened out where the
// shorter header pays for them) where those come out shorter.
// Last, every block is written as the cheapest of its types: stored, the
// fixed code with a parse made for it, or dynamic codes. This finishing
// follows every round that saved, and the shortest result is written, so
// that more rounds never give a larger file.
//
// With no rounds and no layouts (the quick mode of -z) only the normal run
// is coded, its blocks then recoded and typed the same way: a few per cent
// more time for most of what the types and the header save.
//
// The work is spread over the files: partition (the cut of steps into
// blocks by cost), cutsearch (cuts tried by parsing again, for small
// inputs), trials (trials and their starting lengths), dynamiccode (a
// block's cheapest lengths and header), blocktype (the choice of each
// block's type, and the writing of a coding), coding (what a coding holds).
//
// Trials run on all the encoders given, one per thread; their number
// changes the time, never the bytes: every trial's seed comes from its round,
// trial and block numbers, and results are merged in trial order. A phase
// with fewer tasks than encoders (the normal run beside the layouts, whichever
// ends first; the settling; the fixed code's parse) lends the idle ones to
// its passes, which code a large file's blocks in ranges on them.
#pragma once

#include <cstdint>
#include <vector>

#include "deflate/encoder.h"

// Extra effort holds the whole input, its steps and 32-bit block ends: it
// codes inputs below this length.
constexpr int64_t effortmaxlength = (int64_t)1 << 31;

struct effortoptions {
  int32_t rounds = 3;          // rounds of trials from the best coding's counts
  int32_t trials = 6;          // trials per round
  int32_t trialpasses = 3;     // passes of one trial (the best of them counts)
  int32_t polishpasses = 8;    // at most this many passes priced by whole bits before the rounds (0: none, nor in trials)
  int32_t layoutrounds = 3;    // at most this many re-partitions and re-parses (0: the normal run's layout)
  bool layoutfixed = false;    // the user fixed the layout (-b#, -n#): only the normal run's is used
  // Inputs of at most smallinput bytes also try cuts by parsing again:
  // every block cut at k / cutpieces of its bytes, for cutlevels rounds.
  int64_t smallinput = 65536;
  int32_t cutpieces = 8;
  int32_t cutlevels = 3;
  // Larger inputs end the rounds once one saves less than 1 / stall of
  // the bits.
  int64_t stall = 2000;
};

// Codes the length bytes at data into out from its position, as
// encoder::compress does, with the extra effort of e; encs holds at least
// one encoder. The watcher sees the normal run's passes and every trial.
encoderesult compresshard(const std::vector<encoder *> &encs, const uint8_t *data, int64_t length, bytesink &out,
                          const encodeoptions &o, const effortoptions &e, encodewatcher *watcher);
