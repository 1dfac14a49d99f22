// The dynamic block header (RFC 1951, 3.2.7): HLIT, HDIST, HCLEN, the
// code-length code and the block's code lengths, run-length coded.
#pragma once

#include <cstdint>

#include "deflate/bitwriter.h"
#include "deflate/huffman.h"

// Writes the header of a block whose 320-slot length table is lengths
// (slots 0..285 literal/length, 288..317 distance; read only), after BFINAL
// and BTYPE. The same lengths always give the same bits. rules 0 are the
// run-length rules of every normal run; 1 to 3 are variants (bit 0: no
// repeat code for nonzero lengths; bit 1: no repeat code at the end of a
// zero run) that the extra-effort mode tries for a shorter header.
constexpr int32_t headerrules = 4;
void writeblockheader(bitwriter &bits, const int32_t *lengths, huffmanscratch &scratch, bool onecodeforempty,
                      int32_t rules = 0);

// The size in bits of the header writeblockheader would write.
int64_t blockheaderbits(const int32_t *lengths, huffmanscratch &scratch, bool onecodeforempty, int32_t rules = 0);
