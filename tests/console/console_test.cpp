// The one raw key, read from a pipe or from nothing (the question before
// replacing an archive is answered from a terminal in the end-to-end tests).
#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "console/console.h"

namespace {

// Keys read with standard input taken from fd (closed when fd is -1).
std::vector<int> keys(int fd, size_t n) {
  int saved = dup(0);
  if (fd >= 0) dup2(fd, 0);
  else close(0);
  std::vector<int> got;
  while (got.size() < n) got.push_back(getch());
  dup2(saved, 0);
  close(saved);
  return got;
}

TEST(Console, KeysFromAPipeOrNoInput) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "y\n\r\xe9\xff\x03\x00\x1b", 8), 8);
  close(fds[1]);
  // Line feed reads as Enter; bytes from 0x80 as negative; no input as Escape.
  EXPECT_EQ(keys(fds[0], 9), (std::vector<int>{'y', 13, 13, -23, -1, 3, 0, 27, 27}));
  EXPECT_EQ(keys(-1, 1), std::vector<int>{27});
  close(fds[0]);
  FILE *saved = messagestream;
  messagestream = nullptr;
  EXPECT_EQ(myprintf("%s", "nothing"), 0);
  messagestream = saved;
}

}  // namespace
