// Round trip through the encoder: after every pass zlib's inflate must give
// back the data and the next pass's lengths must be valid.
// Byte 0: bits 0-1 strategy, 2 -zl121, 3 random tables, 4 -ns, 5-6 passes
// (1 to 4), 7 extra effort too (inputs up to 1 KiB); bytes 1-2: bit 15 clear,
// threshold 16 + value/32 (0: one block), set, 1 + value%64 blocks; 3: seed.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <zlib.h>

#include "deflate/deflate.h"
#include "deflate/effort.h"

namespace {

constexpr size_t selectorbytes = 4;
constexpr size_t maxdata = 16384;   // keeps one execution well under a second

bool inflates(const uint8_t *p, size_t n, const uint8_t *want, size_t wantn) {
  std::vector<uint8_t> out(wantn + 1);
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) abort();
  z.next_in = (Bytef *)p, z.avail_in = (uInt)n, z.next_out = out.data(), z.avail_out = (uInt)out.size();
  int rc = inflate(&z, Z_FINISH);
  bool ok = rc == Z_STREAM_END && z.avail_in == 0 && z.total_out == wantn && memcmp(out.data(), want, wantn) == 0;
  inflateEnd(&z);
  return ok;
}

struct checker : encodewatcher {
  encoder &enc;
  bytesink &out;
  const uint8_t *data;
  size_t size;
  std::vector<int32_t> ends;
  checker(encoder &e, bytesink &o, const uint8_t *d, size_t n) : enc(e), out(o), data(d), size(n) {}
  void blocklayout(const int64_t *e, int32_t n) override {
    for (int32_t b = 0; b < n; b++)
      if ((b ? e[b] <= e[b - 1] : e[b] < 1 && size) || n > maxblocks || e[n - 1] != (int64_t)size) abort();
    ends.assign(e, e + n);
  }
  void passends(int64_t length, int64_t, bool) override {
    if (!inflates(out.bytes(), (size_t)length, data, size)) abort();
    for (int32_t b = 0; b < (int32_t)ends.size() * slotcount; b++)
      if ((uint32_t)enc.block(b / slotcount).lengths[b % slotcount] > 15 || !enc.block(b / slotcount).lengths[endofblock]) abort();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t size) {
  if (size < selectorbytes) return 0;
  static encoder *enc = new encoder;
  static bytesink out;
  const uint8_t *data = in + selectorbytes;
  const size_t n = size - selectorbytes < maxdata ? size - selectorbytes : maxdata;
  encodeoptions o;
  o.strategy = in[0] & 3;
  o.onecodeforempty = in[0] & 4;
  o.randomtables = in[0] & 8;
  o.neverstore = in[0] & 16;
  o.randomseed = in[3];
  o.maxpasses = 1 + ((in[0] >> 5) & 3);
  // At most 64 blocks: the limit of 1024 has tests of its own.
  const int32_t v = ((in[1] & 127) << 8) | in[2];
  if (in[1] & 128) o.blockcount = 1 + v % 64;
  else o.splitthreshold = v ? 16 + v / 32.0 : 0;

  memorysource src(data, n);
  checker c(*enc, out, data, n);
  out.clear();
  encoderesult r = enc->compress(src, (int64_t)n, out, o, &c);
  if (r.result != encoderesult::compressed && r.result != encoderesult::store) abort();
  if ((in[0] & 128) && n <= 1024) {
    // Never larger than the normal run, and a valid stream.
    bytesink hard;
    encoderesult h = compresshard({enc}, data, (int64_t)n, hard, o, {.rounds = 1, .trials = 2}, nullptr);
    if (h.result != r.result || (h.result == encoderesult::compressed &&
                                 (h.length > r.length || !inflates(hard.bytes(), (size_t)h.length, data, n))))
      abort();
  }

  return 0;
}
