// CRC-32 against zlib's, which ZIP and gzip readers use.
#include <gtest/gtest.h>
#include <zlib.h>

#include "testsupport.h"
#include "zipout/zipout.h"

static uint32_t crcof(const std::string &s) {
  zipcrc = 0xffffffff;
  crcupdate((const uint8_t *)s.data(), (int32_t)s.size());
  return ~zipcrc;
}

static uint32_t zlibcrc(const std::string &s) {
  return (uint32_t)crc32(0, (const Bytef *)s.data(), (uInt)s.size());
}

TEST(crc32, TableEqualsZlibs) {
  initcrc();
  const z_crc_t *t = get_crc_table();
  for (int k = 0; k < 256; k++) EXPECT_EQ((uint32_t)t[k], crctab32[k]) << k;
}

TEST(crc32, NoDataGivesZero) {
  initcrc();
  EXPECT_EQ(0u, crcof(""));
  EXPECT_EQ(zlibcrc(""), crcof(""));
}

TEST(crc32, RegisterEqualsZlibOnAnyData) {
  initcrc();
  for (size_t n : {1, 2, 3, 255, 256, 4096, 100003}) {
    std::string s = randombytes(n, (uint32_t)n);
    EXPECT_EQ(zlibcrc(s), crcof(s)) << n;
  }
  std::string t = textbytes(70000, 3);
  EXPECT_EQ(zlibcrc(t), crcof(t));
}

TEST(crc32, PiecesGiveTheSameResultAsOneRun) {
  initcrc();
  std::string s = randombytes(200000, 21);
  zipcrc = 0xffffffff;
  size_t at = 0;
  for (size_t piece : {0, 1, 7, 65536, 31, 65537}) {
    crcupdate((const uint8_t *)s.data() + at, (int32_t)piece);
    at += piece;
  }
  crcupdate((const uint8_t *)s.data() + at, (int32_t)(s.size() - at));
  EXPECT_EQ(zlibcrc(s), ~zipcrc);
}

TEST(crc32, HighBytesCountTheSameSignedOrUnsigned) {
  initcrc();
  std::string s;
  for (int b = 0x80; b < 0x100; b++) s += (char)b;
  uint32_t r = 0xffffffff;
  for (char c : s) r = crcstep(r, (uint32_t)(int32_t)(signed char)c);   // sign-extended
  EXPECT_EQ(zlibcrc(s), ~r);
}
