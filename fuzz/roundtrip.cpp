// Round trip through the encoder: the input's first bytes choose the
// settings, the rest is an entry's data. The entry is written into a real
// temporary archive the way compressfile writes it (block layout, starting
// lengths, passes that overwrite the entry in place), and after every pass
// zlib's raw inflate must give back exactly the data. A symbol coded with
// length 0 writes no bits and throws the decoder off, so the inflate also
// catches "no symbol without a code"; the tables derived for the next pass
// are checked for it directly as well.
//
// Selector bytes:
//   0: bits 0-1 strategy (0..3), bit 2 -zl121, bit 3 random starting
//      lengths (drawn from the input, not the clock), bit 4 a third pass
//   1, 2: bit 7 of byte 1 clear: threshold = (15-bit value) / 32 bytes
//      (0 gives one block); set: block count = the 15-bit value
//   3, 4, 5: seed of the piece sizes handed to fputbuf (byte 5 also picks
//      how small the pieces tend to be)
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "deflate/deflate.h"
#include "driver/driver.h"
#include "files/files.h"
#include "zipout/zipout.h"

namespace {

constexpr size_t selectorbytes = 6;
constexpr size_t maxdata = 65536;   // keeps one execution well under a second

std::string workdir;
std::string archivename;

void removeworkdir() { rmdir(workdir.c_str()); }

[[noreturn]] void fail(const char *what, int32_t pass, int32_t block, int32_t value) {
  fprintf(stderr, "roundtrip: %s (pass %d, block %d, value %d)\n", what, pass, block, value);
  abort();
}

uint32_t nextrandom(uint32_t &s) {
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  return s;
}

// The starting lengths compressfile gives every block; the random ones come
// from the input's seed so that a finding can be replayed.
void startinglengths(uint32_t &seed, bool random) {
  for (int32_t b = 0; b < hufnum; b++) {
    int32_t *bit = huf[b].bit;
    if (strategy == 3 || !random) {
      fixedlengths(bit);
    } else {
      int32_t *frq = huf[b].frq;
      for (int32_t s = 0; s < hufslots; s++) frq[s] = (int32_t)(nextrandom(seed) & 32767) + 16384;
      frq[286] = frq[287] = frq[318] = frq[319] = 0;
      hufrq2bit(frq, 286, bit, 16);
      hufrq2bit(frq + hufdistslot, 30, bit + hufdistslot, 16);
    }
  }
}

// The entry's table record and names, as findfiles would leave them for a
// file "f" in the current directory.
void oneentry(int32_t leng) {
  findfilesinit();
  fnambuf[0] = 0;
  memcpy(fnambuf + 1, "f", 2);
  fnamptr = 3;
  zfiltyp &z = zfil[0];
  memset(&z, 0, sizeof z);
  z.filspec = 0;
  z.filnam = 1;
  z.leng = leng;
  z.attr = 0x20;
  numfiles = 1;
}

std::string inflated(const std::string &deflated, bool *ok) {
  z_stream zs;
  memset(&zs, 0, sizeof zs);
  *ok = false;
  if (inflateInit2(&zs, -15) != Z_OK) return "";
  zs.next_in = (Bytef *)deflated.data();
  zs.avail_in = (uInt)deflated.size();
  std::string out;
  static char buf[65536];
  int rc;
  do {
    zs.next_out = (Bytef *)buf;
    zs.avail_out = sizeof buf;
    rc = inflate(&zs, Z_NO_FLUSH);
    out.append(buf, sizeof buf - zs.avail_out);
    // A stream that never ends would otherwise loop as long as it yields.
    if (out.size() > 4 * maxdata) break;
  } while (rc == Z_OK && (zs.avail_in > 0 || zs.avail_out == 0));
  *ok = rc == Z_STREAM_END && zs.avail_in == 0;
  inflateEnd(&zs);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  char tmpl[] = "/tmp/vorpakfuzz.XXXXXX";
  if (!mkdtemp(tmpl)) abort();
  workdir = tmpl;
  archivename = workdir + "/fuzz.zip";
  atexit(removeworkdir);   // empty again after every run
  initcrc();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t size) {
  if (size < selectorbytes) return 0;
  const uint8_t *sel = in;
  const uint8_t *data = in + selectorbytes;
  const int32_t n = (int32_t)(size - selectorbytes < maxdata ? size - selectorbytes : maxdata);

  resetsettings();
  messagestream = nullptr;
  strategy = sel[0] & 3;
  fixzlib121 = (sel[0] >> 2) & 1;
  const bool randomstart = (sel[0] >> 3) & 1;
  const int32_t passes = 2 + ((sel[0] >> 4) & 1);
  const int32_t v = ((sel[1] & 127) << 8) | sel[2];
  if (sel[1] & 128) gpohufnum = v;
  else gpohufthresh = v / 32.0;
  uint32_t seed = ((uint32_t)sel[3] << 16 | (uint32_t)sel[4] << 8 | sel[5]) * 2654435761u + 1;
  // Piece sizes: mostly up to 65536 like the driver's reads, or much
  // smaller, which moves where the chunks of the parser end.
  static const int32_t piececap[4] = {65536, 4096, 300, 7};
  const int32_t cap = piececap[sel[5] & 3];

  oneentry(n);

  // Block layout, once, from the whole data.
  if (gpohufthresh > 0.0) {
    std::vector<uint8_t> whole(data, data + n);
    hufbuf = whole.data();
    hufnum = 0;
    hufsplit(0, n);
    hufbuf = nullptr;
  } else {
    hufnum = 1;
  }
  if (hufnum < 1 || hufnum > hufmaxblocks) fail("block count out of range", -1, -1, hufnum);
  // Where each block's bytes begin: the parse relies on every block ending
  // beyond its start, and on the last one being the end of the data.
  std::vector<int32_t> start(hufnum + 1);
  start[0] = 0;
  for (int32_t b = 0; b < hufnum - 1; b++) {
    start[b + 1] = huf[b].x1;
    if (start[b + 1] <= start[b] || start[b + 1] >= n) fail("block end out of order", -1, b, huf[b].x1);
  }
  start[hufnum] = n;

  startinglengths(seed, randomstart);

  if (!voopen(archivename.c_str())) fail("cannot create the archive", -1, -1, 0);
  const std::string want((const char *)data, (size_t)n);
  const uint32_t wantcrc = (uint32_t)crc32(0, data, (uInt)n);

  for (int32_t pass = 0; pass < passes; pass++) {
    zipoutopenfile(0);
    for (int32_t o = 0; o < n;) {
      int32_t k = 1 + (int32_t)(nextrandom(seed) % (uint32_t)cap);
      if (k > n - o) k = n - o;
      fputbuf(data + o, k);
      o += k;
    }
    zipoutclose();

    const zfiltyp &z = zfil[0];
    if ((uint32_t)z.crc != wantcrc) fail("CRC differs from zlib's", pass, -1, 0);
    if (z.datoff - z.headoff != 30 + 1) fail("local header size", pass, -1, z.datoff - z.headoff);
    if (z.endoff != votell()) fail("position is not behind the entry", pass, -1, votell());

    // The pass as it stands in the archive file.
    voflush();
    std::string got((size_t)(z.endoff - z.datoff), '\0');
    if (pread(vofilhand, got.data(), got.size(), z.datoff) != (ssize_t)got.size())
      fail("cannot read the archive back", pass, -1, 0);
    bool ok = false;
    std::string back = inflated(got, &ok);
    if (!ok) fail("zlib rejects the stream", pass, -1, (int32_t)back.size());
    if (back != want) fail("inflated data differ", pass, -1, (int32_t)back.size());

    // The lengths the next pass codes with: no length above Deflate's 15,
    // and under every strategy whose parse weighs every position as a
    // literal, a code for each byte value the block contains. (Longest
    // Match jumps over the inside of its matches whatever the lengths, so a
    // byte met only there is never coded as a literal and needs no code.)
    for (int32_t b = 0; b < hufnum; b++) {
      for (int32_t s = 0; s < hufslots; s++)
        if (huf[b].bit[s] < 0 || huf[b].bit[s] > 15) fail("code length out of range", pass, b, s);
      if (huf[b].bit[256] == 0) fail("end of block without a code", pass, b, 256);
      if (strategy == 2) continue;
      for (int32_t p = start[b]; p < start[b + 1]; p++)
        if (huf[b].bit[data[p]] == 0) fail("byte value left without a code", pass, b, data[p]);
    }

    voseek(z.headoff);
  }
  voclose();
  unlink(archivename.c_str());
  return 0;
}
