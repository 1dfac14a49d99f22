// Archives written record by record, read back by every reader: each field
// as the records were given it, the local header agreeing with the central
// one, extra fields and comments kept; the archive file appears under its
// name only when finished.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "deflate/deflate.h"
#include "stream/crc32.h"
#include "testsupport.h"
#include "zipout/zipout.h"

namespace {

size_t entriesin(const std::string &dir) {
  return (size_t)std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator());
}

TEST(Records, EveryFieldAsGivenAndEveryReaderAccepts) {
  const std::string utf8 = "\xc3\xbcn\xc3\xaf.txt", text = textbytes(20000, 1), noise = randombytes(3000, 2);
  std::string dir = maketempdir();
  archivefile a;
  ASSERT_TRUE(a.create(dir + "/a.zip"));
  bytesink &out = a.sink();
  std::vector<ziprecord> recs = {filerecord("plain.txt", 0x1234, 0x5678, 0x20), filerecord(utf8, 1, 33, 0x20),
                                 filerecord("kept.bin", 2, 34, 0x20)};
  // Deflated through the encoder, then patched.
  setmethod(recs[0], methoddeflated);
  writelocalheader(out, recs[0]);
  std::unique_ptr<encoder> enc(new encoder);
  memorysource in0((const uint8_t *)text.data(), text.size());
  encoderesult r = enc->compress(in0, (int64_t)text.size(), out, {}, nullptr);
  recs[0].crc = crcfinal(crcupdate(crcstart, (const uint8_t *)text.data(), text.size()));
  recs[0].compressed = (uint32_t)r.length;
  recs[0].size = (uint32_t)text.size();
  patchlocalheader(out, recs[0]);
  // Stored, one of them with extra fields and a comment as another tool
  // might have written them (the local and central extras differ).
  memorysource in1((const uint8_t *)noise.data(), noise.size()), in2((const uint8_t *)"kept", 4);
  ASSERT_TRUE(storeentry(out, recs[1], in1, (int64_t)noise.size()));
  recs[2].localextra = std::string("UT\x05\0\x03\x10\x20\x30\x40", 9);
  recs[2].centralextra = std::string("UT\x01\0\x03", 5);
  recs[2].comment = "an entry comment";
  recs[2].internalattr = 1;
  ziprecord shorter = recs[2];
  EXPECT_FALSE(storeentry(out, shorter, in2, 5));   // the source has 4 bytes
  out.seek(shorter.headoff);
  ASSERT_TRUE(storeentry(out, recs[2], in2, 4));
  ASSERT_TRUE(writecentraldirectory(out, recs, "the archive comment"));
  ASSERT_TRUE(a.finish());

  EXPECT_EQ(checkreaders(dir + "/a.zip", {{"plain.txt", text}, {utf8, noise}, {"kept.bin", "kept"}}), "");
  bool ok;
  std::string comment;
  auto e = parsezip(readfile(dir + "/a.zip"), &ok, &comment);
  ASSERT_TRUE(ok && e.size() == 3);
  EXPECT_EQ(comment, "the archive comment");
  const uint32_t made[] = {20, 0x314, 20}, flags[] = {2, 0x800, 0}, ext[] = {0x20, 0100644u << 16 | 0x20, 0x20};
  for (size_t k = 0; k < 3; k++) {
    EXPECT_EQ(std::make_tuple(e[k].made, e[k].flags, e[k].extattr), std::make_tuple(made[k], flags[k], ext[k])) << k;
    EXPECT_EQ(std::tie(e[k].lversion, e[k].lflags, e[k].lmethod, e[k].ltime, e[k].ldate, e[k].lcrc, e[k].lcsize, e[k].lusize),
              std::tie(e[k].version, e[k].flags, e[k].method, e[k].time, e[k].date, e[k].crc, e[k].csize, e[k].usize));
  }
  EXPECT_EQ(std::tie(e[0].time, e[0].date, e[0].method), std::make_tuple(0x1234, 0x5678, 8));
  EXPECT_EQ(std::tie(e[2].lextra, e[2].extra, e[2].comment, e[2].intattr),
            std::tie(recs[2].localextra, recs[2].centralextra, recs[2].comment, recs[2].internalattr));
  removetree(dir);
}

TEST(Records, Utf8NamesAndAtMost65535Entries) {
  const std::pair<const char *, bool> cases[] = {
      {"plain.txt", false}, {"\xc3\xbc", true}, {"\xe5\x90\x8d", true}, {"\xf0\x9f\x98\x80", true}, {"\xc0\xbc", false},
      {"\xe0\x80\xbc", false}, {"\xed\xa0\x80", false}, {"\xf4\x90\x80\x80", false}, {"\x80", false}, {"\xc3", false},
      {"a\xe5\x90", false}, {"\xf5\x80\x80\x80", false}};
  for (auto &[name, utf8] : cases) EXPECT_EQ(isutf8name(name), utf8) << ::testing::PrintToString(name);
  std::vector<ziprecord> recs(zipmaxentries);
  bytesink out;
  EXPECT_TRUE(writecentraldirectory(out, recs));
  recs.emplace_back();
  EXPECT_FALSE(writecentraldirectory(out, recs));
}

// A sink keeps its first failure and goes on counting positions; the
// archive's sink fails when it would pass what 32-bit offsets hold.
TEST(ArchiveFile, TooLargeIsKept) {
  bytesink s;
  s.setmaxpos(50);
  s.write(std::string(100, 'x').data(), 100);
  s.flush();
  s.write(std::string(100, 'y').data(), 100);
  EXPECT_EQ(std::make_pair(s.error(), s.tell()), std::make_pair(bytesink::toolarge, (int64_t)200));
}

TEST(ArchiveFile, AppearsOnlyWhenFinished) {
  std::string dir = maketempdir();
  writefile(dir + "/a.zip", "OLD");
  for (bool finish : {false, true}) {
    archivefile a;
    ASSERT_TRUE(a.create(dir + "/a.zip"));
    EXPECT_EQ(entriesin(dir), 2u);   // the archive and the temporary file
    a.sink().write("NEW, LONGER", 11);
    a.sink().seek(3);   // what lies behind the final position is cut off
    if (finish) ASSERT_TRUE(a.finish());
    else a.abort();
    EXPECT_EQ(entriesin(dir), 1u);
    EXPECT_EQ(readfile(dir + "/a.zip"), finish ? "NEW" : "OLD");
  }
  archivefile nodir;
  EXPECT_FALSE(nodir.create(dir + "/missing/a.zip"));
  removetree(dir);
}

}  // namespace
