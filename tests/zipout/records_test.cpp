// ZIP records: the three record layouts byte by byte, the header patch,
// directory entries, the UTF-8 name flag and the entry count limit.
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "testsupport.h"
#include "ziptest.h"

using records = ziptest;

// A little-endian field of w bytes.
static std::string le(uint64_t v, int w) {
  std::string r;
  for (int k = 0; k < w; k++) r += (char)(v >> 8 * k);
  return r;
}

// Raw Deflate data from zlib, so that a deflated entry is framed without this
// system's own encoder: the stream inside zlib's 2-byte header and 4-byte trailer.
static std::string zlibdeflate(const std::string &s) {
  uLongf n = compressBound((uLong)s.size());
  std::string out(n, '\0');
  if (compress2((Bytef *)out.data(), &n, (const Bytef *)s.data(), (uLong)s.size(), 9) != Z_OK) abort();
  return out.substr(2, n - 6);
}

TEST_F(records, LayoutByteByByte) {
  // A deflated entry with a UTF-8 name, written as a compression pass does
  // (header, data, patch), then a directory and an empty stored entry with a
  // Latin-1 name: every field of the three records, the UTF-8 flag only for
  // the name that is UTF-8, and no records for the directory. The UTF-8
  // name's entry is made by Unix (host 3), its mode a plain rw-r--r-- file,
  // so that readers which take MS-DOS-made names for code page 437 keep it.
  std::string text = textbytes(3000, 4), z = zlibdeflate(text);
  uint32_t crc = (uint32_t)crc32(0, (const Bytef *)text.data(), (uInt)text.size());
  int32_t i = addentry("\xc3\xbc.txt", text);
  addentry("sub", "", 0x30);
  int32_t j = addentry("\xe9", "");
  entries[(size_t)j].readername = "\xce\x98";   // code page 437 has U+0398 at 0xE9
  ASSERT_EQ(1, voopen(archive.c_str()));
  zfil[i].headoff = votell();
  zipoutlocalheader(i, 2, 8);
  zfil[i].compmeth = 8;
  zfil[i].datoff = votell();
  vowrite(z.data(), (int32_t)z.size());
  zfil[i].crc = (int32_t)crc;
  zfil[i].endoff = votell();
  zipoutpatch(i);
  EXPECT_EQ(zfil[i].endoff, votell());   // the patch returns to the end of the data
  zfil[j].headoff = votell();
  store(j);
  zipoutfinish();
  std::string b = checkwritten();

  struct rec { int32_t k; uint32_t flags, method, crc, csize, usize, headoff, madeby, extattr; std::string data; };
  const rec recs[2] = {{i, 0x802, 8, crc, (uint32_t)z.size(), 3000, 0, 0x0314, 0x81a40020, z},
                       {j, 0, 0, 0, 0, 0, (uint32_t)(30 + 6 + z.size()), 20, 0x20, ""}};
  // The fields both headers share, from the flags to the name's length.
  auto shared = [&](const rec &r) {
    return le(r.flags, 2) + le(r.method, 2) + le((uint16_t)zfil[r.k].tim, 2) +
           le((uint16_t)zfil[r.k].dat, 2) + le(r.crc, 4) + le(r.csize, 4) + le(r.usize, 4) +
           le(entries[(size_t)r.k].name.size(), 2);
  };
  std::string want;
  for (const rec &r : recs)   // version needed 20; no extra field
    want += le(0x04034b50, 4) + le(20, 2) + shared(r) + le(0, 2) + entries[(size_t)r.k].name + r.data;
  const size_t cd = want.size();
  for (const rec &r : recs)   // version 2.0; no extra, comment, disk or internal attributes
    want += le(0x02014b50, 4) + le(r.madeby, 2) + le(20, 2) + shared(r) + le(0, 8) + le(r.extattr, 4) +
            le(r.headoff, 4) + entries[(size_t)r.k].name;
  want += le(0x06054b50, 4) + le(0, 4) + le(2, 2) + le(2, 2) + le(want.size() - cd, 4) + le(cd, 4) + le(0, 2);
  EXPECT_EQ(want.size(), b.size());
  EXPECT_TRUE(want == b) << "first difference at byte "
                         << std::mismatch(want.begin(), want.end(), b.begin(), b.end()).first - want.begin();
}

