// ZIP records: the layouts of the local header, the central directory header
// and the end record, the header patch, directory entries, the UTF-8 name
// flag and the entry count limit.
#include <zlib.h>

#include <cstring>

#include "console/console.h"
#include "testsupport.h"
#include "ziptest.h"

class records : public ziptest {};

static uint32_t le16(const std::string &b, size_t o) {
  return (uint8_t)b[o] | (uint32_t)(uint8_t)b[o + 1] << 8;
}
static uint32_t le32(const std::string &b, size_t o) { return le16(b, o) | le16(b, o + 2) << 16; }

// Raw Deflate data from zlib, so that a deflated entry can be framed without
// this system's own encoder.
static std::string zlibdeflate(const std::string &s) {
  z_stream z;
  memset(&z, 0, sizeof z);
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) abort();
  std::string out(deflateBound(&z, (uLong)s.size()), '\0');
  z.next_in = (Bytef *)s.data();
  z.avail_in = (uInt)s.size();
  z.next_out = (Bytef *)out.data();
  z.avail_out = (uInt)out.size();
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) abort();
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Writes entry i with method 8 as a compression pass does: header, data,
// patch.
static void writedeflated(int32_t i, const std::string &data) {
  std::string z = zlibdeflate(data);
  zfil[i].headoff = votell();
  zipoutlocalheader(i, 2, 8);
  zfil[i].compmeth = 8;
  zfil[i].datoff = votell();
  vowrite(z.data(), (int32_t)z.size());
  zfil[i].crc = (int32_t)crc32(0, (const Bytef *)data.data(), (uInt)data.size());
  zfil[i].endoff = votell();
  zipoutpatch(i);
}

TEST_F(records, OneEmptyStoredFileByteByByte) {
  int32_t i = addentry("a.txt", "");
  ASSERT_EQ(1, voopen(archive.c_str()));
  store(i);
  std::string b = finishandcheck();
  const uint32_t n = 5, c = 30 + n, e = c + 46 + n;
  ASSERT_EQ(e + 22, b.size());
  const uint32_t tim = (uint16_t)zfil[i].tim, dat = (uint16_t)zfil[i].dat;

  EXPECT_EQ(0x04034b50u, le32(b, 0));
  EXPECT_EQ(20u, le16(b, 4));    // version needed
  EXPECT_EQ(0u, le16(b, 6));     // flags
  EXPECT_EQ(0u, le16(b, 8));     // method
  EXPECT_EQ(tim, le16(b, 10));
  EXPECT_EQ(dat, le16(b, 12));
  EXPECT_EQ(0u, le32(b, 14));    // CRC of nothing
  EXPECT_EQ(0u, le32(b, 18));
  EXPECT_EQ(0u, le32(b, 22));
  EXPECT_EQ(n, le16(b, 26));
  EXPECT_EQ(0u, le16(b, 28));
  EXPECT_EQ("a.txt", b.substr(30, n));

  EXPECT_EQ(0x02014b50u, le32(b, c));
  EXPECT_EQ(20u, le16(b, c + 4));   // made by: MS-DOS, 2.0
  EXPECT_EQ(20u, le16(b, c + 6));
  EXPECT_EQ(0u, le16(b, c + 8));
  EXPECT_EQ(0u, le16(b, c + 10));
  EXPECT_EQ(tim, le16(b, c + 12));
  EXPECT_EQ(dat, le16(b, c + 14));
  EXPECT_EQ(0u, le32(b, c + 16));
  EXPECT_EQ(0u, le32(b, c + 20));
  EXPECT_EQ(0u, le32(b, c + 24));
  EXPECT_EQ(n, le16(b, c + 28));
  for (uint32_t o = 30; o < 38; o += 2) EXPECT_EQ(0u, le16(b, c + o)) << o;
  EXPECT_EQ(0x20u, le32(b, c + 38));
  EXPECT_EQ(0u, le32(b, c + 42));
  EXPECT_EQ("a.txt", b.substr(c + 46, n));

  EXPECT_EQ(0x06054b50u, le32(b, e));
  EXPECT_EQ(0u, le16(b, e + 4));
  EXPECT_EQ(0u, le16(b, e + 6));
  EXPECT_EQ(1u, le16(b, e + 8));
  EXPECT_EQ(1u, le16(b, e + 10));
  EXPECT_EQ(46 + n, le32(b, e + 12));
  EXPECT_EQ(c, le32(b, e + 16));
  EXPECT_EQ(0u, le16(b, e + 20));
}

