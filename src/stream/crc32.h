// CRC-32 as ZIP and gzip define it (ISO 3309, ITU-T V.42): the bit-reflected
// polynomial 0xEDB88320, register preset to all ones, result complemented.
// The table is a constant, computed when the program is compiled, so any
// number of threads may use it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

constexpr std::array<uint32_t, 256> buildcrctable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t k = i;
    for (int32_t b = 0; b < 8; b++) k = (k & 1) ? (k >> 1) ^ 0xedb88320u : k >> 1;
    t[i] = k;
  }
  return t;
}

inline constexpr std::array<uint32_t, 256> crctable = buildcrctable();

// One byte into the register (only its low eight bits count).
constexpr uint32_t crcstep(uint32_t r, uint32_t b) { return crctable[(r ^ b) & 0xff] ^ (r >> 8); }

constexpr uint32_t crcstart = 0xffffffffu;
// The register after n more bytes.
inline uint32_t crcupdate(uint32_t r, const uint8_t *buf, size_t n) {
  for (size_t k = 0; k < n; k++) r = crcstep(r, buf[k]);
  return r;
}
// The CRC of the bytes fed since crcstart.
constexpr uint32_t crcfinal(uint32_t r) { return ~r; }
