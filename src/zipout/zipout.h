// ZIP archive output: the seekable, write-behind archive file (vo*), CRC-32,
// the record layouts with the header patch and the central directory
// (zipout*), stored entries (storefile) and deflated entries, which frame the
// Deflate stream of each compression pass (zipoutopenfile, fputbuf,
// zipoutclose).
//
// Every byte of the archive passes through voputc into a 1 MiB ring
// addressed by archive position, so the position can move back (to patch a
// local header, or to overwrite a pass that is not kept) without copying.
// The archive is written to a temporary file beside the target and renamed
// over it only when complete; a failed or interrupted run removes the
// temporary file and leaves an existing archive as it was.
#pragma once

#include <cstdint>
#include <cstdio>

// ---- Archive file --------------------------------------------------------

constexpr int32_t vobufsiz = 1 << 20;      // ring size; one write per 1 MiB of output
constexpr int32_t vobufmask = vobufsiz - 1;
// Positions are signed 32-bit: the archive must stay below 2 GiB. voflush
// refuses to go on once a position passes this mark, which leaves room for
// one more ring of pending bytes and the records behind it.
constexpr int32_t vomaxpos = 0x7fffffff - 2 * vobufsiz;

extern uint8_t vobuf[vobufsiz];   // pending bytes; position p lives at p & vobufmask
extern int32_t vofilhand;         // descriptor of the temporary archive, -1 when closed
extern int32_t vobufpos0;         // first position not yet handed to the file
extern int32_t vobufpos1;         // current position: where the next byte goes
extern char vofilnam[4096];       // the archive's name (target of the final rename)
extern char votmpnam[4096];       // the temporary file being written

// Creates the temporary archive beside dafilnam (permission bits 0666 less
// the umask). Returns 1 on success, 0 on failure. Registers the cleanup that
// removes it on a fatal error or on SIGINT, SIGTERM and SIGHUP.
int32_t voopen(const char *dafilnam);

void voflush();

// Appends one byte at the current position: a store, an increment and a
// comparison; a system call once per vobufsiz bytes.
inline void voputc(int32_t ch) {
  vobuf[vobufpos1 & vobufmask] = (uint8_t)ch;
  vobufpos1++;
  if (vobufpos1 - vobufpos0 >= vobufsiz) voflush();
}

void vowrite(const void *dabuf, int32_t dasiz);
inline int32_t votell() { return vobufpos1; }
// Flushes, then moves the position; later bytes overwrite the archive there.
void voseek(int32_t dapos);
// Flushes, truncates the file to the current position, closes it and
// renames it over the target. Any failure ends the run with
// "Error: %s could not be written".
void voclose();
// Removes the temporary archive, if any (safe from a signal handler).
void voabort();

// Little-endian form of host values: storing the result as a 16- or 32-bit
// word lays down the field's bytes least significant first.
uint32_t LSWAPIB(uint32_t a);
uint16_t SSWAPIB(uint16_t a);
// Alignment-free little-endian stores for staging records.
inline void putle16(uint8_t *p, uint32_t v) { p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); }
inline void putle32(uint8_t *p, uint32_t v) {
  p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); p[2] = (uint8_t)(v >> 16); p[3] = (uint8_t)(v >> 24);
}

// ---- CRC-32 (ISO 3309, reflected polynomial 0xEDB88320) -------------------

extern uint32_t crctab32[256];   // remainder of each byte value, LSB first
extern uint32_t zipcrc;          // running register: preset 0xFFFFFFFF, final value complemented

void initcrc();
inline uint32_t crcstep(uint32_t r, uint32_t b) { return crctab32[(r ^ b) & 0xff] ^ (r >> 8); }
inline void crcupdate(const uint8_t *buf, int32_t n) {
  uint32_t r = zipcrc;
  for (int32_t k = 0; k < n; k++) r = crcstep(r, buf[k]);
  zipcrc = r;
}

// ---- ZIP records ------------------------------------------------------------

constexpr int32_t zipbufsiz = 290;
// Stages records; between records it holds the last status text printed on
// the current file's line (empty when none), which storefile erases.
extern char zipbuf[zipbufsiz];

// General purpose flag bit 11: the stored name is UTF-8. Set only for names
// that are valid UTF-8 and not plain ASCII.
constexpr uint16_t zipflagutf8 = 0x0800;
// 1 when name is valid UTF-8 with at least one byte above 127.
int32_t isutf8name(const char *name);

// Writes entry i's local header at the current position with the given flags
// and method; CRC and sizes are placeholders until zipoutpatch.
void zipoutlocalheader(int32_t i, uint16_t flags, uint16_t method);
// Puts CRC and sizes of entry i (crc, datoff, endoff, leng set) into its
// local header and returns to the end of its data.
void zipoutpatch(int32_t i);
// Writes the central directory and the end record, then closes the archive.
void zipoutfinish();

// ---- Stored entries -----------------------------------------------------

// Writes entry i with method 0 at its headoff, reading infil from its start;
// replaces whatever was written there and prints its status text.
void storefile(int32_t i, FILE *infil);

// ---- Deflated entries ----------------------------------------------------

extern int32_t zindex;   // the entry being written

// Starts entry filindex as a deflated entry at the current position: local
// header, encoder reset, first block header.
void zipoutopenfile(int32_t filindex);
// The next dasiz bytes of the entry's data: CRC, then the parser in pieces of
// at most wlzmaxchunk bytes.
void fputbuf(const uint8_t *dabuf, int32_t dasiz);
// Ends the entry: flushes the parse, ends the last block, pads to a byte,
// patches the local header, prints the pass report.
void zipoutclose();
