// The bit writer: packs fields of 0 to 25 bits into bytes in the order
// Deflate prescribes (RFC 1951, 3.1.1): the least significant bit of a byte
// is filled first, and a field's least significant bit goes out first. Every
// completed byte goes to the sink at once, so the writer holds at most 7
// bits between calls and the sink is the stream's only buffer. It knows
// nothing of Deflate's structure: Huffman codes reach it already
// bit-reversed, so that a code's first bit is the value's bit 0.
#pragma once

#include <cstdint>

#include "stream/bytesink.h"

struct bitwriter {
  bytesink *sink = nullptr;
  uint32_t pending = 0;    // pending bits, the oldest at bit 0; bits at pendingbits and above are 0
  int32_t pendingbits = 0; // 0..7 between calls

  // Starts a stream on a byte boundary of the sink.
  void start(bytesink *s) {
    sink = s;
    pending = 0;
    pendingbits = 0;
  }
  // Appends the low n bits of v (0 <= n <= 25, v < 2^n; nothing is masked):
  // a shift, an OR, an addition and a short loop, on every code and extra
  // bits field of every pass.
  void put(int32_t v, int32_t n) {
    pending |= (uint32_t)v << pendingbits;
    pendingbits += n;
    while (pendingbits >= 8) {
      sink->put((uint8_t)pending);
      pending >>= 8;
      pendingbits -= 8;
    }
  }
  // Zero bits up to the next byte boundary, which also hands over the last
  // byte.
  void align() { put(0, (-pendingbits) & 7); }
};
