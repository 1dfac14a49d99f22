// The length and distance code tables of Deflate (RFC 1951, 3.2.5) in one row
// numbering: rows 0..29 are the distance codes, rows 30..58 the length
// symbols 257..285. The match search and the parse look a code up for every
// candidate and every emitted match, so both mappings are plain byte tables
// indexed by length - 3 and distance - 1, built once per process.
#include <cassert>

#include "deflate/deflate.h"

int32_t hxbit[59][2];
uint8_t huflind[256];
uint8_t hufdind[32768];
int32_t wlz77init1stime = 0;

// Row of length symbol 285, the last row.
constexpr int32_t hxlastrow = 58;

void initcodetables() {
  // Distance codes: two codes per extra-bit count from code 4 on; each code
  // starts where the previous one's range ends.
  int32_t base = 1;
  int32_t extra = 0;
  for (int32_t r = 0; r < 30; r++) {
    hxbit[r][0] = extra;
    hxbit[r][1] = base;
    base += 1 << extra;
    if ((r & 1) && r > 1) extra++;
  }

  // Length symbols 257..284: four symbols per extra-bit count from 265 on.
  base = 3;
  extra = 0;
  for (int32_t s = 257; s <= 284; s++) {
    hxbit[s - 227][0] = extra;
    hxbit[s - 227][1] = base;
    base += 1 << extra;
    if ((s & 3) == 0 && s > 263) extra++;
  }
  // Symbol 285 stands for 258 alone. Symbol 284 with its 5 extra bits could
  // also spell 258, but RFC 1951 gives it only 227..257, and strict decoders
  // refuse 284 + 31.
  hxbit[hxlastrow][0] = 0;
  hxbit[hxlastrow][1] = 258;

  // Walking down from the top, each value gets the highest row whose base
  // does not exceed it; so 258 maps to row 58, never to row 57.
  int32_t row = hxlastrow;
  for (int32_t l = 258; l >= 3; l--) {
    huflind[l - 3] = (uint8_t)row;
    if (l - 1 < hxbit[row][1]) row--;
  }
  assert(row == 29);   // the walk stepped through every length row, down past row 30

  row = 29;
  for (int32_t d = 32768; d >= 1; d--) {
    hufdind[d - 1] = (uint8_t)row;
    if (d - 1 < hxbit[row][1]) row--;
  }
  assert(row == -1);   // ... and through every distance code

  wlz77init1stime = 1;
}
