// Block splitting: decides once per file, before any pass, where its Deflate
// blocks end. It looks only at the raw bytes: findsplit finds the cut of a
// range that most lowers an order-0 estimate of its coding cost (each part
// with its own byte statistics instead of one set for the whole range) and
// reports that saving in bytes; splitblocks applies it recursively, either
// to every block whose cut saves more than a threshold, or to the best block
// again and again until there is a given number of blocks.
#pragma once

#include <cstdint>

#include "deflate/blocktable.h"

// The work tables of findsplit and the parts being cut; one per encoder,
// nothing in them survives a call.
struct blocksplitter {
  int32_t firstcounts[256];   // byte counts of the first part
  int32_t allcounts[256];     // byte counts of the whole range
  double firstlog[256];       // running log term of the first part
  double secondlog[256];      // running log term of the second part
  double cost[256];           // current cost term of each byte value

  struct part {
    int32_t start, end;   // the bytes [start, end)
    int32_t cut;          // exact count: the best cut (absolute)
    int32_t parent;       // threshold: the part this one was cut from, -1 for the first
    double saving;        // exact count: estimated saving of the cut, in bytes
  };
  part parts[maxblocks];
};

// Best cut of num bytes (1..num-1) by the entropy estimate, storing the
// saving in bytes in *saving. num < 2: returns 0 and stores nothing.
int32_t findsplit(blocksplitter &s, const uint8_t *buf, int32_t num, double *saving);

// Cuts data[0..length) into blocks: exactly count blocks when count > 0
// (at most most, fewer when the parts become too short), else every block
// whose best cut saves more than threshold bytes, up to most blocks. Writes
// the block ends in ascending order, the last being length; returns their
// number.
int32_t splitblocks(blocksplitter &s, const uint8_t *data, int32_t length, double threshold, int32_t count,
                    int32_t *ends, int32_t most = maxblocks);
