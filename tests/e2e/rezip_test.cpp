// -z on other tools' archives: every field kept but sizes, offsets and bits;
// unsafe archives refused untouched.
#include <sys/stat.h>

#include "e2e.h"

namespace {

class Rezip : public E2E {
 protected:
  const namedata contents = {{"a.txt", textbytes(20000, 1)}, {"b.bin", randombytes(3000, 2)}, {"d/", ""},
                             {"d/c.txt", textbytes(5000, 3)}, {"empty", ""}};
  void SetUp() override {
    for (auto &[name, data] : contents)
      if (name.back() != '/') put(name, data);
  }
};

TEST_F(Rezip, ArchivesOfOtherToolsKeepEverythingButTheirSize) {
  const char *stream = "python3 -c \"import sys, zipfile\nwith zipfile.ZipFile(sys.stdout.buffer, 'w') as z:\n"
                       " for k, n in enumerate(['a.txt', 'b.bin', 'd/c.txt', 'empty']):\n"
                       "  i = zipfile.ZipInfo(n, (2001, 2, 3, 4, 5, 6)); i.compress_type = 8 * (n != 'b.bin')\n"
                       "  i.comment = b'entry %d' % k; z.writestr(i, open(n, 'rb').read())\n"
                       " z.comment = b'made by zipfile'\" | cat >";
  const std::vector<std::pair<std::string, std::string>> tools = {
      {"zip.zip", "zip -q -9 -r zip.zip a.txt b.bin d empty && echo comment | zip -qz zip.zip"},
      {"stream.zip", std::string(stream) + " stream.zip"},
      {"7z.zip", "7zz a -tzip -mx=9 7z.zip a.txt b.bin d empty >/dev/null"},
      {"tar.zip", "bsdtar -a -cf tar.zip a.txt b.bin d empty"}};
  std::vector<std::string> args = {"-z", "-j3"};
  for (auto &[name, make] : tools) {
    ASSERT_EQ(runshell(dir, make).status, 0) << make;
    args.push_back(name);
  }
  std::map<std::string, std::string> before;
  for (auto &t : tools) before[t.first] = readfile(path(t.first));
  runresult r = run(args);
  ASSERT_EQ(r.status, 0) << r.out;
  for (auto &[name, make] : tools) {
    SCOPED_TRACE(name);
    bool ok1, ok2;
    std::string c1, c2, after = readfile(path(name));
    auto was = parsezip(before[name], &ok1, &c1), now = parsezip(after, &ok2, &c2);
    ASSERT_TRUE(ok1 && ok2 && was.size() == now.size());
    EXPECT_LE(after.size(), before[name].size());
    EXPECT_EQ(c1, c2);
    namedata want;
    for (size_t k = 0; k < was.size(); k++) {
      const zipentry &x = was[k], &y = now[k];
      SCOPED_TRACE(x.name);
      EXPECT_EQ(std::tie(x.name, x.made, x.time, x.date, x.intattr, x.extattr, x.extra, x.lextra, x.comment, x.crc, x.usize),
                std::tie(y.name, y.made, y.time, y.date, y.intattr, y.extattr, y.extra, y.lextra, y.comment, y.crc, y.usize));
      EXPECT_EQ(x.method, y.method);   // stored stays stored
      EXPECT_EQ(x.flags & ~0xe, y.flags & ~0xe);
      EXPECT_LE(y.csize, x.csize);
      for (auto &c : contents)
        if (c.first == x.name) want.push_back(c);
    }
    EXPECT_EQ(checkreaders(path(name), want), "");
  }
  EXPECT_NE(r.out.find("Optimizing ZIP: zip.zip\n  Entry: a.txt"), std::string::npos) << r.out;
  // Nothing smaller a second time: the archive is not touched at all.
  struct stat st0, st1;
  stat(path("zip.zip").c_str(), &st0);
  std::string once = readfile(path("zip.zip"));
  r = run({"-z", "zip.zip"});
  stat(path("zip.zip").c_str(), &st1);
  EXPECT_EQ(std::make_pair(r.status, once), std::make_pair(0, readfile(path("zip.zip"))));
  EXPECT_EQ(st0.st_mtim.tv_nsec, st1.st_mtim.tv_nsec);
  EXPECT_NE(r.out.find(", unchanged\n"), std::string::npos) << r.out;
  // -zs codes the stored entries too.
  EXPECT_EQ(run({"-zs", "-q", "tar.zip"}).status, 0);
  EXPECT_EQ(entries("tar.zip")[0].method, 8);
}

// Damaged or unsafe: exit 1, the reason, the file as it was, no temporary file.
TEST_F(Rezip, RefusedArchivesStayAsTheyWere) {
  ASSERT_EQ(runshell(dir, "zip -q -9 good.zip a.txt d/c.txt && cp good.zip ok.zip && "
                          "{ echo stub; cat good.zip; } >sfx.zip && zip -qA sfx.zip").status, 0);
  const std::string good = readfile(path("good.zip"));
  const size_t end = good.size() - 22, cd = le32(good, end + 16);   // no archive comment
  auto flip = [](std::string s, size_t at) { return s[at] ^= 1, s; };
  // One refusal of the reader, one of an entry, one of a stub before the
  // entries; every reason has its case in the reader's own tests.
  const std::vector<std::tuple<std::string, std::string, std::string>> bad = {
      {"truncated.zip", good.substr(0, good.size() - 5), "truncated"}, {"crc.zip", flip(good, cd - 5), "d/c.txt"},
      {"sfx.zip", readfile(path("sfx.zip")), "before the first entry"}};
  std::vector<std::string> args = {"-z"};
  for (auto &[name, data, reason] : bad) put(name, data), args.push_back(name);
  args.push_back("ok.zip");
  runresult r = run(args);
  EXPECT_EQ(r.status, 1);
  for (auto &[name, data, reason] : bad) {
    EXPECT_EQ(readfile(path(name)), data) << name;
    size_t line = r.err.find("Error: " + name + ": ");
    ASSERT_NE(line, std::string::npos) << name << r.err;
    EXPECT_NE(r.err.substr(line, r.err.find('\n', line) - line).find(reason), std::string::npos) << name << r.err;
  }
  EXPECT_LT(readfile(path("ok.zip")).size(), good.size());   // processed all the same
  for (auto &n : listdir()) EXPECT_NE(n.rfind(".vorpak", 0), 0u) << n;
}

}  // namespace
