// Deflate encoder: turns a file's bytes into a stream of dynamic-Huffman
// blocks (RFC 1951, BTYPE 2), written to a byte sink.
//
// How the parts meet. The block splitter (blocksplit) cuts the file into
// blocks once, by an order-0 entropy estimate. Each compression pass then
// parses the file anew (parse): a shortest-path LZ77 parse over the byte
// positions, in which every literal and every match the search offers
// (matchsearch) is a step priced by its exact size in bits under the current
// block's code lengths. Whenever a stretch of the path can no longer change
// it is written through the bit writer (bitwriter) with the block's
// canonical codes (huffman) and counted. At each block end the block table
// (blocktable) derives from the block's own counts the lengths that the next
// pass will use, predicts the saving, and writes the next block's header
// (blockheader). The pass loop (passloop) runs passes until another pass is
// predicted to save nothing or the passes repeat, and keeps the best. Given
// encoders to spare, a pass codes ranges of its blocks on them in parallel
// (passranges), with the same bits.
//
// The extra-effort modes (effort.h) work on top of the passes: they run
// more of them over other layouts and from other starting tables, keep
// every block's best coding, and write each block as the cheapest of the
// three block types (stored, fixed or dynamic codes).
//
// An encoder object holds all of this state (about 22 MB, allocated once);
// one encoder per thread codes any number of files, and two encoders in two
// threads never share anything but constant tables. The encoder knows
// nothing of archives, files or the console: it reads a bytesource, writes a
// bytesink and tells an encodewatcher how the passes go.
#pragma once

#include "deflate/encoder.h"
#include "deflate/options.h"
