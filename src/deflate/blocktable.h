// The block table: where each block of the file being coded ends, the code
// lengths each block is coded with in this pass, and its symbol counts.
// Starting a block prices its codes for the parse and builds its canonical
// codes; ending it writes end-of-block, derives from the block's own counts
// the lengths the next pass codes it with, adds to the predicted saving and
// writes the next block's header. This is how the passes learn.
#pragma once

#include <cstdint>

// Symbol slots of every per-symbol table: 0-255 literal bytes, 256 end of
// block, 257-285 length symbols, 288-317 distance codes 0-29; 286, 287, 318
// and 319 belong to no alphabet and stay 0.
constexpr int32_t slotcount = 320;
constexpr int32_t endofblock = 256;
constexpr int32_t litlencount = 286;   // literal/length alphabet: slots 0..285
constexpr int32_t distslot = 288;      // slot of distance code 0
constexpr int32_t maxblocks = 1024;
// Most bytes one block holds: its counts, and the sums of its counts that
// the code-length builder takes, then stay below 2^31. Inputs of any length
// below 2 GiB minus 64 KiB lay their blocks out as if there were no limit.
constexpr int64_t maxblocklength = ((int64_t)1 << 31) - ((int64_t)1 << 16);
// Price of a code without a length: more than the 258 x 15 bits of the
// longest match spelled out in literals, so the parse avoids such codes
// while a literal path exists.
constexpr int32_t nocodecost = 4096;
// The parse counts costs in 1/16 bits: a code length of n bits costs 16n,
// so the normal run's decisions are those of whole bits, and a price by a
// symbol's share of the counts keeps four bits of its fraction.
constexpr int32_t costscale = 16;
// Occurrence flag in a block's counts: the parse weighed this byte value as
// a literal, so it keeps a code in the next pass even if none was coded.
constexpr uint32_t seenflag = 0x80000000u;
// A block's end while a pass runs, for the last block: the end of the data
// ends it, never the parse.
constexpr int64_t openend = INT64_MAX;

struct blockrecord {
  int32_t counts[slotcount];    // this pass's counts; bit 31 is the occurrence flag
  int32_t lengths[slotcount];   // what this pass codes with; once ended, what the next pass codes with
  int64_t end;                  // first byte after the block
  // With sharecosts, once the block has ended: the price of each symbol
  // by its share of the pass's counts, for the next pass (in 1/16 bits).
  int32_t sharecost[slotcount];
  bool hasshares;
};
