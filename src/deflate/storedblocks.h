// Deflate's stored blocks (BTYPE 0): data that do not shrink, framed as a
// Deflate stream of their own, for containers whose only method is Deflate
// (a .gz file has no stored entries).
#pragma once

#include <cstdint>

#include "stream/bytesink.h"
#include "stream/bytesource.h"

// Blocks of at most 65535 bytes each, the last marked final; no data give
// one empty final block.
constexpr int32_t storedblockmax = 65535;
// The bytes the stored blocks of length bytes of data take.
inline int64_t storedstreamlength(int64_t length) {
  return length + 5 * (length == 0 ? 1 : (length + storedblockmax - 1) / storedblockmax);
}

// Writes length bytes of in (from its first byte) as stored blocks at the
// sink's position. False when in cannot deliver them.
bool writestoredblocks(bytesink &out, bytesource &in, int64_t length);
