// Stored entries (method 0): the file's bytes unchanged behind a local
// header. Used for every file under the "Uncompressed" strategy, and in
// place of a compressed entry that came out larger than the file; the stored
// entry is then written over the compressed one, from the same header
// offset, and its status replaces the compressed status on the console line.
#include <cstring>

#include "console/console.h"
#include "driver/driver.h"
#include "files/files.h"
#include "zipout/zipout.h"

// The console line reads "  Adding: name         VOflating " before any
// status: the progress word and its blank are this many characters.
constexpr int32_t progresswordlen = 10;

void storefile(int32_t i, FILE *infil) {
  fseek(infil, 0, SEEK_SET);
  voseek(zfil[i].headoff);
  // What the line shows now, to be backed over; zipbuf is about to be used
  // for staging.
  int32_t ozipbufl = (int32_t)strnlen(zipbuf, zipbufsiz);

  zipoutlocalheader(i, 0, 0);
  zfil[i].compmeth = 0;
  zfil[i].datoff = votell();
  zipcrc = 0xffffffff;

  int32_t leng = zfil[i].leng;
  for (int32_t j = 0; j < leng; j += infilbufsiz) {
    int32_t k = leng - j < infilbufsiz ? leng - j : infilbufsiz;
    // A file that shrank since it was listed ends the run here rather than
    // being stored with bytes it does not have.
    freadall(infilbuf, k, infil, i);
    crcupdate(infilbuf, k);
    vowrite(infilbuf, k);
  }

  zfil[i].crc = (int32_t)~zipcrc;
  zfil[i].endoff = votell();
  zipoutpatch(i);

  snprintf(zipbuf, zipbufsiz, "Stored :( %9d/%9d bytes ( 0%c)  ", leng, leng, 37);
  if (verbosemode) {
    myprintf("\n    Stored :(%8d bytes (0%c) ", leng, 37);
  } else {
    // Back up over the old status and the progress word, to just behind
    // the file name, and print the stored status there.
    for (int32_t k = 0; k < ozipbufl + progresswordlen; k++) myprintf("\b");
    myprintf("%s", zipbuf);
  }
}
