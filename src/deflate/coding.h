// A coding of one file as the extra-effort modes handle it: its blocks, each
// with its type and what its bits are made from (the steps of its parse, its
// code lengths and the plan of its header). The bits themselves are written
// only once the blocks are chosen (a large file's codings are large); until
// then a coding is priced from its parts, exactly.
#pragma once

#include <cstdint>
#include <vector>

#include "deflate/blockheader.h"
#include "deflate/encoder.h"

// The block types of RFC 1951 (3.2.3), by their BTYPE.
enum class blocktype : uint8_t { stored = 0, fixed = 1, dynamic = 2 };

struct codedblock {
  int32_t end;        // first byte after the block
  int64_t bits;       // BFINAL and BTYPE to end of block (stored: as at the position the choice assumed)
  blocktype type = blocktype::dynamic;
  std::vector<parsestep> steps;   // a stored block keeps those it had
  std::vector<int32_t> lengths;   // dynamic: the 320 lengths it is coded with
  headerplan header;              // dynamic: its header's coding (count 0: the rules)
};
using coding = std::vector<codedblock>;

int64_t totalbits(const coding &c);
// Block b of the pass the encoder recorded: its bits, steps and lengths.
int64_t recordedbits(const encoder::passrecord &r, size_t b);
void takeblock(codedblock &into, const encoder::passrecord &r, size_t b);
// The coding of the encoder's last pass over blocks ending at ends; the
// encoder's recording is given back.
coding codingof(encoder &enc, const int32_t *ends, int32_t count);
// All the steps of a coding, in order, and its layout in bytes.
std::vector<parsestep> allsteps(const coding &c);
std::vector<int32_t> layoutof(const coding &c);
// Block ends in bytes for block ends in steps.
std::vector<int32_t> byteends(const std::vector<parsestep> &steps, const std::vector<int64_t> &stepends);

// The symbol slots a step counts in, and its extra bits.
struct stepslots {
  int32_t litlen, dist, extrabits;
};
stepslots slotsof(parsestep s);

// The counts of a run of steps and the bytes they cover, and what a block of
// exactly those steps costs as each type.
struct stepcounts {
  int32_t counts[slotcount] = {};
  int64_t extrabits = 0;
  int64_t bytes = 0;

  void add(parsestep s, int32_t by) {
    stepslots k = slotsof(s);
    counts[k.litlen] += by;
    if (k.dist >= 0) counts[k.dist] += by;
    extrabits += by * k.extrabits;
    bytes += by * s.length;
  }
  // Dynamic codes: the optimal lengths of the counts with end of block
  // (into lengths), the header by the rules.
  int64_t dynamicbits(huffmanscratch &s, bool onecode, int32_t *lengths);
  int64_t dynamicbits(huffmanscratch &s, bool onecode) {
    int32_t lengths[slotcount] = {};
    return dynamicbits(s, onecode, lengths);
  }
  // The fixed code.
  int64_t fixedbits() const;
  // The cheapest of the three types, stored priced at an average padding.
  int64_t cheapestbits(huffmanscratch &s, bool onecode);
  // The symbols' bits (end of block and header not included) with lengths.
  int64_t symbolbits(const int32_t *lengths) const;
};
