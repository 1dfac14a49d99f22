// The entry loop: every entry to write, in list order, handed to an entry
// writer (the archive, or .gz files): files coded, symbolic links and empty
// directories as they are.
#pragma once

#include <string>
#include <vector>

#include "deflate/deflate.h"
#include "driver/compressfile.h"
#include "driver/driver.h"
#include "files/files.h"
#include "zipout/zipout.h"

// What a loop wrote: the input bytes, and with -u how many files were
// coded and how many copied from the previous archive.
struct loopcount {
  int64_t input = 0;
  int32_t coded = 0, reused = 0;
};

// The loop on the calling thread alone: each file coded straight into its
// place, its line printed as it goes.
loopcount serialloop(const runoptions &o, const filelist &files, const std::vector<member> &members, entrywriter &out,
                     uint64_t seed);

// The loop with o.threads workers coding files ahead while this thread
// writes them in list order, each line printed complete when its file's
// turn comes: the output and the text are those of the serial loop. The
// encoders of workers without a file code ranges of the blocks of those
// being coded.
loopcount parallelloop(const runoptions &o, const filelist &files, const std::vector<member> &members, entrywriter &out,
                       uint64_t seed);

// The seed of a file's random starting tables.
inline uint64_t fileseed(uint64_t seed, int32_t index) { return seed + 0x9e3779b97f4a7c15ull * (uint64_t)(index + 1); }
