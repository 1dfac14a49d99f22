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

class archivefile : public ziptest {
 protected:
  const std::string old = "an archive from an earlier run";

  std::string message(const char *what) { return "Error: " + archive + what; }

  // After a failed run: status 1, the one message, no temporary file left,
  // the earlier archive as it was.
  void expectnothingdestroyed(const childresult &r, const std::string &msg) {
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(msg, r.out);
    EXPECT_EQ(std::vector<std::string>{"test.zip"}, listdir(dir));
    EXPECT_EQ(old, readfile(archive));
  }
};

static void putall(const std::string &s) { vowrite(s.data(), (int32_t)s.size()); }

TEST_F(archivefile, FullRingIsWrittenOnceByItsLastByte) {
  std::string data = randombytes(vobufsiz, 1);
  ASSERT_EQ(1, voopen(archive.c_str()));
  for (int32_t k = 0; k < vobufsiz - 1; k++) voputc((uint8_t)data[k]);
  EXPECT_TRUE(hookwrites.empty());
  voputc((uint8_t)data[vobufsiz - 1]);
  ASSERT_EQ(1u, hookwrites.size());
  EXPECT_EQ(0, hookwrites[0].off);
  EXPECT_EQ(vobufsiz, hookwrites[0].n);
  EXPECT_EQ(vobufsiz, vobufpos0);
  EXPECT_EQ(vobufsiz, vobufpos1);
  voclose();
  EXPECT_EQ(1u, hookwrites.size());
  EXPECT_EQ(data, readfile(archive));
}

TEST_F(archivefile, FlushAcrossRingEndWritesInPositionOrder) {
  // Pending bytes from just below the ring size up across it, flushed by a seek.
  std::string a = randombytes(3000, 2);
  const int32_t start = vobufsiz - 1000;
  ASSERT_EQ(1, voopen(archive.c_str()));
  voseek(start);
  putall(a);
  EXPECT_TRUE(hookwrites.empty());
  voseek(start + 3000);
  ASSERT_EQ(2u, hookwrites.size());
  EXPECT_EQ(start, hookwrites[0].off);
  EXPECT_EQ(1000, hookwrites[0].n);
  EXPECT_EQ(vobufsiz, hookwrites[1].off);
  EXPECT_EQ(2000, hookwrites[1].n);

  // A full ring from an unaligned position, flushed by its last byte.
  std::string b = randombytes(vobufsiz, 3);
  hookwrites.clear();
  voseek(5);
  putall(b);
  ASSERT_EQ(2u, hookwrites.size());
  EXPECT_EQ(5, hookwrites[0].off);
  EXPECT_EQ(vobufsiz - 5, hookwrites[0].n);
  EXPECT_EQ(vobufsiz, hookwrites[1].off);
  EXPECT_EQ(5, hookwrites[1].n);
  voseek(start + 3000);
  voclose();

  std::string want = std::string(5, '\0') + b;
  want += a.substr(want.size() - start);
  EXPECT_EQ(want, readfile(archive));
}

TEST_F(archivefile, SeekToCurrentPositionOnlyFlushes) {
  std::string a = randombytes(10, 4), b = randombytes(5, 5);
  ASSERT_EQ(1, voopen(archive.c_str()));
  putall(a);
  voseek(10);
  ASSERT_EQ(1u, hookwrites.size());
  EXPECT_EQ(0, hookwrites[0].off);
  EXPECT_EQ(10, hookwrites[0].n);
  EXPECT_EQ(10, vobufpos0);
  EXPECT_EQ(10, votell());
  putall(b);
  voclose();
  EXPECT_EQ(a + b, readfile(archive));
}

TEST_F(archivefile, RewriteShorterThanBeforeIsCutAtClose) {
  // The first attempt is long enough that part of it is already in the file.
  std::string a = randombytes(vobufsiz + vobufsiz / 2, 6), b = randombytes(50, 7);
  ASSERT_EQ(1, voopen(archive.c_str()));
  putall(a);
  voseek(100);
  putall(b);
  voclose();
  EXPECT_EQ(150, vobufpos1);
  EXPECT_EQ(a.substr(0, 100) + b, readfile(archive));
}

TEST_F(archivefile, SeekToZeroAndCloseLeavesEmptyArchive) {
  writefile(archive, old);
  ASSERT_EQ(1, voopen(archive.c_str()));
  putall(randombytes(3000, 8));
  voseek(0);
  voclose();
  EXPECT_EQ(0, vobufpos1);
  EXPECT_TRUE(fileexists(archive));
  EXPECT_EQ("", readfile(archive));
  EXPECT_EQ(std::vector<std::string>{"test.zip"}, listdir(dir));
}

TEST_F(archivefile, EarlierArchiveIsUntouchedUntilTheRename) {
  for (mode_t mask : {022, 077}) {
    writefile(archive, old);
    mode_t saved = umask(mask);
    std::string data = randombytes(2 * vobufsiz + 17, 9);
    int32_t opened = voopen(archive.c_str());
    umask(saved);
    ASSERT_EQ(1, opened);

    // The temporary file lies beside the archive.
    std::vector<std::string> names = listdir(dir);
    ASSERT_EQ(2u, names.size());
    EXPECT_EQ("test.zip", names[1]);
    EXPECT_EQ(0u, names[0].find(".vorpak")) << names[0];
    EXPECT_EQ(dir + "/" + names[0], std::string(votmpnam));

    putall(data);
    EXPECT_FALSE(hookwrites.empty());
    EXPECT_EQ(old, readfile(archive));
    voclose();

    EXPECT_EQ(data, readfile(archive));
    EXPECT_EQ(std::vector<std::string>{"test.zip"}, listdir(dir));
    struct stat st;
    ASSERT_EQ(0, stat(archive.c_str(), &st));
    EXPECT_EQ(0666 & ~mask, st.st_mode & 0777);
    EXPECT_EQ(nullptr, fatalcleanup);
  }
}