static std::string hexof(const std::string &s) {
  std::string r;
  for (unsigned char ch : s) r += "0123456789abcdef"[ch >> 4], r += "0123456789abcdef"[ch & 15];
  return r;
}

// Every name of up to four bytes from the values around the limits of UTF-8
// (ASCII, continuation bytes, the leads of overlong, surrogate and too-high
// forms), judged by Python's strict decoder all at once.
TEST(utf8name, AgreesWithAStrictDecoder) {
  const char bytes[] = "\x41\x7f\x80\x8f\x90\x9f\xa0\xbf\xc0\xc1\xc2\xdf\xe0\xe1\xed\xee\xef\xf0\xf1\xf4\xf5\xf8\xff";
  std::vector<std::string> v = {""};
  for (size_t k = 0; k < v.size(); k++)
    if (v[k].size() < 4)
      for (size_t b = 0; b < sizeof bytes - 1; b++) v.push_back(v[k] + bytes[b]);
  std::string dir = maketempdir(), hex;
  for (auto &s : v) hex += hexof(s) + "\n";
  writefile(dir + "/names", hex);
  writefile(dir + "/judge.py",
            "def judge(b):\n"
            "    try:\n"
            "        b.decode('utf-8', 'strict')\n"
            "        return '1' if max(b, default=0) > 127 else '0'\n"
            "    except UnicodeDecodeError:\n"
            "        return '0'\n"
            "print(''.join(judge(bytes.fromhex(l)) for l in open('names').read().splitlines()))\n");
  runresult r = runshell(dir, "python3 judge.py");
  removetree(dir);
  ASSERT_EQ(0, r.status) << r.out;
  ASSERT_EQ(v.size() + 1, r.out.size());
  size_t wrong = 0;
  for (size_t k = 0; k < v.size(); k++)
    if (isutf8name(v[k].c_str()) != r.out[k] - '0' && ++wrong <= 10) ADD_FAILURE() << hexof(v[k]);
  EXPECT_EQ(0u, wrong);
}

TEST_F(records, AtMost65535FilesFitOneArchive) {
  const std::string old = "an archive from an earlier run";
  writefile(archive, old);
  int32_t i = addentry("empty", "");
  addentry("sub", "", 0x30);   // directories do not count
  repeatentry(i, 65534);
  // One file more ends the run before anything is written.
  runresult r = inchild([&] {
    repeatentry(i, 1);
    if (!voopen(archive.c_str())) _exit(3);
    zipoutfinish();
  });
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("Error: more than 65535 files for one archive\n", r.out);
  EXPECT_EQ((std::vector<std::string>{"empty", "sub", "test.zip"}), listdir(dir));
  EXPECT_EQ(old, readfile(archive));

  ASSERT_EQ(1, voopen(archive.c_str()));
  std::vector<std::pair<std::string, std::string>> want;
  for (int32_t k = 0; k < numfiles; k++) {
    if (zfil[k].attr & 16) continue;
    zfil[k].headoff = votell();
    store(k);
    want.push_back({"empty", ""});
  }
  zipoutfinish();
  std::string b = readfile(archive);
  EXPECT_EQ(le(65535, 2) + le(65535, 2), b.substr(b.size() - 14, 4));
  EXPECT_EQ("", checkinflate(b, want));
  runresult u = runshell(dir, "unzip -tq test.zip");
  EXPECT_EQ(0, u.status) << u.out;
  runresult p = runshell(dir,
                         "python3 -c \"import zipfile; z = zipfile.ZipFile('test.zip'); "
                         "assert z.testzip() is None; print(len(z.infolist()))\"");
  EXPECT_EQ("65535\n", p.out);
}
