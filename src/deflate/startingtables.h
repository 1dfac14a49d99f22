// The code lengths a file's blocks start from in the first pass: fixed
// complete prefix codes, or random ones for trials.
#pragma once

#include <cstdint>

#include "deflate/huffman.h"

// The next word of a splitmix64 generator whose state is *state: every seed
// gives a full-period sequence of well-mixed words.
uint64_t nextrandom(uint64_t *state);

// The fixed starting lengths of one block's 320 slots: under Huffman Only a
// complete code over the literals and end of block (0-127: 8, 128: 9,
// 129-255: 8, 256: 9); else one over literals, end of block and length
// symbols (0-143: 8, 144-255: 9, 256-281: 7, 282-285: 8) and one over the
// 30 distance codes (288-289: 4, 290-317: 5).
void fixedlengths(bool huffmanonly, int32_t *lengths);

// Random starting lengths for one block: random weights from 16384 to 49151
// (all positive, their sum within 32 bits) for every literal, length and
// distance slot, in counts, turned into code lengths in lengths, so that
// every slot has a code.
void randomlengths(uint64_t *state, huffmanscratch &scratch, int32_t *counts, int32_t *lengths);
