// The cut of a parse's steps into blocks by their real cost: each candidate
// block is priced as the cheapest of its types (its optimal dynamic codes
// with their header, the fixed code, or stored), so a short stretch between
// two long blocks can become a block of its own where that pays.
#pragma once

#include <cstdint>
#include <vector>

#include "deflate/coding.h"

// Each block is cut at its best cut while that saves bits, the cut found on
// a grid of about 64 places, then on a finer grid around the best, then
// step by step; at the end every cut moves to its best place within 64
// steps. Returns the block ends in steps.
std::vector<int64_t> partition(const std::vector<parsestep> &steps, huffmanscratch &s, bool onecode);
