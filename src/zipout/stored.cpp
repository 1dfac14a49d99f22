#include "zipout/stored.h"

#include <vector>

#include "stream/crc32.h"

// The data are copied through a buffer of this size, so a file of any size
// needs no more memory.
constexpr int32_t storepiece = 65536;

bool storeentry(bytesink &out, ziprecord &r, bytesource &in, int64_t length) {
  setmethod(r, methodstored);
  r.size = (uint64_t)length;
  r.localzip64 = r.size >= zip64localfrom;
  writelocalheader(out, r);
  if (!in.rewind()) return false;
  std::vector<uint8_t> buf(storepiece);
  uint32_t crc = crcstart;
  for (int64_t j = 0; j < length; j += storepiece) {
    int32_t k = length - j < storepiece ? (int32_t)(length - j) : storepiece;
    // A file that shrank since it was listed ends the run here rather than
    // being stored with bytes it does not have.
    if (!in.read(buf.data(), k)) return false;
    crc = crcupdate(crc, buf.data(), (size_t)k);
    out.write(buf.data(), (size_t)k);
  }
  r.crc = crcfinal(crc);
  r.compressed = (uint64_t)length;
  return patchlocalheader(out, r);
}
