#include <algorithm>
#include <cmath>
#include <cstring>

#include "deflate/blockheader.h"
#include "deflate/encoder.h"

void encoder::startblock(int32_t b) {
  blockrecord &h = blocks_[b];
  memset(h.counts, 0, sizeof h.counts);
  setblockend();

  // Costs of the distance codes (rows 0..29) and the length codes (rows
  // 30..58, slots 257..285): code length plus extra bits, or nocodecost for
  // a code the block does not have.
  // A symbol is priced by its length, or by its share of the counts of
  // the pass before; a code the block does not have is never priced less
  // than nocodecost, whatever its share.
  const bool shares = options_.sharecosts && h.hasshares;
  auto price = [&](int32_t slot) { return shares ? h.sharecost[slot] : h.lengths[slot] * costscale; };
  for (int32_t c = 0; c < distcodecount; c++) {
    int32_t len = h.lengths[distslot + c];
    codecost_[c] = len ? price(distslot + c) + codetables.rows[(size_t)c].extrabits * costscale : nocodecost * costscale;
  }
  for (int32_t e = firstlengthrow; e < coderowcount; e++) {
    int32_t len = h.lengths[lengthsymbolbase + e];
    codecost_[e] = len ? price(lengthsymbolbase + e) + codetables.rows[(size_t)e].extrabits * costscale
                       : nocodecost * costscale;
  }
  for (int32_t s = 0; s < 256; s++) literalcost_[s] = h.lengths[s] ? price(s) : 0;

  // Xtreme looks past a distance only towards codes that are strictly
  // cheaper; cheapercode_[c] is the next such code above c.
  if (options_.strategy == 0) {
    for (int32_t c = 0; c < distcodecount; c++) {
      int32_t n = c + 1;
      while (n < distcodecount && codecost_[n] >= codecost_[c]) n++;
      cheapercode_[c] = (uint8_t)n;
    }
  }

  canonicalcodes(h.lengths, litlencount, codes_);
  canonicalcodes(h.lengths + distslot, distcodecount, codes_ + distslot);
}

// -log2 of each symbol's share of its alphabet's counts, in 1/16 bits, at
// least one bit (a code is never shorter).
static void sharesofcounts(blockrecord &h) {
  for (auto [first, n] : {std::pair{0, litlencount}, std::pair{distslot, distcodecount}}) {
    int64_t total = 0;
    for (int32_t s = first; s < first + n; s++) total += h.counts[s];
    for (int32_t s = first; s < first + n; s++) {
      double bits = h.counts[s] ? std::log2((double)total / h.counts[s]) : 0.0;
      h.sharecost[s] = (int32_t)std::lround(std::max(1.0, bits) * costscale);
    }
  }
  h.hasshares = true;
}

void encoder::endblock() {
  blockrecord &h = blocks_[curblock_];

  h.counts[endofblock]++;
  bits_.put(codes_[endofblock], h.lengths[endofblock]);

  // A byte value the parse weighed but never coded keeps a code for the
  // next pass: its flag alone becomes a count of 1.
  for (int32_t s = 0; s < slotcount; s++) {
    uint32_t f = (uint32_t)h.counts[s];
    h.counts[s] = (f == seenflag) ? 1 : (int32_t)(f & ~seenflag);
  }

  lengthsfromcounts(huffman_, h.counts, litlencount, newlengths_, 16, options_.onecodeforempty);
  lengthsfromcounts(huffman_, h.counts + distslot, distcodecount, newlengths_ + distslot, 16,
                    options_.onecodeforempty);

  for (int32_t s = 0; s < slotcount; s++) {
    predictedsaving_ += (int64_t)(h.lengths[s] - newlengths_[s]) * h.counts[s];
    h.lengths[s] = newlengths_[s];
  }
  if (options_.sharecosts) sharesofcounts(h);

  curblock_++;
  if (curblock_ == stopblock_) return;
  startblock(curblock_);
  recordblockstart();
  writeblockstart();
}

void encoder::writeblockstart() {
  bits_.put(curblock_ >= blockcount_ - 1 ? 1 : 0, 1);   // BFINAL
  bits_.put(2, 2);                                      // BTYPE: dynamic codes
  writeblockheader(bits_, blocks_[curblock_].lengths, huffman_, options_.onecodeforempty);
}
