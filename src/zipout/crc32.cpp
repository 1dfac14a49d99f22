// CRC-32 as ZIP prescribes it (ISO 3309, ITU-T V.42): the bit-reflected
// polynomial 0xEDB88320, register preset to all ones, result complemented.
// The register is updated one byte at a time (crcstep in zipout.h) while the
// data pass through on their way into an entry; the driver also fingerprints
// its passes with the same table.
#include "zipout/zipout.h"

uint32_t crctab32[256];
uint32_t zipcrc = 0xffffffff;

void initcrc() {
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t k = i;
    for (int32_t b = 0; b < 8; b++) k = (k & 1) ? (k >> 1) ^ 0xedb88320u : k >> 1;
    crctab32[i] = k;
  }
}
