// Inputs past 2 GiB and 4 GiB (named Large, outside the quick run): made up
// piece by piece as the encoder reads them, coded into a file, and inflated
// by zlib piece by piece, its CRC-32 and length compared with the input's.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include <zlib.h>

#include "deflate/deflate.h"

namespace {

// A period of 63 zero bytes and one 'x', as long as asked; never in memory.
class patternsource : public bytesource {
 public:
  bool rewind() override {
    pos_ = 0;
    return true;
  }
  bool read(uint8_t *buf, int32_t n) override {
    for (int32_t k = 0; k < n; k++) buf[k] = (pos_ + k) % 64 == 63 ? 'x' : 0;
    pos_ += n;
    return true;
  }

 private:
  int64_t pos_ = 0;
};

// CRC-32 and length of the raw Deflate stream in the file, inflated in
// pieces; length -1 when zlib finds it invalid or unfinished.
std::pair<uLong, int64_t> inflatefile(FILE *f, int64_t compressed) {
  z_stream z{};
  inflateInit2(&z, -15);
  std::vector<uint8_t> in(1 << 20), out(1 << 22);
  uLong crc = crc32(0, nullptr, 0);
  int64_t length = 0;
  int ret = Z_OK;
  fseek(f, 0, SEEK_SET);
  while (ret == Z_OK && compressed > 0) {
    z.avail_in = (uInt)fread(in.data(), 1, (size_t)std::min<int64_t>(compressed, (int64_t)in.size()), f);
    compressed -= z.avail_in;
    z.next_in = in.data();
    do {
      z.next_out = out.data();
      z.avail_out = (uInt)out.size();
      ret = inflate(&z, Z_NO_FLUSH);
      crc = crc32(crc, out.data(), (uInt)(out.size() - z.avail_out));
      length += (int64_t)(out.size() - z.avail_out);
    } while (ret == Z_OK && z.avail_out == 0);
  }
  inflateEnd(&z);
  return {crc, ret == Z_STREAM_END && compressed == 0 ? length : -1};
}

// Codes length bytes of the pattern into a file and inflates it.
void codesandinflates(int64_t length, const encodeoptions &o) {
  std::unique_ptr<encoder> enc(new encoder);
  std::unique_ptr<FILE, int (*)(FILE *)> f(tmpfile(), fclose);
  ASSERT_TRUE(f);
  patternsource in;
  bytesink out(fileno(f.get()));
  encoderesult r = enc->compress(in, length, out, o, nullptr);
  ASSERT_EQ(r.result, encoderesult::compressed);
  std::vector<uint8_t> piece(1 << 20);
  uLong crc = crc32(0, nullptr, 0);
  in.rewind();
  for (int64_t k = 0; k < length; k += (int64_t)piece.size()) {
    const int32_t n = (int32_t)std::min<int64_t>(length - k, (int64_t)piece.size());
    in.read(piece.data(), n);
    crc = crc32(crc, piece.data(), (uInt)n);
  }
  EXPECT_EQ(inflatefile(f.get(), r.length), std::make_pair(crc, length));
}

// Past 4 GiB: three sections of blocks, positions rebased three times.
TEST(Encoder, LargeHuffmanOnlyPast4GiB) { codesandinflates(((int64_t)9 << 29) + 12345, {.strategy = 3, .maxpasses = 1}); }

// Past 2 GiB with the match search, which runs on across the rebase.
TEST(Encoder, LargeLongestMatchPast2GiB) { codesandinflates(((int64_t)5 << 29) + 777, {.strategy = 2, .maxpasses = 1}); }

}  // namespace
