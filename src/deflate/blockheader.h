// The dynamic block header (RFC 1951, 3.2.7): HLIT, HDIST, HCLEN, the
// code-length code and the block's code lengths, run-length coded.
#pragma once

#include <cstdint>

#include "deflate/bitwriter.h"
#include "deflate/huffman.h"

// Writes the header of a block whose 320-slot length table is lengths
// (slots 0..285 literal/length, 288..317 distance; read only), after BFINAL
// and BTYPE, by the run-length rules of every normal run: greedy and local,
// so the same lengths always give the same bits.
void writeblockheader(bitwriter &bits, const int32_t *lengths, huffmanscratch &scratch, bool onecodeforempty);

// The size in bits of the header writeblockheader would write.
int64_t blockheaderbits(const int32_t *lengths, huffmanscratch &scratch, bool onecodeforempty);

// A header's run-length coding chosen by search rather than by the rules:
// its code-length symbols in order, each with the value of its extra bits.
// count 0 stands for the rules' coding.
constexpr int32_t maxheadersymbols = 286 + 30;
struct headerplan {
  int32_t count = 0;
  uint8_t symbol[maxheadersymbols];
  uint8_t extra[maxheadersymbols];
};

// The shortest run-length coding of the lengths found by the search: for a
// code-length code, the cheapest sequence under it is a shortest path over
// the positions of the sequence; the code of that path's symbols is then
// built and the path searched again, from the rules' coding and from
// variants of it, while that shortens the header. Returns its size in bits
// (never more than the rules' coding) and sets plan.
int64_t cheapestheader(const int32_t *lengths, huffmanscratch &scratch, bool onecodeforempty, headerplan &plan);

// Writes the header of lengths with the coding of plan.
void writeplannedheader(bitwriter &bits, const int32_t *lengths, const headerplan &plan, huffmanscratch &scratch,
                        bool onecodeforempty);
