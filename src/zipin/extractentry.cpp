#include <zlib.h>

#include <cstring>

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

bool fail(std::vector<uint8_t> &out, std::string &error, std::string message) {
  out.clear();
  error = std::move(message);
  return false;
}

// Inflates the compressed bytes at in into out, which already has the
// declared size; an empty string on success, else what is wrong. One call
// with Z_FINISH and the whole output space: zlib stops where the stream
// ends or where the space does, so the output can never exceed the size.
std::string inflateinto(const uint8_t *in, uint32_t length, std::vector<uint8_t> &out) {
  z_stream zs;
  memset(&zs, 0, sizeof zs);
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return "zlib could not start (out of memory)";
  // zlib refuses a null output pointer even for no output at all.
  uint8_t none = 0;
  zs.next_in = const_cast<Bytef *>(in);
  zs.avail_in = length;
  zs.next_out = out.empty() ? &none : out.data();
  zs.avail_out = (uInt)out.size();
  const int rc = inflate(&zs, Z_FINISH);
  const uInt inleft = zs.avail_in, outleft = zs.avail_out;
  inflateEnd(&zs);
  if (rc == Z_STREAM_END) {
    if (inleft != 0) return "bytes behind the end of its Deflate data";
    if (outleft != 0) return "inflates to fewer bytes than its size says";
    return "";
  }
  if (rc == Z_DATA_ERROR) return "invalid Deflate data";
  if (rc == Z_MEM_ERROR) return "out of memory while inflating";
  if (outleft == 0 && inleft != 0) return "inflates to more bytes than its size says";
  return "its Deflate data end before the stream does";
}

}  // namespace

bool extractentry(const uint8_t *data, size_t size, const zipinentry &e, std::vector<uint8_t> &out,
                  std::string &error) {
  out.clear();
  const std::string label = entrylabel(e) + ": ";
  if (e.flags & flagencrypted) return fail(out, error, label + "encrypted");
  if (e.method != methodstored && e.method != methoddeflated)
    return fail(out, error, label + "compression method " + std::to_string(e.method) + " is not supported");
  // The entry may not come from readarchive on this very buffer.
  if (e.datoff < 0 || (uint64_t)e.datoff > size || e.compressed > size - (uint64_t)e.datoff)
    return fail(out, error, label + "data lie outside the archive");
  const uint8_t *in = data + e.datoff;
  if (e.method == methodstored) {
    if (e.compressed != e.size) return fail(out, error, label + "stored, but its two sizes differ");
    out.assign(in, in + e.size);
  } else {
    if (e.size > e.compressed * deflatemaxratio + deflateslack)
      return fail(out, error, label + "its size is more than its compressed data could inflate to");
    out.resize(e.size);
    const std::string problem = inflateinto(in, e.compressed, out);
    if (!problem.empty()) return fail(out, error, label + problem);
  }
  if (crc32(0, out.data(), (uInt)out.size()) != e.crc) return fail(out, error, label + "wrong CRC-32");
  return true;
}
