// The archive file: the ring and its writes, seeks and truncation, the
// temporary file renamed over the archive, and the failures that end a run
// without destroying anything.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "console/console.h"
#include "testsupport.h"
#include "ziptest.h"

using archivefile = ziptest;
using writes = std::vector<hookedwrite>;
static const std::string old = "an archive from an earlier run";

static void putall(const std::string &s) { vowrite(s.data(), (int32_t)s.size()); }

TEST_F(archivefile, FullRingIsWrittenOnceByItsLastByte) {
  std::string data = randombytes(vobufsiz, 1), a = randombytes(10, 4), b = randombytes(5, 5);
  ASSERT_EQ(1, voopen(archive.c_str()));
  putall(data.substr(0, vobufsiz - 1));
  EXPECT_TRUE(hookwrites.empty());
  voputc((uint8_t)data.back());
  EXPECT_EQ((writes{{0, vobufsiz}}), hookwrites);
  EXPECT_EQ(vobufsiz, vobufpos0);
  EXPECT_EQ(vobufsiz, vobufpos1);
  // A seek to the current position only flushes.
  putall(a);
  voseek(vobufsiz + 10);
  EXPECT_EQ((writes{{0, vobufsiz}, {vobufsiz, 10}}), hookwrites);
  EXPECT_EQ(vobufsiz + 10, vobufpos0);
  EXPECT_EQ(vobufsiz + 10, votell());
  putall(b);
  voclose();
  EXPECT_EQ(3u, hookwrites.size());
  EXPECT_EQ(data + a + b, readfile(archive));
}

TEST_F(archivefile, FlushAcrossRingEndWritesInPositionOrder) {
  // Pending bytes from just below the ring size up across it, flushed by a seek.
  std::string a = randombytes(3000, 2), b = randombytes(vobufsiz, 3);
  const int32_t start = vobufsiz - 1000;
  ASSERT_EQ(1, voopen(archive.c_str()));
  voseek(start);
  putall(a);
  EXPECT_TRUE(hookwrites.empty());
  voseek(start + 3000);
  EXPECT_EQ((writes{{start, 1000}, {vobufsiz, 2000}}), hookwrites);
  // A full ring from an unaligned position, flushed by its last byte.
  hookwrites.clear();
  voseek(5);
  putall(b);
  EXPECT_EQ((writes{{5, vobufsiz - 5}, {vobufsiz, 5}}), hookwrites);
  voseek(start + 3000);
  voclose();
  std::string want = std::string(5, '\0') + b;
  EXPECT_EQ(want + a.substr(want.size() - start), readfile(archive));
}

TEST_F(archivefile, TemporaryBesideTheArchiveIsRenamedOverItAndCutAtClose) {
  // A rewrite shorter than a first attempt that is partly in the file
  // already; and a seek to 0 before the close, which leaves an empty archive.
  struct { mode_t mask; size_t first; int32_t at; size_t second; } cases[] = {
      {002, vobufsiz + vobufsiz / 2, 100, 50}, {077, 3000, 0, 0}};
  // Without a directory, or room for the temporary's name, nothing is opened.
  EXPECT_EQ(0, voopen((dir + "/missing/test.zip").c_str()));
  EXPECT_EQ(0, voopen((dir + "/" + std::string(sizeof votmpnam, 'n')).c_str()));
  EXPECT_EQ(nullptr, fatalcleanup);
  EXPECT_TRUE(listdir(dir).empty());
  for (auto c : cases) {
    writefile(archive, old);
    mode_t saved = umask(c.mask);
    int32_t opened = voopen(archive.c_str());
    umask(saved);
    ASSERT_EQ(1, opened);
    // The temporary file lies beside the archive.
    std::vector<std::string> names = listdir(dir);
    ASSERT_EQ(2u, names.size());
    EXPECT_EQ("test.zip", names[1]);
    EXPECT_EQ(0u, names[0].find(".vorpak")) << names[0];
    EXPECT_EQ(dir + "/" + names[0], std::string(votmpnam));
    std::string a = randombytes(c.first, 6), b = randombytes(c.second, 7);
    putall(a);
    voseek(c.at);
    EXPECT_FALSE(hookwrites.empty());
    EXPECT_EQ(old, readfile(archive));
    putall(b);
    voclose();
    EXPECT_EQ(c.at + (int32_t)c.second, vobufpos1);
    EXPECT_EQ(a.substr(0, (size_t)c.at) + b, readfile(archive));
    EXPECT_EQ(std::vector<std::string>{"test.zip"}, listdir(dir));
    struct stat st;
    ASSERT_EQ(0, stat(archive.c_str(), &st));
    EXPECT_EQ(0666 & ~c.mask, st.st_mode & 0777);
    EXPECT_EQ(nullptr, fatalcleanup);
  }
}

