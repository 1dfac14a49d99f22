// UTF-8 names; ZIP64 records only where a value does not fit.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "zipout/zipout.h"

namespace {

TEST(Records, Utf8Names) {
  const std::pair<const char *, bool> cases[] = {
      {"plain.txt", false}, {"\xc3\xbc", true}, {"\xe5\x90\x8d", true}, {"\xf0\x9f\x98\x80", true}, {"\xc0\xbc", false},
      {"\xe0\x80\xbc", false}, {"\xed\xa0\x80", false}, {"\xf4\x90\x80\x80", false}, {"\x80", false}, {"\xc3", false},
      {"a\xe5\x90", false}, {"\xf5\x80\x80\x80", false}, {"\xf4\x8f\xbf\xbf", true}, {"\xed\xbf\xbf", false}};
  for (auto &[name, utf8] : cases) EXPECT_EQ(isutf8name(name), utf8) << ::testing::PrintToString(name);
}

// The end record holds a placeholder only for a value that does not fit,
// and the ZIP64 end record and locator come only with one; a central
// header's ZIP64 field holds just the values that pass 32 bits.
TEST(Records, Zip64OnlyWhereNeeded) {
  for (auto [count, headoff, size] : {std::tuple{65534u, (int64_t)0, (uint64_t)0}, {65535u, 0, 0}, {1u, (int64_t)1 << 32, 0},
                                      {1u, 0, (uint64_t)5 << 30}}) {
    std::vector<ziprecord> recs(count);
    recs.back().headoff = headoff;
    recs.back().size = size;
    // In a sparse file: the records behind 4 GiB of nothing.
    FILE *f = tmpfile();
    std::vector<uint8_t> bytes;
    {
      bytesink out(fileno(f));
      out.seek(headoff);
      writecentraldirectory(out, recs);
      out.flush();
      bytes.resize((size_t)(out.tell() - headoff));
      ASSERT_EQ(pread(fileno(f), bytes.data(), bytes.size(), headoff), (ssize_t)bytes.size());
    }
    fclose(f);
    const uint8_t *end = bytes.data() + bytes.size() - 22, *central = bytes.data() + 46 * (count - 1);
    const bool zip64 = count >= 65535 || headoff > 0;
    EXPECT_EQ(end[-20] == 'P' && end[-19] == 'K' && end[-18] == 6 && end[-17] == 7, zip64) << count;
    EXPECT_EQ(end[10] | end[11] << 8, count >= 65535 ? 65535u : count) << count;
    EXPECT_EQ(end[16] == 0xff, headoff > 0);
    // Extra length 12 (one 8-byte value) exactly where one value passes 32 bits.
    EXPECT_EQ(central[30], headoff > 0 || size > 0 ? 12 : 0);
    EXPECT_EQ(central[24] == 0xff, size > 0);
  }
}

}  // namespace