TEST_F(records, DeflatedEntryHasFlag2AndMethod8) {
  std::string text = textbytes(50000, 4);
  int32_t i = addentry("text.txt", text);
  int32_t j = addentry("after.bin", randombytes(3000, 5));
  ASSERT_EQ(1, voopen(archive.c_str()));
  writedeflated(i, text);
  EXPECT_EQ(zfil[i].endoff, votell());   // the patch returns to the end of the data
  store(j);
  std::string b = finishandcheck();

  bool ok;
  std::vector<zipentry> z = parsezip(b, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(2u, z.size());
  EXPECT_EQ(2, z[0].flags);
  EXPECT_EQ(2, z[0].lflags);
  EXPECT_EQ(8, z[0].method);
  EXPECT_EQ(8, z[0].lmethod);
  EXPECT_EQ(zlibdeflate(text).size(), z[0].csize);
  EXPECT_EQ(z[0].csize, z[0].lcsize);
  EXPECT_EQ(text.size(), z[0].lusize);
  EXPECT_EQ(z[0].crc, z[0].lcrc);
  EXPECT_EQ(0, z[1].flags);
  EXPECT_EQ(0, z[1].method);
  EXPECT_EQ(30 + 8 + z[0].csize, z[1].headoff);
  for (auto &e : z) {
    EXPECT_EQ(20, e.version);
    EXPECT_EQ(20, e.made);
    EXPECT_EQ(0x20u, e.extattr);
  }
}

TEST_F(records, DirectoryEntriesGetNoRecords) {
  int32_t a = addentry("one", randombytes(100, 6));
  addentry("sub", "", 0x30);
  int32_t c = addentry("two", randombytes(200, 7));
  addentry("sub2", "", 0x30);
  ASSERT_EQ(1, voopen(archive.c_str()));
  store(a);
  store(c);
  std::string b = finishandcheck();
  size_t e = b.size() - 22;
  EXPECT_EQ(2u, le16(b, e + 8));
  EXPECT_EQ(2u, le16(b, e + 10));
  EXPECT_EQ((30 + 3 + 100) + (30 + 3 + 200), le32(b, e + 16));
  EXPECT_EQ(2 * (46 + 3), le32(b, e + 12));
}

TEST_F(records, Utf8FlagOnlyForNamesThatNeedIt) {
  int32_t i0 = addentry("plain.txt", randombytes(10, 8));
  int32_t i1 = addentry("gr\xc3\xbc\xc3\x9f" "e.txt", randombytes(20, 9));
  // Latin-1, not UTF-8: readers take it as code page 437, where 0xE9 is U+0398.
  int32_t i2 = addentry("caf\xe9.txt", randombytes(30, 10));
  entries[(size_t)i2].readername = "caf\xce\x98.txt";
  std::string text = textbytes(4000, 11);
  int32_t i3 = addentry("\xe6\x97\xa5\xe6\x9c\xac.txt", text);
  ASSERT_EQ(1, voopen(archive.c_str()));
  store(i0);
  store(i1);
  store(i2);
  writedeflated(i3, text);
  std::string b = finishandcheck();

  bool ok;
  std::vector<zipentry> z = parsezip(b, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(4u, z.size());
  const uint16_t want[4] = {0, zipflagutf8, 0, zipflagutf8 | 2};
  for (int k = 0; k < 4; k++) {
    EXPECT_EQ(want[k], z[(size_t)k].flags) << k;
    EXPECT_EQ(want[k], z[(size_t)k].lflags) << k;
  }
}

// Names a strict UTF-8 decoder must judge: every pair of high bytes, the
// three-byte forms around the overlong and surrogate ranges, the four-byte
// forms around U+10FFFF, and random mixtures.
static std::vector<std::string> utf8cases() {
  std::vector<std::string> v = {"a", "plain name.txt", "\xc2\x80", "x\xe2\x82\xacy"};
  for (int a = 0x80; a < 0x100; a++)
    for (int b = 0x80; b < 0x100; b++) v.push_back({(char)a, (char)b});
  for (int a = 0xe0; a < 0x100; a++)
    for (int b = 0x80; b < 0xc0; b++)
      for (int c : {0x41, 0x80, 0xbf, 0xc0}) v.push_back({(char)a, (char)b, (char)c});
  for (int a = 0xf0; a < 0xf8; a++)
    for (int b = 0x80; b < 0xc0; b++)
      for (int d : {0x41, 0x80, 0xbf}) v.push_back({(char)a, (char)b, (char)0x80, (char)d});
  std::string r = randombytes(6 * 5000, 12);
  for (size_t k = 0; k < r.size(); k += 6) {
    std::string s;
    for (size_t m = 0; m < 6; m++) {
      uint8_t x = (uint8_t)r[k + m];
      s += (char)(x < 0x30 ? 0x61 : x < 0x50 ? 0x80 + (x & 0x3f) : x | 0x80);
    }
    v.push_back(s);
  }
  return v;
}

static std::string hexof(const std::string &s) {
  std::string r;
  for (unsigned char ch : s) {
    char h[3];
    snprintf(h, sizeof h, "%02x", ch);
    r += h;
  }
  return r;
}

TEST(utf8name, AgreesWithAStrictDecoder) {
  std::vector<std::string> v = utf8cases();
  std::string dir = maketempdir(), hex;
  for (auto &s : v) hex += hexof(s) + "\n";
  writefile(dir + "/names", hex);
  writefile(dir + "/judge.py",
            "import sys\n"
            "for line in open(sys.argv[1]):\n"
            "    b = bytes.fromhex(line.strip())\n"
            "    try:\n"
            "        b.decode('utf-8', 'strict')\n"
            "        print(1 if any(x > 127 for x in b) else 0)\n"
            "    except UnicodeDecodeError:\n"
            "        print(0)\n");
  runresult r = runshell(dir, "python3 judge.py names");
  removetree(dir);
  ASSERT_EQ(0, r.status) << r.out;
  ASSERT_EQ(2 * v.size(), r.out.size());
  size_t wrong = 0;
  for (size_t k = 0; k < v.size(); k++) {
    int32_t want = r.out[2 * k] - '0';
    if (isutf8name(v[k].c_str()) != want && ++wrong <= 10) ADD_FAILURE() << "case " << k << ": " << hexof(v[k]);
  }
  EXPECT_EQ(0u, wrong);
}

TEST_F(records, MoreThan65535FilesEndTheRun) {
  writefile(archive, "an archive from an earlier run");
  repeatentry(addentry("empty", ""), 65535);
  childresult r = inchild([&] {
    if (!voopen(archive.c_str())) _exit(3);
    zipoutfinish();
  });
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("Error: more than 65535 files for one archive\n", r.out);
  EXPECT_EQ((std::vector<std::string>{"empty", "test.zip"}), listdir(dir));
  EXPECT_EQ("an archive from an earlier run", readfile(archive));
}

TEST_F(records, Exactly65535FilesAndADirectoryFit) {
  int32_t i = addentry("empty", "");
  addentry("sub", "", 0x30);
  repeatentry(i, 65534);
  ASSERT_EQ(1, voopen(archive.c_str()));
  FILE *f = openentry(i);
  for (int32_t k = 0; k < numfiles; k++) {
    if (zfil[k].attr & 16) continue;
    zfil[k].headoff = votell();
    zipbuf[0] = 0;
    storefile(k, f);
  }
  fclose(f);
  zipoutfinish();

  std::string b = readfile(archive);
  EXPECT_EQ(65535u, le16(b, b.size() - 22 + 10));
  std::vector<std::pair<std::string, std::string>> want;
  for (int32_t k = 0; k < numfiles; k++)
    if (!(zfil[k].attr & 16)) want.push_back({entries[(size_t)k].name, ""});
  EXPECT_EQ("", checkinflate(b, want));
  runresult u = runshell(dir, "unzip -tq test.zip");
  EXPECT_EQ(0, u.status) << u.out;
  runresult p = runshell(dir,
                         "python3 -c \"import zipfile; z = zipfile.ZipFile('test.zip'); "
                         "assert z.testzip() is None; print(len(z.infolist()))\"");
  EXPECT_EQ("65535\n", p.out);
}
