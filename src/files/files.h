// Input file selection: wildcard matching, the file table zfil with its
// name pool fnambuf, directory scanning (findfiles) and the names stored in
// the archive (genfilnam).
//
// The driver calls findfilesinit once, then findfiles for every file
// specification and, during its entry loop, for every directory entry (with
// recursion). Records refer to the pool by offsets, never pointers, because
// both the table and the pool move when they grow.
#pragma once

#include <cstdint>
#include <cstdio>

// One selected file or directory.
struct zfiltyp {
  int32_t filspec;   // pool offset of the directory part (may be empty), shared by one findfiles call
  int32_t filnam;    // pool offset of the entry's own name
  int32_t headoff;   // archive offset of the local header (set when the entry is written)
  int32_t datoff;    // archive offset of the first data byte (set when written)
  int32_t endoff;    // archive offset just behind the data (set when written)
  int32_t leng;      // uncompressed size, the file's size when it was listed
  int32_t crc;       // CRC-32 of the data, final value (set when written)
  int16_t tim;       // modification time, MS-DOS form
  int16_t dat;       // modification date, MS-DOS form
  uint8_t attr;      // 0x20 file, 0x30 directory (bit 0x10 marks a directory)
  uint8_t compmeth;  // 8 deflated, 0 stored (set when written)
};

constexpr int32_t zfilinit = 960;         // records at start; doubled when full
constexpr int32_t fnambufinit = 65536;    // pool bytes at start; at least doubled when full
constexpr int32_t maxpathleng = 259;      // longest path or stored name, without its NUL
constexpr int32_t tbufsiz = 264;          // findfiles' path buffer

extern zfiltyp *zfil;          // the file table
extern int32_t numfiles;       // records in use; entries are only appended
extern int32_t allocfiles;     // records allocated
extern char *fnambuf;          // name pool: NUL-terminated strings one after the other
extern int32_t allocfnambuf;   // pool bytes allocated
extern int32_t fnamptr;        // pool bytes in use

// 1 when name i matches pattern j: "*" any run, "?" any one character,
// letters without regard to case, "/" and "\" equal. An empty pattern
// matches every name.
int32_t wildmatch(const char *i, const char *j);

// Empties and allocates the table and the pool.
void findfilesinit();

// Appends the entries of one directory that match the last component of
// fspec. A directory that cannot be opened adds nothing. Entries that are
// FIFOs, sockets or devices are skipped (opening a FIFO would hang the run);
// so is the archive being written. A file of 2 GiB or more, or a path longer
// than maxpathleng, ends the run with an error.
void findfiles(const char *fspec);

// The name under which entry i is stored and shown (at most maxpathleng
// bytes plus NUL): without recursion the bare name; with it the directory
// part, "/", the name. Never starts with "/" and has no ".", ".." or empty
// components, so that extracting it cannot write outside the target.
void genfilnam(char *dafilnam, int32_t i);

// The path by which entry i is opened: its directory part as written, "/"
// when that part is not empty, its name.
void genfilpath(char *dafilpath, int32_t i);

// Records the device and inode of an existing path so that findfiles never
// selects it: the archive being replaced and the temporary archive.
void excludefile(const char *path);

// Recursion: 1 when the directory at path has not been walked in this run
// (and marks it walked), 0 when it has (a second name for it, or a symbolic
// link back to a directory above it). findfiles marks the directories it
// opens while recursion is on.
int32_t walkdir(const char *path);

// Reads exactly n bytes of entry i's file into buf; a short read (the file
// shrank or a read failed) ends the run with "Error: %s could not be read".
void freadall(void *buf, int32_t n, FILE *fil, int32_t i);
