// The gzip format (RFC 1952): a member's header and trailer around a Deflate
// stream, written for a file's .gz, and an existing .gz read and checked so
// that its Deflate data can be coded again with every other byte kept.
//
// readgzip accepts a file that is exactly one member: nothing behind its
// trailer (a second member or other bytes are refused), no reserved flag
// bits, a header CRC that matches where there is one, Deflate data that
// inflate to exactly the trailer's size and CRC-32. It prints nothing and
// keeps no state; nothing in the file is trusted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "stream/bytesink.h"

// Writes a member's header: no name and no time when name is empty and
// mtime 0 (as for a reproducible build), XFL 2 (the slowest, densest
// coding), OS 3 (Unix).
void writegzipheader(bytesink &out, uint32_t mtime, const std::string &name);
// Writes the trailer: CRC-32 and the data's length modulo 2^32.
void writegziptrailer(bytesink &out, uint32_t crc, uint64_t length);

// One member as read: where its parts lie in the file.
struct gzipmember {
  size_t headerlength = 0;   // the header's bytes, every optional field included; the Deflate data follow
  size_t datalength = 0;     // the Deflate data's bytes; the 8-byte trailer follows
  uint8_t flags = 0;
  uint32_t mtime = 0, crc = 0;
  std::string name, comment;   // without their terminating NUL
};

// Reads the gzip file of size bytes at data into m and its uncompressed
// bytes into out. False with a short message in error when it is refused.
bool readgzip(const uint8_t *data, size_t size, gzipmember &m, std::vector<uint8_t> &out, std::string &error);
