#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "zipin/layout.h"
#include "zipin/zipin.h"

namespace {

constexpr uint16_t methodstored = 0;
constexpr uint16_t methoddeflated = 8;

// The most bytes one byte of Deflate data can stand for: a block whose
// literal/length code holds only end-of-block and length 258, one bit each,
// and whose distance code is one code of one bit, gives 258 bytes for every
// two bits. A declared size beyond this many times the compressed size is
// false, and is refused before anything is allocated for it.
constexpr uint64_t deflatemaxratio = 1032;
// Room above that bound for a stream that sits right on it: one more
// longest match. It costs at most this much memory and turns away no real
// entry.
constexpr uint64_t deflateslack = 258;

bool fail(std::string &error, std::string message) {
  error = std::move(message);
  return false;
}

// Pieces of an entry's uncompressed bytes are handed on in at most this many
// bytes at a time.
constexpr uInt piecebytes = 1 << 16;

// Inflates the compressed bytes at in, handing the output to piece as it
// comes; an empty string on success, else what is wrong. No more than size
// bytes are ever handed on: a stream that would give more is refused at
// that point.
std::string inflatepieces(const uint8_t *in, uint64_t length, uint64_t size,
                          const std::function<bool(const uint8_t *, size_t)> &piece, bool &stopped) {
  z_stream zs;
  memset(&zs, 0, sizeof zs);
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return "zlib could not start (out of memory)";
  std::vector<uint8_t> buf(piecebytes);
  zs.next_in = const_cast<Bytef *>(in);
  uint64_t given = 0, fed = 0;
  int rc;
  do {
    // zlib counts its input in 32 bits: a larger entry is fed in parts.
    if (zs.avail_in == 0 && fed < length) {
      zs.avail_in = (uInt)std::min<uint64_t>(length - fed, 1u << 30);
      fed += zs.avail_in;
    }
    zs.next_out = buf.data();
    zs.avail_out = piecebytes;
    rc = inflate(&zs, Z_NO_FLUSH);
    const size_t n = piecebytes - zs.avail_out;
    if (given + n > size) rc = Z_BUF_ERROR, given += n;
    else if (n > 0 && !piece(buf.data(), n)) stopped = true;
    else given += n;
  } while (rc == Z_OK && !stopped && given <= size);
  const uint64_t inleft = zs.avail_in + (length - fed);
  inflateEnd(&zs);
  if (stopped) return "";
  if (given > size) return "inflates to more bytes than its size says";
  if (rc == Z_STREAM_END) {
    if (inleft != 0) return "bytes behind the end of its Deflate data";
    if (given != size) return "inflates to fewer bytes than its size says";
    return "";
  }
  if (rc == Z_DATA_ERROR) return "invalid Deflate data";
  if (rc == Z_MEM_ERROR) return "out of memory while inflating";
  return "its Deflate data end before the stream does";
}

}  // namespace

bool readentry(const uint8_t *data, size_t size, const zipinentry &e,
               const std::function<bool(const uint8_t *, size_t)> &piece, std::string &error) {
  const std::string label = entrylabel(e) + ": ";
  if (e.flags & flagencrypted) return fail(error, label + "encrypted");
  if (e.method != methodstored && e.method != methoddeflated)
    return fail(error, label + "compression method " + std::to_string(e.method) + " is not supported");
  // The entry may not come from readarchive on this very buffer.
  if (e.datoff < 0 || (uint64_t)e.datoff > size || e.compressed > size - (uint64_t)e.datoff)
    return fail(error, label + "data lie outside the archive");
  const uint8_t *in = data + e.datoff;
  uLong crc = crc32(0, nullptr, 0);
  bool stopped = false;
  // Every piece joins the CRC before the caller sees it.
  auto checked = [&](const uint8_t *p, size_t n) {
    crc = crc32(crc, p, (uInt)n);
    return piece(p, n);
  };
  if (e.method == methodstored) {
    if (e.compressed != e.size) return fail(error, label + "stored, but its two sizes differ");
    for (uint64_t at = 0; at < e.size && !stopped; at += piecebytes)
      stopped = !checked(in + at, (size_t)std::min<uint64_t>(piecebytes, e.size - at));
  } else {
    if (e.size > e.compressed * deflatemaxratio + deflateslack)
      return fail(error, label + "its size is more than its compressed data could inflate to");
    const std::string problem = inflatepieces(in, e.compressed, e.size, checked, stopped);
    if (!problem.empty()) return fail(error, label + problem);
  }
  if (stopped) return fail(error, "");
  if (crc != e.crc) return fail(error, label + "wrong CRC-32");
  return true;
}

bool extractentry(const uint8_t *data, size_t size, const zipinentry &e, std::vector<uint8_t> &out,
                  std::string &error) {
  out.clear();
  bool ok = readentry(data, size, e, [&](const uint8_t *p, size_t n) {
    // The declared size is checked against the data's length before the
    // first piece, so reserving it cannot be a false size's allocation.
    if (out.empty()) out.reserve(e.size);
    out.insert(out.end(), p, p + n);
    return true;
  }, error);
  if (!ok) out.clear();
  return ok;
}
