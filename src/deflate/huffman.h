// Huffman code lengths from symbol counts, limited in depth, and the
// canonical codes of RFC 1951 (3.2.2) for a set of lengths.
//
// The compressed output depends on exactly which lengths come out for given
// counts, not only on their total cost: every pass derives the next pass's
// tables from them and prices its parse with them. So ties are broken by
// fixed rules: the heap never lets a node rise past one of equal weight, and
// equal-weight runs of adjacent symbols get their lengths in ascending order.
#pragma once

#include <cstdint>

// The work tables of one length derivation: a binary min-heap of tree nodes
// keyed by weight, and each node's parent. One per encoder; nothing in it
// survives a call.
struct huffmanscratch {
  static constexpr int32_t maxsymbols = 286;
  // Node 575 lies above the largest node number a 286-symbol tree uses
  // (2 x 286 - 2 = 570); it is the heap's sentinel.
  static constexpr int32_t sentinel = 575;

  int32_t weight[576];   // weight of each node while the tree grows, then each internal node's depth
  int32_t parent[576];
  int32_t heap[290];     // 1-based heap of node numbers; slot 0 holds the sentinel
  int32_t heapcount;

  void heapclear();
  void heapinsert(int32_t node);
  int32_t heapremovetop();
};

// Code lengths for n counts (1 <= n <= 286), every length below limit:
// the counts are coarsened (halved, rounding up) until the longest code
// fits. A count of 0 or less is an unused symbol and gets length 0. With no
// used symbol all lengths are 0, unless onecodeforempty gives symbol 0 a
// code of length 1 (for inflaters that refuse an empty code).
void lengthsfromcounts(huffmanscratch &s, const int32_t *counts, int32_t n, int32_t *lengths, int32_t limit,
                       bool onecodeforempty);

// Bit-reversed canonical codes for n lengths (0..31): the bit writer sends
// bit 0 first, a Huffman code goes out from its most significant bit.
// Symbols of length 0 keep their old entry in codes.
void canonicalcodes(const int32_t *lengths, int32_t n, int32_t *codes);

// Code lengths for n counts as lengthsfromcounts gives them in cost (an
// optimal code whose lengths are below limit, the counts coarsened the same
// way until they are), by a quicker method with ties broken its own way:
// the used symbols sorted by count, then merged by two queues. For the
// extra-effort modes, which price many candidate blocks; the passes keep
// lengthsfromcounts, whose ties are part of their output.
void fastlengths(const int32_t *counts, int32_t n, int32_t *lengths, int32_t limit, bool onecodeforempty);
