// Trials: the file coded again over a given layout from given starting
// lengths, on one encoder each, spread over the encoders of the run; and
// the starting lengths they take, drawn from the counts of a coding, scaled
// by seeded random factors so that trials explore different codes.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "deflate/coding.h"

// Every task index below count, spread over the encoders, one thread each.
template <class task>
void inparallel(const std::vector<encoder *> &encs, int32_t count, task f) {
  std::atomic<int32_t> next{0};
  auto run = [&](encoder *e) {
    for (int32_t i; (i = next++) < count;) f(*e, i);
  };
  std::vector<std::thread> threads;
  for (size_t k = 1; k < encs.size() && (int32_t)k < count; k++) threads.emplace_back(run, encs[k]);
  run(encs[0]);
  for (auto &t : threads) t.join();
}

// Passes over blocks ending at ends (in bytes), from the given starting
// lengths (320 per block), at most passes of them (0: until they converge);
// the encoder's recording holds the pass kept. With a lender, each pass is
// coded in ranges on the encoders it spares (the same bits).
void trial(encoder &enc, const uint8_t *data, int64_t length, const encodeoptions &o, int32_t passes,
           const std::vector<int32_t> &ends, const std::vector<int32_t> &lengths, encoderlender *lender = nullptr);

// One pass over blocks ending at ends priced by the whole bits of the given
// lengths (320 per block, every byte of a block's data with a code); the
// encoder's recording holds it.
void wholebitspass(encoder &enc, const uint8_t *data, int64_t length, const encodeoptions &o,
                   const std::vector<int32_t> &ends, const std::vector<int32_t> &lengths,
                   encoderlender *lender = nullptr);
// The lengths the encoder's blocks would be coded with in its next pass:
// those of the counts of the pass it ran last (or re-created as its best).
std::vector<int32_t> nextlengths(const encoder &enc);

// Passes over blocks ending at ends from the given starting lengths, each
// priced by the code lengths the pass before gave (the first by the given
// ones), while a pass codes the file shorter than the one before and at
// most passes of them; every block of kept (set to the layout) is the
// block as the pass that coded it shortest coded it. A parse priced by the
// very lengths its block is coded with is the shortest for them, so from
// lengths derived from a good coding's counts these passes settle into the
// nearest coding the whole bits cannot improve, which the passes priced by
// shares pass over.
void polish(encoder &enc, const uint8_t *data, int64_t length, const encodeoptions &o, int32_t passes,
            const std::vector<int32_t> &ends, const std::vector<int32_t> &lengths, coding &kept,
            encoderlender *lender = nullptr);

// Starting lengths for every block of layout ends from the steps of c
// (which need not share the layout): every byte of a block's data, and with
// a seed every length and distance code, gets a weight of at least 1, so
// that the parse may code it; with a seed (not 0), every weight is scaled by
// e^u, u uniform in +-spread.
std::vector<int32_t> startinglengths(const coding &c, const std::vector<int32_t> &ends, const uint8_t *data,
                                     uint64_t seed, double spread, huffmanscratch &s, bool onecode);

// Block b of a trial's recorded pass wins over the block in best when it is
// shorter, or as short and from an earlier trial (the block's trial is in
// from, -1 for the coding the trials started from): so the blocks kept do not
// depend on the order in which the trials end.
void mergetrial(coding &best, std::vector<int32_t> &from, const encoder::passrecord &r, int32_t t);
// The same for the blocks of a coding with best's layout, moved into best.
void mergecoding(coding &best, std::vector<int32_t> &from, coding &c, int32_t t);
