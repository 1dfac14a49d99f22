// --gzip: NAME.gz beside each file, read back by gzip, Python and zlib, with
// the header fields asked for; -z on other tools' .gz files keeps every byte
// but the Deflate data and refuses what it cannot read.
#include <sys/stat.h>
#include <utime.h>
#include <zlib.h>

#include <filesystem>
#include <map>

#include "e2e.h"

namespace {

using Gzip = E2E;

// The corpus files as the tests know them.
const char *const corpus[] = {"alice29.txt", "asyoulik.txt", "cp.html", "fields.c", "grammar.lsp", "kennedy.xls",
                              "lcet10.txt", "plrabn12.txt", "ptt5", "sum", "xargs.1"};

// gzip -t and -dc, Python's gzip and zlib (behind the header, skipped by
// its flags: extra field, name, comment, header CRC) all give back data; ""
// when they do.
std::string readback(const std::string &dir, const std::string &gz, const std::string &data) {
  std::string problems;
  const std::string g = readfile(dir + "/" + gz);
  size_t at = 10;
  const int flags = g.size() > 10 ? g[3] : 0;
  if (flags & 4) at += 2 + le16(g, 10);
  for (int f : {8, 16})
    if (flags & f) at = g.find('\0', at) + 1;
  if (flags & 2) at += 2;
  bool ok = false;
  const std::string inflated = at < g.size() ? inflateraw(g.substr(at, g.size() - at - 8), &ok) : "";
  if (!ok || inflated != data || le32(g, g.size() - 8) != crc32(0, (const Bytef *)data.data(), (uInt)data.size()))
    problems += "zlib\n";
  writefile(dir + "/want", data);
  runresult r = runshell(dir, "gzip -t " + shq(gz) + " && gzip -dc " + shq(gz) + " | cmp - want && python3 -c "
                              "'import gzip, sys; assert gzip.open(sys.argv[1]).read() == open(\"want\", \"rb\").read()' " + shq(gz));
  if (r.status != 0) problems += r.out;
  std::filesystem::remove(dir + "/want");
  return problems;
}

// Every corpus file comes back; the header holds the name and the time, or
// (--no-name) neither; SOURCE_DATE_EPOCH clamps the time; the .gz takes the
// file's mode and time; a .gz already there is only replaced after a yes, and
// a file that is a .gz already is skipped.
TEST_F(Gzip, EveryCorpusFileComesBack) {
  for (const char *n : corpus) put(n, corpusfile(n));
  std::vector<std::string> args = {"--gzip"};
  args.insert(args.end(), std::begin(corpus), std::end(corpus));
  runresult r = run(args);
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char *n : corpus) EXPECT_EQ(readback(dir, std::string(n) + ".gz", corpusfile(n)), "") << n;
  EXPECT_NE(r.out.find(totalsline(0, 0).substr(0, 33)), std::string::npos);
  // The header's fields.
  put("a.txt", textbytes(3000, 1));
  chmod(path("a.txt").c_str(), 0640);
  struct utimbuf t = {1234567890, 1234567890};
  utime(path("a.txt").c_str(), &t);
  const std::pair<std::vector<std::string>, std::string> headers[] = {
      {{"-g", "-y", "a.txt"}, std::string("\x1f\x8b\x08\x08\xd2\x02\x96\x49\x02\x03" "a.txt", 16)},
      {{"-g", "-y", "--no-name", "a.txt"}, std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03", 10)}};
  for (auto &[a, header] : headers) {
    ASSERT_EQ(run(a).status, 0);
    EXPECT_EQ(readfile(path("a.txt.gz")).substr(0, header.size()), header);
    EXPECT_EQ(readback(dir, "a.txt.gz", textbytes(3000, 1)), "");
  }
  struct stat st {};
  stat(path("a.txt.gz").c_str(), &st);
  EXPECT_EQ(std::make_pair(st.st_mode & 0777, (long)st.st_mtime), std::make_pair(0640u, 1234567890L));
  r = runshell(dir, "SOURCE_DATE_EPOCH=1000000000 " + shq(VORPAK_BIN) + " -q -y -g a.txt");
  EXPECT_EQ(le32(readfile(path("a.txt.gz")), 4), 1000000000u);
  // The question, then a .gz skipped.
  const std::string before = readfile(path("a.txt.gz"));
  r = run({"-g", "-s3", "a.txt", "a.txt.gz"}, "n");
  EXPECT_EQ(std::make_tuple(r.status, r.out, r.err, readfile(path("a.txt.gz"))),
            std::make_tuple(1, "  Skipping: a.txt.gz (already gzip)\na.txt.gz already exists. Overwrite? (y/n)\n",
                            "Operation cancelled.\n", before));
  ASSERT_EQ(run({"-g", "-s3", "a.txt"}, "y").status, 0);
  EXPECT_NE(readfile(path("a.txt.gz")), before);
  // Files of one name in two directories: each its own .gz.
  put("d/a.txt", "other");
  ASSERT_EQ(run({"-g", "-y", "a.txt", "d/a.txt"}).status, 0);
  EXPECT_EQ(readback(dir, "d/a.txt.gz", "other"), "");
}

// gzip -9, pigz and Python (with a name, a comment, an extra field and a
// header CRC): smaller, every byte but the Deflate data as it was. Damaged
// ones are refused and stay as they were.
TEST_F(Gzip, OtherToolsFilesRezipped) {
  put("t.txt", corpusfile("alice29.txt"));
  const std::string python =
      "import struct, zlib\n"
      "data = open('t.txt', 'rb').read(); c = zlib.compressobj(6, zlib.DEFLATED, -15)\n"
      "h = b'\\x1f\\x8b\\x08\\x1e' + struct.pack('<I', 1234567890) + b'\\x00\\x03' + b'\\x04\\x00AB\\x00\\x00' + b'name.txt\\x00' + b'a comment\\x00'\n"
      "h += struct.pack('<H', zlib.crc32(h) & 0xffff)\n"
      "open('py.gz', 'wb').write(h + c.compress(data) + c.flush() + struct.pack('<II', zlib.crc32(data), len(data)))";
  const std::vector<std::string> names = {"gzip.gz", "pigz.gz", "py.gz"};
  ASSERT_EQ(runshell(dir, "gzip -9 -c t.txt >gzip.gz && pigz -9 -c t.txt >pigz.gz && python3 -c " + shq(python)).status, 0);
  std::vector<std::string> args = {"-z"};
  std::map<std::string, std::string> was;
  for (auto &n : names) args.push_back(n), was[n] = readfile(path(n));
  runresult r = run(args);
  ASSERT_EQ(r.status, 0) << r.err;
  for (auto &n : names) {
    const std::string now = readfile(path(n)), old = was[n];
    ASSERT_LT(now.size(), old.size()) << n;
    const size_t header = n == "py.gz" ? 37 : 16;   // gzip's and pigz's: the name "t.txt" behind 10 fixed bytes
    EXPECT_EQ(now.substr(0, header), old.substr(0, header)) << n;
    EXPECT_EQ(now.substr(now.size() - 8), old.substr(old.size() - 8)) << n;
    EXPECT_EQ(readback(dir, n, corpusfile("alice29.txt")), "") << n;
  }
  // Refused untouched: cut short, a flipped byte, two members, bytes behind.
  const std::string good = readfile(path("gzip.gz"));
  std::string flipped = good;
  flipped[good.size() / 2] ^= 0x10;
  const std::pair<std::string, std::string> bad[] = {{good.substr(0, good.size() - 3), "truncated"},
                                                     {flipped, ""},
                                                     {good + good, "more than one member"},
                                                     {good + "junk", "bytes after"}};
  for (auto &[data, why] : bad) {
    put("bad.gz", data);
    r = run({"-z", "bad.gz"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error: bad.gz: " + why), std::string::npos) << r.err;
    EXPECT_TRUE(readfile(path("bad.gz")) == data);
  }
  for (auto &n : listdir()) EXPECT_NE(n.rfind(".vorpak", 0), 0u) << n;
}

}  // namespace
