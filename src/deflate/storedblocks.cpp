#include "deflate/storedblocks.h"

#include <vector>

bool writestoredblocks(bytesink &out, bytesource &in, int64_t length) {
  if (!in.rewind()) return false;
  std::vector<uint8_t> buf(storedblockmax);
  int64_t done = 0;
  do {
    const int32_t n = length - done < storedblockmax ? (int32_t)(length - done) : storedblockmax;
    const bool last = done + n == length;
    // BFINAL and BTYPE 00 in the low three bits; the rest of the byte pads
    // to the byte boundary, where LEN and its complement follow.
    out.put(last ? 1 : 0);
    out.put((uint8_t)n);
    out.put((uint8_t)(n >> 8));
    out.put((uint8_t)~n);
    out.put((uint8_t)(~n >> 8));
    if (!in.read(buf.data(), n)) return false;
    out.write(buf.data(), (size_t)n);
    done += n;
  } while (done < length);
  return true;
}
