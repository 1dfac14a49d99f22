// The gzip reader on any bytes: an accepted file's parts tile it exactly and
// its data match the trailer; a refusal says why and gives no data.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gzip/gzip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  gzipmember m;
  std::vector<uint8_t> out;
  std::string error;
  if (!readgzip(data, size, m, out, error)) {
    if (error.empty() || !out.empty()) abort();
    return 0;
  }
  const uint8_t *trailer = data + m.headerlength + m.datalength;
  const uint32_t crc = (uint32_t)trailer[0] | (uint32_t)trailer[1] << 8 | (uint32_t)trailer[2] << 16 | (uint32_t)trailer[3] << 24;
  if (m.headerlength + m.datalength + 8 != size || crc != m.crc ||
      crc32(0, out.data(), (uInt)out.size()) != crc) {
    fprintf(stderr, "gzip: an accepted file whose parts or CRC do not add up\n");
    abort();
  }
  return 0;
}
