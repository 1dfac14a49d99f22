// CRC-32 against zlib's, which ZIP and gzip readers use.
#include <gtest/gtest.h>
#include <zlib.h>

#include "testsupport.h"
#include "zipout/zipout.h"

static uint32_t zlibcrc(const std::string &s) {
  return (uint32_t)crc32(0, (const Bytef *)s.data(), (uInt)s.size());
}

TEST(crc32, EqualsZlibsOnAnyData) {
  initcrc();
  const z_crc_t *t = get_crc_table();
  for (int k = 0; k < 256; k++) EXPECT_EQ((uint32_t)t[k], crctab32[k]) << k;
  std::vector<std::string> cases = {"", textbytes(70000, 3)};   // no data gives 0
  for (size_t n : {1, 2, 3, 255, 256, 4096, 100003}) cases.push_back(randombytes(n, (uint32_t)n));
  for (const std::string &s : cases) {
    zipcrc = 0xffffffff;
    crcupdate((const uint8_t *)s.data(), (int32_t)s.size());
    EXPECT_EQ(zlibcrc(s), ~zipcrc) << s.size();
  }
  // The same data fed in pieces, the last one the rest, give the same register.
  std::string s = randombytes(200000, 21);
  zipcrc = 0xffffffff;
  size_t at = 0;
  for (size_t piece : {0, 1, 7, 65536, 31, 65537, 68888}) {
    crcupdate((const uint8_t *)s.data() + at, (int32_t)piece);
    at += piece;
  }
  EXPECT_EQ(zlibcrc(s), ~zipcrc);
  // A high byte counts the same sign-extended: only its low eight bits matter.
  std::string high;
  for (int b = 0x80; b < 0x100; b++) high += (char)b;
  uint32_t r = 0xffffffff;
  for (char c : high) r = crcstep(r, (uint32_t)(int32_t)(signed char)c);
  EXPECT_EQ(zlibcrc(high), ~r);
}