TEST_F(archivefile, PartialAndInterruptedWritesAreCompleted) {
  hookmaxwrite = 777;
  hookeintr = 5;
  std::string data = randombytes(2 * vobufsiz + vobufsiz / 2, 10), patch = randombytes(12, 11);
  ASSERT_EQ(1, voopen(archive.c_str()));
  putall(data);
  voseek(1000);
  putall(patch);
  voseek((int32_t)data.size());
  voclose();
  data.replace(1000, 12, patch);
  EXPECT_EQ(data, readfile(archive));
  EXPECT_EQ(0, hookeintr);
  EXPECT_GT(hookwrites.size(), data.size() / 777);
}

TEST_F(archivefile, FailureEndsTheRunAndDestroysNothing) {
  const std::string unwritable = "Error: " + archive + " could not be written\n";
  struct failcase {
    const char *what;
    hookfailure fail;
    rlim_t limit;     // RLIMIT_FSIZE, 0 for none
    int32_t start, size;
    std::string msg;
  };
  const failcase cases[] = {
      {"write", hookfailwrite, 0, 0, 5000, unwritable},
      {"lseek", hookfaillseek, 0, 0, 5000, unwritable},
      {"ftruncate", hookfailftruncate, 0, 0, 5000, unwritable},
      {"close", hookfailclose, 0, 0, 5000, unwritable},
      // The size limit strikes in the flush at close, and in the flush of a full ring.
      {"limit at close", hookfailnone, 100000, 0, 300000, unwritable},
      {"limit in the ring", hookfailnone, 100000, 0, 2 * vobufsiz, unwritable},
      {"past 2 GiB", hookfailnone, 0, vomaxpos - 10, 11,
       "Error: " + archive + " would reach 2 GiB, more than a ZIP archive without extensions can hold\n"},
      // Last: a directory of the archive's name, which the file cannot replace.
      {"rename", hookfailnone, 0, 0, 5000, unwritable}};
  for (const failcase &c : cases) {
    SCOPED_TRACE(c.what);
    std::string keep = archive;
    if (c.what == std::string("rename")) {
      ASSERT_EQ(0, unlink(archive.c_str()));
      ASSERT_EQ(0, mkdir(archive.c_str(), 0755));
      keep += "/keep";
    }
    writefile(keep, old);
    runresult r = inchild([&] {
      rlimit lim{c.limit, c.limit};
      if (c.limit) setrlimit(RLIMIT_FSIZE, &lim), signal(SIGXFSZ, SIG_IGN);
      if (!voopen(archive.c_str())) _exit(3);
      hookfail = c.fail;
      voseek(c.start);
      putall(randombytes((size_t)c.size, 12));
      voclose();
    });
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(c.msg, r.out);
    EXPECT_EQ(std::vector<std::string>{"test.zip"}, listdir(dir));
    EXPECT_EQ(old, readfile(keep));
  }
}

TEST_F(archivefile, SignalWhileWritingRemovesTheTemporary) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    writefile(archive, old);
    runresult r = inchild([&] {
      if (!voopen(archive.c_str())) _exit(3);
      putall(randombytes(5000, 15));
      voseek(100);
      if (listdir(dir).size() != 2) _exit(4);   // the temporary file exists while writing
      raise(sig);
    });
    EXPECT_EQ(128 + sig, r.status);
    EXPECT_EQ(std::vector<std::string>{"test.zip"}, listdir(dir));
    EXPECT_EQ(old, readfile(archive));
  }
}

TEST_F(archivefile, PositionAtTheLimitIsWritten) {
  std::string tail = randombytes(10, 17);
  ASSERT_EQ(1, voopen(archive.c_str()));
  voseek(vomaxpos - 10);   // the file stays sparse below this
  putall(tail);
  voclose();
  FILE *f = fopen(archive.c_str(), "rb");
  ASSERT_NE(nullptr, f);
  char got[11];
  ASSERT_EQ(0, fseeko(f, vomaxpos - 10, SEEK_SET));
  EXPECT_EQ(10u, fread(got, 1, 11, f));   // and ends right behind it
  fclose(f);
  EXPECT_EQ(tail, std::string(got, 10));
  unlink(archive.c_str());
}

TEST(byteorder, FieldsLieInMemoryLeastSignificantByteFirst) {
  uint32_t l = LSWAPIB(0x11223344u);
  uint16_t s = SSWAPIB(0xa1b2);
  EXPECT_EQ(0, memcmp(&l, "\x44\x33\x22\x11", 4));
  EXPECT_EQ(0, memcmp(&s, "\xb2\xa1", 2));
}
