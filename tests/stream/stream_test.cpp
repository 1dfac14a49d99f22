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
      {0, randombytes(1000, 1)}, {100, "overwritten"}, {990, randombytes(40, 2)}, {5000, "after a hole"}, {7, std::string(33, 'x')}};
  std::string model, dir = maketempdir();
  for (auto &[at, data] : writes) model.resize(std::max(model.size(), at + data.size()), '\0'), model.replace(at, data.size(), data);
  for (int32_t ringbits : {0, 4, 20}) {
    int fd = ringbits ? open((dir + "/f").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644) : -1;
    std::unique_ptr<bytesink> s(ringbits ? new bytesink(fd, ringbits) : new bytesink());
    for (auto &[at, data] : writes) s->seek(at), s->write(data.data(), data.size());
    s->flush();
    EXPECT_EQ(s->tell(), 40);
    EXPECT_TRUE((ringbits ? readfile(dir + "/f") : std::string((const char *)s->bytes(), model.size())) == model) << ringbits;
    if (fd >= 0) close(fd);
  }
  removetree(dir);
}

TEST(Sink, KeepsItsFirstFailure) {
  int full = open("/dev/full", O_WRONLY), readonly = open("/dev/null", O_RDONLY), null = open("/dev/null", O_WRONLY);
  const std::tuple<int, int64_t, int> cases[] = {
      {full, INT64_MAX, ENOSPC}, {readonly, INT64_MAX, EBADF}, {-1, 50, bytesink::toolarge}, {null, 50, bytesink::toolarge}, {-1, 100, 0}};
  for (auto &[fd, maxpos, error] : cases) {
    std::unique_ptr<bytesink> s(fd >= 0 ? new bytesink(fd, 4) : new bytesink());
    s->setmaxpos(maxpos);
    std::string data = randombytes(100, 3);
    s->write(data.data(), data.size());
    s->flush();
    s->write(data.data(), data.size());   // accepted and counted, never written
    EXPECT_EQ(std::make_pair(s->error(), s->tell()), std::make_pair(error, (int64_t)200)) << fd << " " << maxpos;
  }
  for (int fd : {full, readonly, null}) close(fd);
  const std::string data = "0123456789";
  memorysource in((const uint8_t *)data.data(), data.size());
  uint8_t buf[16];
  EXPECT_TRUE(in.read(buf, 4) && in.read(buf + 4, 6) && std::string((char *)buf, 10) == data && !in.read(buf, 1));
  EXPECT_TRUE(in.rewind() && in.read(buf, 10) && !in.read(buf, 11));
}

}  // namespace
