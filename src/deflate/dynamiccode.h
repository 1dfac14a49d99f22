// The cheapest dynamic coding of a block's steps: its code lengths and its
// header chosen together. The optimal lengths of the counts make the
// shortest symbols, but a small block pays for its lengths in the header,
// where runs of equal lengths are cheap; so the counts are also evened out
// in stretches (unused symbols inside a stretch may get a code too) where
// the header saves more than the symbols lose, and the header's run-length
// coding is searched.
#pragma once

#include <cstdint>

#include "deflate/coding.h"

// The cheapest dynamic coding of a block of the counts c: with the optimal
// lengths of its counts, with lengths from counts evened out, or with had
// (null: none; it must code every symbol counted); each with its cheapest
// header. Sets lengths (320) and plan; returns the block's bits.
int64_t cheapestdynamic(const stepcounts &c, const int32_t *had, huffmanscratch &s, bool onecode, int32_t *lengths,
                        headerplan &plan);
