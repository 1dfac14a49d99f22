// The archive reader on other tools' archives and on damaged copies.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "testsupport.h"
#include "zipin/zipin.h"

namespace {

// Writes to a pipe: data descriptors, entry comments, an archive comment.
const char *streampy = R"(
import sys, zipfile
with zipfile.ZipFile(sys.stdout.buffer, 'w') as z:
    for k, n in enumerate(('a.txt', 'b.bin', 'empty', 'd/c.txt')):
        i = zipfile.ZipInfo(n, (2001, 2, 3, 4, 5, 6 + 2 * k))
        i.compress_type, i.comment = 8 * (n != 'b.bin'), b'entry %d' % k
        z.writestr(i, open(n, 'rb').read())
    z.comment = b'made by zipfile'
)";

// A temporary directory holding the inputs that every tool archives.
struct ZipIn : ::testing::Test {
  std::string dir = maketempdir();
  std::map<std::string, std::string> files = {{"a.txt", textbytes(20000, 1)}, {"b.bin", randombytes(3000, 2)},
                                              {"empty", ""}, {"d/", ""}, {"d/c.txt", textbytes(5000, 3)},
                                              {"-", textbytes(20000, 1)}};   // a.txt streamed by zip
  void SetUp() override {
    runshell(dir, "mkdir d");
    for (auto &[name, data] : files)
      if (name.back() != '/') writefile(dir + "/" + name, data);
    writefile(dir + "/stream.py", streampy);
  }
  void TearDown() override { removetree(dir); }
  zipinarchive a;
  std::string error;
  std::vector<uint8_t> out;
  bool read(const std::string &z) { return readarchive((const uint8_t *)z.data(), z.size(), a, error); }
  bool extract(const std::string &z, size_t k) {
    return extractentry((const uint8_t *)z.data(), z.size(), a.entries.at(k), out, error);
  }
  std::string make(const std::string &command) {
    runresult r = runshell(dir, "rm -f z.zip; " + command);
    EXPECT_EQ(r.status, 0) << command << "\n" << r.out;
    return readfile(dir + "/z.zip");
  }
};

// An archive under surgery: of the base archive (a.txt stored, d/c.txt
// deflated) it knows where the records lie.
struct patient {
  std::string s;
  size_t end = s.rfind("PK\x05\x06"), cd = le32(s, end + 16);
  size_t local[2] = {0, 35 + 20000}, central[2] = {cd, cd + 51};
  void put(size_t at, uint32_t v, int width = 4) { for (int k = 0; k < width; k++) s[at + k] = (char)(v >> 8 * k); }
  // A field of entry k in both headers: the central header has it 2 bytes later.
  void both(int k, size_t at, uint32_t v, int w = 4) { put(local[k] + at, v, w), put(central[k] + at + 2, v, w); }
  // Zero bytes go in at at (or bytes out before it); the records behind it move.
  void shift(int delta, size_t at) {
    delta > 0 ? (void)s.insert(at, delta, '\0') : (void)s.erase(at + delta, -delta);
    for (size_t *moved : {&cd, &central[0], &central[1], &end}) *moved += *moved >= at ? delta : 0;
    put(end + 16, cd);
  }
};

// Python's zipfile on a file, so without data descriptors, and on a pipe.
const char *base = "python3 -c \"import zipfile; z = zipfile.ZipFile('z.zip', 'w'); z.write('a.txt'); "
                   "z.write('d/c.txt', compress_type=8); z.close()\"";
