// The extra-effort mode (-x): more bytes saved for more CPU time, never
// larger than the normal run, which is its first trial.
//
// A normal run leaves two things to improve: where the blocks end (the
// splitter looks at raw bytes, not at the parse) and where the passes
// started from (the fixed tables, after which the alphabet of a block only
// shrinks from pass to pass). So the file is also coded as one block, the
// steps of that parse are cut into blocks by their real cost (each block's
// optimal codes plus its header), and the file is parsed again over those
// boundaries, as long as that helps. Then rounds of trials start from the
// best coding's own counts, each weight scaled by a seeded random factor,
// with a weight for every length and distance code, so that a trial may take
// up codes the passes before it had given up. Blocks with the same
// boundaries are independent Deflate blocks: every block is coded by the
// trial that coded it best, and finally by the optimal codes of its own
// steps where those come out shorter.
//
// Trials run on all the encoders given, one per thread; their number
// changes the time, never the bytes: every trial's seed comes from its round,
// trial and block numbers, and results are merged in trial order.
#pragma once

#include <cstdint>
#include <vector>

#include "deflate/encoder.h"

struct effortoptions {
  int32_t rounds = 3;          // rounds of trials from the best coding's counts
  int32_t trials = 8;          // trials per round
  int32_t trialpasses = 4;     // passes of one trial (the best of them counts)
  int32_t layoutrounds = 3;    // at most this many re-partitions and re-parses
  bool layoutfixed = false;    // the user fixed the layout (-b#, -n#): only the normal run's is used
};

// Codes the length bytes at data into out from its position, as
// encoder::compress does, with the extra effort of e; encs holds at least
// one encoder. The watcher sees the normal run's passes and every trial.
encoderesult compresshard(const std::vector<encoder *> &encs, const uint8_t *data, int64_t length, bytesink &out,
                          const encodeoptions &o, const effortoptions &e, encodewatcher *watcher);
