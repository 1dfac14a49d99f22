// The sink holds, at every position, the byte written there last, whether
// it lives in memory or in a file behind a ring; it keeps its first failure
// and goes on counting positions. The memory source reads exactly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "stream/stream.h"
#include "testsupport.h"

namespace {

TEST(Sink, HoldsWhatWasWrittenLastAtEachPosition) {
  // Seeks back and forth, writes across the end of a 16-byte ring, a hole.
  const std::vector<std::pair<int64_t, std::string>> writes = {
      {0, randombytes(1000, 1)}, {100, "overwritten"}, {990, randombytes(40, 2)}, {5000, "after a hole"},
      {7, std::string(33, 'x')}, {1030, "x"}};
  std::string model;
  for (auto &[at, data] : writes) {
    if (model.size() < at + data.size()) model.resize(at + data.size(), '\0');
    model.replace((size_t)at, data.size(), data);
  }
  std::string dir = maketempdir();
  for (int32_t ringbits : {0, 4, 20}) {
    int fd = ringbits ? open((dir + "/f").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644) : -1;
    std::unique_ptr<bytesink> s(ringbits ? new bytesink(fd, ringbits) : new bytesink());
    for (auto &[at, data] : writes) {
      s->seek(at);
      s->write(data.data(), data.size());
      EXPECT_EQ(s->tell(), at + (int64_t)data.size());
    }
    s->flush();
    EXPECT_FALSE(s->failed());
    std::string got = ringbits ? readfile(dir + "/f") : std::string((const char *)s->bytes(), model.size());
    EXPECT_TRUE(got == model) << "ring of 2^" << ringbits;
    if (fd >= 0) close(fd);
  }
  removetree(dir);
}

TEST(Sink, KeepsItsFirstFailure) {
  int full = open("/dev/full", O_WRONLY), readonly = open("/dev/null", O_RDONLY), null = open("/dev/null", O_WRONLY);
  struct fcase {
    int fd;
    int64_t maxpos;
    int error;
  };
  const fcase cases[] = {{full, INT64_MAX, ENOSPC}, {readonly, INT64_MAX, EBADF}, {-1, 50, bytesink::toolarge},
                         {null, 50, bytesink::toolarge}, {-1, 100, 0}};
  for (auto &c : cases) {
    std::unique_ptr<bytesink> s(c.fd >= 0 ? new bytesink(c.fd, 4) : new bytesink());
    s->setmaxpos(c.maxpos);
    std::string data = randombytes(100, 3);
    s->write(data.data(), data.size());
    s->flush();
    s->write(data.data(), data.size());   // accepted and counted, never written
    EXPECT_EQ(s->error(), c.error) << c.fd << " " << c.maxpos;
    EXPECT_EQ(s->tell(), 200);
  }
  close(full);
  close(readonly);
  close(null);
}

TEST(Source, MemoryReadsExactlyAndRewinds) {
  const std::string data = "0123456789";
  memorysource in((const uint8_t *)data.data(), data.size());
  uint8_t buf[16];
  EXPECT_TRUE(in.read(buf, 4) && in.read(buf + 4, 6));
  EXPECT_EQ(std::string((char *)buf, 10), data);
  EXPECT_FALSE(in.read(buf, 1));
  EXPECT_TRUE(in.rewind() && in.read(buf, 10) && !in.read(buf, 11));
}

}  // namespace
