// Stored entries (method 0): the data unchanged behind a local header.
#pragma once

#include <cstdint>

#include "stream/bytesink.h"
#include "stream/bytesource.h"
#include "zipout/records.h"

// Writes the entry stored at the sink's position, reading length bytes from
// in (from its first byte); sets the record's method, flags, CRC and sizes.
// False when in cannot deliver the bytes.
bool storeentry(bytesink &out, ziprecord &r, bytesource &in, int64_t length);
