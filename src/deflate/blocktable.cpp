// The Huffman block table: where each block of the current file ends, the
// code lengths each block is coded with in this pass, and its symbol counts.
// inithuf makes a block current (costs for the parser, canonical codes);
// nexthuf ends it, derives from its own counts the lengths the next pass
// will code it with, adds to the predicted saving and writes the next block's
// header. This is how the passes learn.
#include <cstring>

#include "deflate/deflate.h"
#include "driver/driver.h"

huftree huf[hufmaxblocks];
int32_t hufnum = 1;
int32_t hufcur = 0;
int32_t hufsym[hufslots];
int32_t nhufbit[hufslots];
int32_t bitot[59];
uint8_t resetleng[32];
int64_t ghufsave = 0;

void inithuf(int32_t dacur) {
  huftree &h = huf[dacur];
  memset(h.frq, 0, sizeof h.frq);

  // Costs of the distance codes (rows 0..29) and the length codes (rows
  // 30..58, slots 257..285): code length plus extra bits, or hufnocost for a
  // code the block does not have.
  for (int32_t c = 0; c < 30; c++) {
    int32_t len = h.bit[hufdistslot + c];
    bitot[c] = len ? len + hxbit[c][0] : hufnocost;
  }
  for (int32_t e = 30; e < 59; e++) {
    int32_t len = h.bit[227 + e];
    bitot[e] = len ? len + hxbit[e][0] : hufnocost;
  }

  // Xtreme looks past a distance only towards codes that are strictly
  // cheaper; resetleng[c] is the next such code above c.
  if (strategy == 0) {
    for (int32_t c = 0; c < 30; c++) {
      int32_t n = c + 1;
      while (n <= 29 && bitot[n] >= bitot[c]) n++;
      resetleng[c] = (uint8_t)n;
    }
  }

  hufgensym(h.bit, 286, hufsym);
  hufgensym(h.bit + hufdistslot, 30, hufsym + hufdistslot);
}

void nexthuf() {
  huftree &h = huf[hufcur];

  h.frq[256]++;
  fputbits(hufsym[256], h.bit[256]);

  // A byte value the parse weighed but never coded keeps a code for the
  // next pass: its flag alone becomes a count of 1.
  for (int32_t s = 0; s < hufslots; s++) {
    uint32_t f = (uint32_t)h.frq[s];
    h.frq[s] = (f == hufseenflag) ? 1 : (int32_t)(f & ~hufseenflag);
  }

  hufrq2bit(h.frq, 286, nhufbit, 16);
  hufrq2bit(h.frq + hufdistslot, 30, nhufbit + hufdistslot, 16);

  for (int32_t s = 0; s < hufslots; s++) {
    ghufsave += (int64_t)(h.bit[s] - nhufbit[s]) * h.frq[s];
    h.bit[s] = nhufbit[s];
  }

  hufcur++;
  if (hufcur == hufnum) return;
  inithuf(hufcur);
  fputbits(hufcur >= hufnum - 1 ? 1 : 0, 1);
  fputbits(2, 2);
  storehuftables(huf[hufcur].bit);
}
