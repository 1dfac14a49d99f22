// The dynamic block header (RFC 1951, 3.2.7): HLIT, HDIST, HCLEN, the
// code-length code and the block's code lengths, run-length coded.
#pragma once

#include <cstdint>

#include "deflate/bitwriter.h"
#include "deflate/huffman.h"

// Writes the header of a block whose 320-slot length table is lengths
// (slots 0..285 literal/length, 288..317 distance; read only), after BFINAL
// and BTYPE. The same lengths always give the same bits.
void writeblockheader(bitwriter &bits, const int32_t *lengths, huffmanscratch &scratch, bool onecodeforempty);

// The size in bits of the header writeblockheader would write.
int64_t blockheaderbits(const int32_t *lengths, huffmanscratch &scratch, bool onecodeforempty);
