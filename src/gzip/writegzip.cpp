#include "gzip/gzip.h"

namespace {

constexpr uint8_t flagname = 0x08;
constexpr uint8_t xflslowest = 2, osunix = 3;

void le32(bytesink &out, uint32_t v) {
  for (int k = 0; k < 4; k++) out.put((uint8_t)(v >> (8 * k)));
}

}  // namespace

void writegzipheader(bytesink &out, uint32_t mtime, const std::string &name) {
  out.put(0x1f);
  out.put(0x8b);
  out.put(8);   // Deflate
  out.put(name.empty() ? 0 : flagname);
  le32(out, mtime);
  out.put(xflslowest);
  out.put(osunix);
  if (!name.empty()) out.write(name.c_str(), name.size() + 1);
}

void writegziptrailer(bytesink &out, uint32_t crc, uint64_t length) {
  le32(out, crc);
  le32(out, (uint32_t)length);
}
