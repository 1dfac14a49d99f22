#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "gzip/gzip.h"

namespace {

// Header flags: a header CRC, an extra field, a name, a comment; the three
// reserved bits must be zero.
constexpr uint8_t flaghcrc = 0x02, flagextra = 0x04, flagname = 0x08, flagcomment = 0x10, flagreserved = 0xe0;
constexpr size_t fixedheader = 10, trailer = 8;
// The most bytes one byte of Deflate data can stand for (a bound for how
// much to set aside before inflating, whatever the trailer claims).
constexpr uint64_t deflatemaxratio = 1032;

uint32_t le32(const uint8_t *p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24; }

bool refuse(std::string &error, std::vector<uint8_t> &out, const char *why) {
  error = why;
  out.clear();
  return false;
}

// A NUL-terminated field from pos; false when the file ends first.
bool zerofield(const uint8_t *data, size_t size, size_t &pos, std::string &field) {
  const uint8_t *end = (const uint8_t *)memchr(data + pos, 0, size - pos);
  if (!end) return false;
  field.assign((const char *)data + pos, (size_t)(end - (data + pos)));
  pos = (size_t)(end - data) + 1;
  return true;
}

}  // namespace

bool readgzip(const uint8_t *data, size_t size, gzipmember &m, std::vector<uint8_t> &out, std::string &error) {
  m = gzipmember();
  out.clear();
  if (size < fixedheader || data[0] != 0x1f || data[1] != 0x8b) return refuse(error, out, "not a gzip file");
  if (data[2] != 8) return refuse(error, out, "compression method other than Deflate");
  m.flags = data[3];
  if (m.flags & flagreserved) return refuse(error, out, "reserved header flags set");
  m.mtime = le32(data + 4);
  size_t pos = fixedheader;
  if (m.flags & flagextra) {
    if (size - pos < 2 || size - pos - 2 < (size_t)(data[pos] | data[pos + 1] << 8))
      return refuse(error, out, "truncated (in the header's extra field)");
    pos += 2 + (size_t)(data[pos] | data[pos + 1] << 8);
  }
  if ((m.flags & flagname) && !zerofield(data, size, pos, m.name)) return refuse(error, out, "truncated (in the name)");
  if ((m.flags & flagcomment) && !zerofield(data, size, pos, m.comment))
    return refuse(error, out, "truncated (in the comment)");
  if (m.flags & flaghcrc) {
    if (size - pos < 2) return refuse(error, out, "truncated (in the header CRC)");
    if ((crc32(0, data, (uInt)pos) & 0xffff) != (uint32_t)(data[pos] | data[pos + 1] << 8))
      return refuse(error, out, "wrong header CRC");
    pos += 2;
  }
  m.headerlength = pos;
  if (size - pos < trailer) return refuse(error, out, "truncated (no room for the data and the trailer)");

  // The data: inflated until the stream ends, which must leave exactly the
  // trailer behind it.
  const uint64_t claimed = le32(data + size - 4);
  out.reserve((size_t)std::min<uint64_t>(claimed, (size - pos) * deflatemaxratio));
  z_stream zs;
  memset(&zs, 0, sizeof zs);
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return refuse(error, out, "zlib could not start (out of memory)");
  zs.next_in = const_cast<Bytef *>(data + pos);
  uint64_t fed = 0;
  const uint64_t available = size - pos;
  uint8_t buf[1 << 16];
  int rc;
  do {
    // zlib counts its input in 32 bits: a larger file is fed in parts.
    if (zs.avail_in == 0 && fed < available) {
      zs.avail_in = (uInt)std::min<uint64_t>(available - fed, 1u << 30);
      fed += zs.avail_in;
    }
    zs.next_out = buf;
    zs.avail_out = sizeof buf;
    rc = inflate(&zs, Z_NO_FLUSH);
    out.insert(out.end(), buf, buf + (sizeof buf - zs.avail_out));
  } while (rc == Z_OK);
  const uint64_t left = zs.avail_in + (available - fed);
  inflateEnd(&zs);
  if (rc == Z_DATA_ERROR) return refuse(error, out, "invalid Deflate data");
  if (rc == Z_MEM_ERROR) return refuse(error, out, "out of memory while inflating");
  if (rc != Z_STREAM_END) return refuse(error, out, "truncated (the Deflate data end before the stream does)");
  if (left < trailer) return refuse(error, out, "truncated (in the trailer)");
  const size_t end = size - (size_t)left;
  m.datalength = end - pos;
  if (left > trailer) {
    const uint8_t *after = data + end + trailer;
    return refuse(error, out, left >= trailer + 2 && after[0] == 0x1f && after[1] == 0x8b
                                  ? "more than one member (not supported)"
                                  : "bytes after the end of the member");
  }
  m.crc = le32(data + end);
  if (le32(data + end + 4) != (uint32_t)out.size())
    return refuse(error, out, "the trailer's size does not match the data");
  uLong crc = crc32(0, nullptr, 0);
  for (size_t at = 0; at < out.size(); at += 1 << 30)
    crc = crc32(crc, out.data() + at, (uInt)std::min<size_t>(out.size() - at, 1u << 30));
  if (crc != m.crc) return refuse(error, out, "wrong CRC-32");
  return true;
}
