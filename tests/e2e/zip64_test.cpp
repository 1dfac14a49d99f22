// ZIP64: more than 65,535 entries, other tools' ZIP64 archives re-optimized,
// and (tests named Large, outside the quick run: several GB written) files
// and archives past 4 GiB, each read back by every reader.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "e2e.h"

namespace {

using Zip64 = E2E;

// unzip -t, 7zz t and Python's zipfile test every entry's CRC-32 and count
// them; bsdtar lists them. Python also checks, for each name given, that the
// entry holds size bytes of its byte.
std::string readersagree(const std::string &dir, const std::string &zip, size_t entries,
                         const std::vector<std::tuple<std::string, uint64_t, char>> &filled = {}) {
  std::string py = "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1]); assert z.testzip() is None\n"
                   "assert len(z.infolist()) == " + std::to_string(entries) + ", len(z.infolist())\n";
  for (auto &[name, size, byte] : filled)
    py += fmt("i = z.getinfo('%s'); assert i.file_size == %llu, i.file_size\n"
              "with z.open(i) as f:\n while (b := f.read(1 << 24)): assert b.count(%d) == len(b)\n",
              name.c_str(), (unsigned long long)size, byte);
  const std::string q = shq(zip), n = std::to_string(entries);
  runresult r = runshell(dir, "unzip -tqq " + q + " && 7zz t " + q + " | grep -q '^Files: " + n + "$' && test $(bsdtar -tf " + q +
                                  " | wc -l) = " + n + " && python3 -c " + shq(py) + " " + q + " && echo fine");
  return r.out == "fine\n" ? "" : r.out;
}

// 70,000 files: the end record's count holds its placeholder, the ZIP64 end
// record and locator carry the count; -u reads it back and reuses them all.
TEST_F(Zip64, SeventyThousandEntries) {
  ASSERT_EQ(runshell(dir, "mkdir d && cd d && seq -f %05g 0 69999 | xargs touch && printf x >00042").status, 0);
  ASSERT_EQ(run({"-q", "-r", "-s4", "many", "d"}).status, 0);
  const std::string zip = readfile(path("many.zip")), tail = zip.substr(zip.size() - 42);
  EXPECT_EQ(tail.substr(0, 4), "PK\6\7");                          // the locator
  EXPECT_EQ(std::make_pair(le16(tail, 28), le16(tail, 30)), std::make_pair(0xffffu, 0xffffu));   // the counts' placeholders
  EXPECT_EQ(readersagree(dir, "many.zip", 70000, {{"d/00042", 1, 'x'}}), "");
  runresult r = run({"-u", "-r", "-s4", "many", "d"});
  EXPECT_NE(r.out.find(", 0 coded, 70000 reused"), std::string::npos) << r.err;
}

// ZIP64 archives of Info-ZIP's zip (-fz, and streamed from a pipe) and of
// Python's zipfile (force_zip64): rewritten smaller, every field kept but
// the ZIP64 fields, which are needed no more.
TEST_F(Zip64, OtherToolsArchivesRezipped) {
  put("fields.c", corpusfile("fields.c"));
  put("d/xargs.1", corpusfile("xargs.1"));
  const std::string python = "import zipfile\nwith zipfile.ZipFile('py.zip', 'w') as z:\n"
                             " for n in ['fields.c', 'd/xargs.1']:\n"
                             "  i = zipfile.ZipInfo(n, (2001, 2, 3, 4, 5, 6)); i.compress_type = 8; i.comment = b'c ' + n.encode()\n"
                             "  i.extra = b'\\xfe\\xca\\x02\\x00ab'\n"
                             "  with z.open(i, 'w', force_zip64=True) as w: w.write(open(n, 'rb').read())\n"
                             " z.comment = b'made by zipfile'";
  ASSERT_EQ(runshell(dir, "zip -q -1 -fz -r fz.zip fields.c d && echo comment | zip -qz fz.zip && "
                          "zip -q -1 -fz - - <fields.c >stream.zip && python3 -c " + shq(python) + " && "
                          "for z in fz stream py; do cp $z.zip $z.old; done").status, 0);
  runresult r = run({"-z", "fz.zip", "stream.zip", "py.zip"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Entry by entry as Python reads them; extra fields without their ZIP64 field.
  const std::string compare =
      "import sys, zipfile\n"
      "def plain(x):\n"
      " out = b''\n"
      " while len(x) >= 4:\n"
      "  n = 4 + int.from_bytes(x[2:4], 'little')\n"
      "  out += x[:n] if x[:2] != b'\\x01\\x00' else b''; x = x[n:]\n"
      " return out + x\n"
      "for n in sys.argv[1:]:\n"
      " a, b = zipfile.ZipFile(n + '.old'), zipfile.ZipFile(n + '.zip'); assert b.testzip() is None and a.comment == b.comment\n"
      " assert len(a.infolist()) == len(b.infolist())\n"
      " for x, y in zip(a.infolist(), b.infolist()):\n"
      "  assert [x.filename, x.date_time, x.comment, x.external_attr, x.create_system, x.CRC, x.file_size, plain(x.extra)] == \\\n"
      "         [y.filename, y.date_time, y.comment, y.external_attr, y.create_system, y.CRC, y.file_size, y.extra], n\n"
      "  assert y.compress_size <= x.compress_size and a.read(x) == b.read(y)\n"
      "print('fine')";
  EXPECT_EQ(runshell(dir, "python3 -c " + shq(compare) + " fz stream py").out, "fine\n");
  for (const char *z : {"fz.zip", "stream.zip", "py.zip"}) EXPECT_EQ(readersagree(dir, z, z[0] == 'f' ? 3 : z[0] == 's' ? 1 : 2), "") << z;
}

// A file of 4.5 GiB stored (its local header carries its sizes in a ZIP64
// field from the start), and behind it more files at offsets past 4 GiB.
TEST_F(Zip64, LargeFilesAndOffsetsStored) {
  const uint64_t big = (uint64_t)9 << 29;
  for (auto [name, size] : {std::pair{"big", big}, {"second", (uint64_t)3 << 30}}) {
    put(name, "");
    std::filesystem::resize_file(path(name), size);   // sparse: nothing written
  }
  put("small", "small");
  ASSERT_EQ(run({"-q", "-s4", "large", "big", "small", "second"}).status, 0);
  EXPECT_GT(std::filesystem::file_size(path("large.zip")), (uint64_t)7 << 30);
  EXPECT_EQ(readersagree(dir, "large.zip", 3, {{"big", big, 0}, {"second", (uint64_t)3 << 30, 0}}), "");
  std::filesystem::remove(path("large.zip"));
}

// A file of 4.5 GiB coded (Huffman Only): the encoder past 2 and 4 GiB, its
// sizes in the local header's ZIP64 field.
TEST_F(Zip64, LargeFileCoded) {
  const uint64_t big = ((uint64_t)9 << 29) + 1;
  put("big", "");
  std::filesystem::resize_file(path("big"), big);   // sparse: nothing written
  ASSERT_EQ(run({"-q", "-s3", "large", "big"}).status, 0);
  EXPECT_EQ(readersagree(dir, "large.zip", 1, {{"big", big, 0}}), "");
  std::filesystem::remove(path("large.zip"));
}

}  // namespace
