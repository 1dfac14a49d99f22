// The entry loop: every file of the list, in list order, into the archive.
// The list grows while it is walked: under recursion a directory's contents
// join it behind everything listed so far when the walk reaches the
// directory, which gets no entry of its own.
#pragma once

#include <string>
#include <vector>

#include "deflate/deflate.h"
#include "driver/driver.h"
#include "files/files.h"
#include "zipout/zipout.h"

// Walks the list from cursor to its next file, expanding the directories
// on the way. Returns the file's index with its stored name and path, or -1
// at the end of the list, or -2 with error set when the walk failed.
int32_t nextfile(filelist &files, int32_t &cursor, std::string &name, std::string &path, std::string &error);

// The loop on the calling thread alone: each file coded straight into the
// archive, its line printed as it goes. Returns the input bytes.
int64_t serialloop(const runoptions &o, filelist &files, archivefile &archive, std::vector<ziprecord> &records,
                   uint64_t seed);

// The loop with o.threads workers coding files ahead while this thread
// writes them in list order, each line printed complete when its file's
// turn comes: the archive and the text are those of the serial loop.
int64_t parallelloop(const runoptions &o, filelist &files, archivefile &archive, std::vector<ziprecord> &records,
                     uint64_t seed);

// The seed of a file's random starting tables.
inline uint64_t fileseed(uint64_t seed, int32_t index) { return seed + 0x9e3779b97f4a7c15ull * (uint64_t)(index + 1); }