const char *stream = "python3 stream.py | cat >z.zip";
constexpr int accepted = -2, refused = -1;
#define CUT(surgery) []([[maybe_unused]] patient &p) { surgery; }
// An archive made by a tool, then changed by a surgery.
struct archivecase {
  const char *name, *make;
  std::function<void(patient &)> cut;
  int entry;             // accepted; refused by readarchive; or the entry that extractentry refuses
  const char *because;   // what the message must name
  int sevenzipfails;     // 1 when 7-Zip's test objects too (where it does not, the refusal is policy)
};
const archivecase cases[] = {
    {"PythonPlain", base, CUT(), accepted, "", 0},
    {"PythonUnsignedDescriptor", stream, CUT(p.shift(-4, p.cd - 12)), accepted, "", 0},
    {"Truncated", base, CUT(p.s.resize(p.s.size() - 10)), refused, "truncated", 1},
    {"TrailingGarbage", base, CUT(p.s += "garbage"), refused, "after the end", 0},
    {"SecondEndRecordInComment", base, CUT(p.s += p.s.substr(p.end); p.put(p.end + 20, 22, 2)), refused, "second", 0},
    {"Zip64ByInfoZip", "zip -q -fz z.zip a.txt d", CUT(), accepted, "", 0},
    {"Zip64StreamedByInfoZip", "cat a.txt | zip -q - - >z.zip", CUT(), accepted, "", 0},
    {"Zip64LocalFieldTooShort", base, CUT(p.shift(4, p.local[1] + 37); p.s[p.local[1] + 37] = 1; p.put(p.local[1] + 28, 4, 2)),
     refused, "ZIP64", 0},
    {"Zip64SizeWithoutField", base, CUT(p.put(p.central[1] + 24, 0xffffffff)), refused, "ZIP64", 1},
    {"Zip64EmptyFieldUnused", base, CUT(p.shift(4, p.end); p.s[p.end - 4] = 1; p.put(p.central[1] + 30, 4, 2);
                                         p.put(p.end + 12, p.end - p.cd)), accepted, "", 0},
    {"Zip64CountWithoutLocator", base, CUT(p.put(p.end + 10, 0xffff, 2)), refused, "locator", 1},
    {"Zip64EndRecordDisagrees", "zip -q -fz z.zip a.txt", CUT(p.put(p.end + 10, 2, 2)), refused, "disagree", 1},
    {"SecondDisk", base, CUT(p.put(p.end + 4, 1, 2)), refused, "disk", 1},
    {"SelfExtractor", "zip -q x.zip a.txt && cat stream.py x.zip >z.zip && zip -qA z.zip", CUT(), refused, "before", 0},
    {"GapBeforeCentral", base, CUT(p.shift(3, p.cd)), refused, "last entry", 0},
    {"JunkInCentralDirectory", base, CUT(p.shift(3, p.end); p.put(p.end + 12, p.end - p.cd)), refused, "more than", 1},
    {"CentralDirectoryMisplaced", base, CUT(p.put(p.end + 16, p.cd + 1)), refused, "offset and size", 1},
    {"Overlap", base, CUT(p.both(0, 18, 20004)), refused, "overlaps", 1},
    {"GapBetweenEntries", base, CUT(p.both(0, 18, 19996)), refused, "between entries", 1},
    {"LocalName", base, CUT(p.s[p.local[1] + 30] ^= 1), refused, "(name)", 0},
    {"LocalMethod", base, CUT(p.put(p.local[0] + 8, 8, 2)), refused, "(method)", 1},
    {"LocalVersionNeeded", base, CUT(p.put(p.local[0] + 4, 45, 2)), refused, "(version needed)", 0},
    {"LocalUtf8Flag", base, CUT(p.put(p.local[1] + 6, 0x800, 2)), refused, "(flags)", 0},
    {"LocalTime", base, CUT(p.s[p.local[0] + 10] ^= 1), refused, "(time)", 0},
    {"LocalCrcZero", base, CUT(p.put(p.local[1] + 14, 0)), refused, "(CRC-32)", 1},
    {"DescriptorDisagrees", stream, CUT(p.s[p.cd - 12] ^= 1), refused, "descriptor", 0},
    {"StoredByteFlipped", base, CUT(p.s[35] ^= 1), 0, "CRC", 1},
    {"StoredSizesDiffer", base, CUT(p.both(0, 22, 19999)), 0, "sizes differ", 1},
    {"Encrypted", base, CUT(p.both(0, 6, 1, 2)), 0, "encrypted", 1},
    {"OtherMethod", base, CUT(p.both(1, 8, 12, 2)), 1, "method 12", 1},
    {"DeflatedSizeOneMore", base, CUT(p.both(1, 22, 5001)), 1, "fewer bytes", 1},
    {"DeflatedSizeOneLess", base, CUT(p.both(1, 22, 4999)), 1, "more bytes", 1},
    {"DeflatedSizeImpossible", base, CUT(p.both(1, 22, 0x7fffffff)), 1, "could inflate", 1},
    {"DeflateDataCut", base, CUT(p.shift(-1, p.cd); p.both(1, 18, p.cd - p.local[1] - 37)), 1, "before the stream", 1},
    {"BytesBehindDeflateData", base, CUT(p.shift(1, p.cd); p.both(1, 18, p.cd - p.local[1] - 37)), 1, "behind", 1},
};

TEST_F(ZipIn, ReadsWhatToolsWriteAndRefusesDamage) {
  for (const archivecase &c : cases) {
    SCOPED_TRACE(c.name);
    patient p{make(c.make)};
    ASSERT_EQ(runshell(dir, "7zz t z.zip").status, 0) << "as the tool made it";
    c.cut(p);
    writefile(dir + "/z.zip", p.s);
    EXPECT_EQ(runshell(dir, "7zz t z.zip").status != 0, c.sevenzipfails == 1);
    ASSERT_EQ(read(p.s), c.entry != refused) << error;
    if (c.entry != accepted) {
      EXPECT_TRUE(c.entry < 0 || !extract(p.s, c.entry));
      EXPECT_NE(error.find(c.because), std::string::npos) << error;
      continue;
    }
    // Every entry's bytes (the fields are checked where -z rewrites).
    for (size_t k = 0; k < a.entries.size(); k++) {
      EXPECT_TRUE(extract(p.s, k)) << error;
      EXPECT_EQ(std::string(out.begin(), out.end()), files[a.entries[k].name]) << a.entries[k].name;
    }
  }
}

}  // namespace
