// ZIP records: the local file header in front of each entry, the patch that
// puts CRC and sizes into it once the entry's data are written, and at the
// end the central directory and the end-of-central-directory record.
//
// The archive is the plain 32-bit format of version 2.0: no data
// descriptors, extra fields, comments or ZIP64 records. Every field is
// little-endian and staged byte by byte (putle16/putle32), since the 32-bit
// fields of the central header lie at offsets that are not multiples of 4.
#include <cstring>

#include "console/console.h"
#include "files/files.h"
#include "zipout/zipout.h"

char zipbuf[zipbufsiz];

// Record signatures and sizes of the fixed parts.
constexpr uint32_t ziplocalsig = 0x04034b50;   // "PK", 3, 4
constexpr uint32_t zipcentralsig = 0x02014b50; // "PK", 1, 2
constexpr uint32_t zipendsig = 0x06054b50;     // "PK", 5, 6
constexpr int32_t ziplocalsiz = 30;
constexpr int32_t zipcentralsiz = 46;
constexpr int32_t zipendsiz = 22;
// Version 2.0 in both version fields; the high byte 0 of "made by" says the
// attributes follow MS-DOS conventions, which is what attr holds.
constexpr uint16_t zipversion = 20;
// An entry with a UTF-8 name says "made by Unix" instead (high byte 3):
// Info-ZIP's UnZip reads every name of an MS-DOS-made entry as code page
// 437, UTF-8 flag or not, and would extract such a file under a garbled
// name. Unix conventions put the file mode in the high 16 bits of the
// external attributes: a plain file, rw-r--r--; the low byte keeps the
// MS-DOS attribute for readers that look there.
constexpr uint16_t zipversionunix = 3 * 256 + zipversion;
constexpr uint32_t zipunixfile = 0100644;
// Flag bit 1: Deflate data made with the maximum-compression option.
constexpr uint16_t zipflagmax = 2;
// The end record counts entries in 16 bits.
constexpr int32_t zipmaxentries = 65535;

int32_t isutf8name(const char *name) {
  const uint8_t *p = (const uint8_t *)name;
  int32_t nonascii = 0;
  while (*p) {
    uint32_t c = *p;
    if (c < 0x80) {
      p++;
      continue;
    }
    nonascii = 1;
    int32_t more;
    uint32_t cp, least;
    if (c >= 0xc2 && c <= 0xdf) {   // 0xc0 and 0xc1 could only start overlong forms
      more = 1, cp = c & 0x1f, least = 0x80;
    } else if ((c & 0xf0) == 0xe0) {
      more = 2, cp = c & 0x0f, least = 0x800;
    } else if (c >= 0xf0 && c <= 0xf4) {
      more = 3, cp = c & 0x07, least = 0x10000;
    } else {
      return 0;   // a continuation byte without a lead, or a lead beyond U+10FFFF
    }
    for (int32_t k = 1; k <= more; k++) {
      // The terminating NUL fails this test too, so no byte past it is read.
      if ((p[k] & 0xc0) != 0x80) return 0;
      cp = (cp << 6) | (p[k] & 0x3f);
    }
    if (cp < least || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return 0;
    p += more + 1;
  }
  return nonascii;
}

// The flags of entry i's headers: the method's flags, plus the UTF-8 mark for
// a name that needs it. A plain ASCII name reads the same under every
// encoding, so it keeps the flags older readers expect.
static uint16_t zipflags(uint16_t flags, const char *name) {
  return isutf8name(name) ? (uint16_t)(flags | zipflagutf8) : flags;
}

void zipoutlocalheader(int32_t i, uint16_t flags, uint16_t method) {
  char nam[maxpathleng + 1];
  genfilnam(nam, i);
  int32_t n = (int32_t)strlen(nam);
  const zfiltyp &z = zfil[i];
  uint8_t *b = (uint8_t *)zipbuf;
  putle32(b + 0, ziplocalsig);
  putle16(b + 4, zipversion);
  putle16(b + 6, zipflags(flags, nam));
  putle16(b + 8, method);
  putle16(b + 10, (uint16_t)z.tim);
  putle16(b + 12, (uint16_t)z.dat);
  memset(b + 14, 0, 12);   // CRC and sizes: placeholders until zipoutpatch
  putle16(b + 26, (uint32_t)n);
  putle16(b + 28, 0);
  vowrite(b, ziplocalsiz);
  // The name goes out directly: at up to 259 bytes it would not fit behind a
  // record in zipbuf.
  vowrite(nam, n);
}

void zipoutpatch(int32_t i) {
  const zfiltyp &z = zfil[i];
  uint8_t *b = (uint8_t *)zipbuf;
  putle32(b + 0, (uint32_t)z.crc);
  putle32(b + 4, (uint32_t)(z.endoff - z.datoff));
  putle32(b + 8, (uint32_t)z.leng);
  voseek(z.headoff + 14);
  vowrite(b, 12);
  voseek(z.endoff);
}

void zipoutfinish() {
  // Directory entries were walked, never written.
  int32_t nnumfiles = 0;
  for (int32_t i = 0; i < numfiles; i++)
    if (!(zfil[i].attr & 16)) nnumfiles++;
  if (nnumfiles > zipmaxentries) fatal("Error: more than 65535 files for one archive\n");

  int32_t centdirstart = votell();
  uint8_t *b = (uint8_t *)zipbuf;
  for (int32_t i = 0; i < numfiles; i++) {
    const zfiltyp &z = zfil[i];
    if (z.attr & 16) continue;
    char nam[maxpathleng + 1];
    genfilnam(nam, i);
    int32_t n = (int32_t)strlen(nam);
    const bool utf8 = isutf8name(nam);
    putle32(b + 0, zipcentralsig);
    putle16(b + 4, utf8 ? zipversionunix : zipversion);
    putle16(b + 6, zipversion);
    putle16(b + 8, zipflags(z.compmeth == 8 ? zipflagmax : 0, nam));
    putle16(b + 10, z.compmeth);
    putle16(b + 12, (uint16_t)z.tim);
    putle16(b + 14, (uint16_t)z.dat);
    putle32(b + 16, (uint32_t)z.crc);
    putle32(b + 20, (uint32_t)(z.endoff - z.datoff));
    putle32(b + 24, (uint32_t)z.leng);
    putle16(b + 28, (uint32_t)n);
    putle16(b + 30, 0);   // extra field length
    putle16(b + 32, 0);   // comment length
    putle16(b + 34, 0);   // disk number start
    putle16(b + 36, 0);   // internal attributes
    putle32(b + 38, utf8 ? zipunixfile << 16 | z.attr : z.attr);
    putle32(b + 42, (uint32_t)z.headoff);
    vowrite(b, zipcentralsiz);
    vowrite(nam, n);
  }

  int32_t centdirsize = votell() - centdirstart;
  putle32(b + 0, zipendsig);
  putle16(b + 4, 0);   // this disk
  putle16(b + 6, 0);   // disk of the central directory
  putle16(b + 8, (uint32_t)nnumfiles);
  putle16(b + 10, (uint32_t)nnumfiles);
  putle32(b + 12, (uint32_t)centdirsize);
  putle32(b + 16, (uint32_t)centdirstart);
  putle16(b + 20, 0);   // comment length
  vowrite(b, zipendsiz);
  voclose();
}
