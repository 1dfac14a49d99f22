// The entry loop: every entry to write, in list order, into the archive:
// files coded, symbolic links and empty directories stored as they are.
#pragma once

#include <string>
#include <vector>

#include "deflate/deflate.h"
#include "driver/driver.h"
#include "driver/update.h"
#include "files/files.h"
#include "zipout/zipout.h"

// Writes a symbolic link (its target as the data) or an empty directory
// (no data) stored, with its line. Ends the run on failure.
ziprecord writeplain(const runoptions &o, archivefile &archive, const member &m, const fileentry &f);

// What a loop wrote: the input bytes, and with -u how many files were
// coded and how many copied from the previous archive.
struct loopcount {
  int64_t input = 0;
  int32_t coded = 0, reused = 0;
};

// The loop on the calling thread alone: each file coded straight into the
// archive, its line printed as it goes. prev (-u, or null) is the archive
// being updated.
loopcount serialloop(const runoptions &o, const filelist &files, const std::vector<member> &members,
                     const previousarchive *prev, archivefile &archive, std::vector<ziprecord> &records, uint64_t seed);

// The loop with o.threads workers coding files ahead while this thread
// writes them in list order, each line printed complete when its file's
// turn comes: the archive and the text are those of the serial loop.
loopcount parallelloop(const runoptions &o, const filelist &files, const std::vector<member> &members,
                       const previousarchive *prev, archivefile &archive, std::vector<ziprecord> &records, uint64_t seed);

// The seed of a file's random starting tables.
inline uint64_t fileseed(uint64_t seed, int32_t index) { return seed + 0x9e3779b97f4a7c15ull * (uint64_t)(index + 1); }
