// Deflated entries: one per compression pass, written over the previous
// pass at the same offset. zipoutopenfile writes the local header and starts
// the Deflate stream, fputbuf passes the data on, zipoutclose ends the
// stream, patches the header and prints the pass report.
#include <cstring>

#include "console/console.h"
#include "deflate/deflate.h"
#include "driver/driver.h"
#include "files/files.h"
#include "zipout/zipout.h"

int32_t zindex = 0;

void zipoutopenfile(int32_t filindex) {
  zindex = filindex;
  zfiltyp &z = zfil[filindex];
  z.headoff = votell();
  zipoutlocalheader(filindex, 2, 8);
  z.compmeth = 8;
  z.datoff = votell();

  zipcrc = 0xffffffff;
  zipdat = 0;
  zipbit = 0;
  wlz77init();

  fputbits(hufcur >= hufnum - 1 ? 1 : 0, 1);
  fputbits(2, 2);
  storehuftables(huf[hufcur].bit);
}

void fputbuf(const uint8_t *dabuf, int32_t dasiz) {
  if (dasiz <= 0) return;
  crcupdate(dabuf, dasiz);
  for (int32_t o = 0; o < dasiz; o += wlzmaxchunk) {
    int32_t n = dasiz - o < wlzmaxchunk ? dasiz - o : wlzmaxchunk;
    wlz77(dabuf + o, n);
  }
}

void zipoutclose() {
  wlz77(nullptr, 0);
  nexthuf();
  fputbits(0, (-zipbit) & 7);

  zfiltyp &z = zfil[zindex];
  z.crc = (int32_t)~zipcrc;
  z.endoff = votell();
  zipoutpatch(zindex);

  int32_t fsiz = z.endoff - z.datoff;
  zipbuf[0] = 0;
  if (verbosemode) {
    myprintf("    Fileleng: %7d bytes", fsiz);
    if (ghufsave > 0 && lastpass == 0) {
      int64_t g = ghufsave;
      int64_t nx = (int64_t)fsiz * 8 - g;
      myprintf(" -%7lld.%03d -> %7lld.%03d\n", (long long)(g >> 3), (int)((g & 7) * 125),
               (long long)(nx >> 3), (int)((nx & 7) * 125));
    }
  } else if (ghufsave <= 0) {
    int32_t p = z.leng ? (int32_t)(100 - ((int64_t)fsiz * 100) / z.leng) : 0;
    snprintf(zipbuf, sizeof zipbuf, "%9d/%9d bytes (%2d%c)", fsiz, z.leng, p, 37);
    myprintf("%s", zipbuf);
  }
}