TEST_F(archivefile, OpenFailsWhenNoTemporaryCanBeMade) {
  EXPECT_EQ(0, voopen((dir + "/missing/test.zip").c_str()));
  EXPECT_EQ(0, voopen((dir + "/" + std::string(sizeof votmpnam, 'n')).c_str()));
  EXPECT_EQ(nullptr, fatalcleanup);
  EXPECT_TRUE(listdir(dir).empty());
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

TEST_F(archivefile, FileSizeLimitEndsTheRun) {
  // The limit strikes in the flush at close, and in the flush of a full ring.
  for (int32_t size : {300000, 2 * vobufsiz}) {
    writefile(archive, old);
    childresult r = inchild([&] {
      rlimit lim{100000, 100000};
      setrlimit(RLIMIT_FSIZE, &lim);
      signal(SIGXFSZ, SIG_IGN);
      if (!voopen(archive.c_str())) _exit(3);
      putall(randombytes((size_t)size, 12));
      voclose();
    });
    expectnothingdestroyed(r, message(" could not be written\n"));
  }
}

TEST_F(archivefile, FailedSystemCallEndsTheRun) {
  for (hookfailure f : {hookfailwrite, hookfaillseek, hookfailftruncate, hookfailclose}) {
    writefile(archive, old);
    childresult r = inchild([&] {
      if (!voopen(archive.c_str())) _exit(3);
      hookfail = f;
      putall(randombytes(5000, 13));
      voclose();
    });
    SCOPED_TRACE(f);
    expectnothingdestroyed(r, message(" could not be written\n"));
  }
}

TEST_F(archivefile, FailedRenameEndsTheRun) {
  // A directory of the archive's name cannot be replaced by a file.
  ASSERT_EQ(0, mkdir(archive.c_str(), 0755));
  writefile(archive + "/keep", old);
  childresult r = inchild([&] {
    if (!voopen(archive.c_str())) _exit(3);
    putall(randombytes(5000, 14));
    voclose();
  });
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(message(" could not be written\n"), r.out);
  EXPECT_EQ(std::vector<std::string>{"test.zip"}, listdir(dir));
  EXPECT_EQ(old, readfile(archive + "/keep"));
}

TEST_F(archivefile, SignalWhileWritingRemovesTheTemporary) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    writefile(archive, old);
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    size_t seen = 0;
    childresult r = inchild(
        [&] {
          close(ready[0]);
          if (!voopen(archive.c_str())) _exit(3);
          putall(randombytes(5000, 15));
          voseek(100);
          char c = 1;
          if (write(ready[1], &c, 1) != 1) _exit(4);
          for (;;) pause();
        },
        [&](int pid) {
          close(ready[1]);
          char c;
          if (read(ready[0], &c, 1) == 1) seen = listdir(dir).size();
          kill(pid, sig);
        });
    close(ready[0]);
    SCOPED_TRACE(sig);
    EXPECT_EQ(2u, seen);   // the temporary file existed while the run was writing
    EXPECT_EQ(128 + sig, r.status);
    EXPECT_EQ(std::vector<std::string>{"test.zip"}, listdir(dir));
    EXPECT_EQ(old, readfile(archive));
  }
}

TEST_F(archivefile, PositionPastTheLimitEndsTheRun) {
  writefile(archive, old);
  childresult r = inchild([&] {
    if (!voopen(archive.c_str())) _exit(3);
    voseek(vomaxpos - 10);
    putall(randombytes(11, 16));
    voclose();
  });
  expectnothingdestroyed(
      r, message(" would reach 2 GiB, more than a ZIP archive without extensions can hold\n"));
}

TEST_F(archivefile, PositionAtTheLimitIsWritten) {
  std::string tail = randombytes(10, 17);
  ASSERT_EQ(1, voopen(archive.c_str()));
  voseek(vomaxpos - 10);   // the file stays sparse below this
  putall(tail);
  voclose();
  struct stat st;
  ASSERT_EQ(0, stat(archive.c_str(), &st));
  EXPECT_EQ(vomaxpos, st.st_size);
  FILE *f = fopen(archive.c_str(), "rb");
  ASSERT_NE(nullptr, f);
  char got[10];
  ASSERT_EQ(0, fseeko(f, vomaxpos - 10, SEEK_SET));
  ASSERT_EQ(10u, fread(got, 1, 10, f));
  fclose(f);
  EXPECT_EQ(tail, std::string(got, 10));
  unlink(archive.c_str());
}

TEST(byteorder, FieldsLieInMemoryLeastSignificantByteFirst) {
  uint32_t l = LSWAPIB(0x11223344u);
  uint16_t s = SSWAPIB(0xa1b2);
  uint8_t lb[4], sb[2];
  memcpy(lb, &l, 4);
  memcpy(sb, &s, 2);
  EXPECT_EQ(0x44, lb[0]);
  EXPECT_EQ(0x33, lb[1]);
  EXPECT_EQ(0x22, lb[2]);
  EXPECT_EQ(0x11, lb[3]);
  EXPECT_EQ(0xb2, sb[0]);
  EXPECT_EQ(0xa1, sb[1]);
}
