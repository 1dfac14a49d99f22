// The one raw key: read from a pipe, from nothing, or from a terminal put
// into raw mode for exactly one byte and restored afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

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

TEST(Console, RawKeyFromATerminalAndTheTerminalRestored) {
  int master, slave;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) GTEST_SKIP() << "no pseudo-terminal";
  termios before, seen{}, after;
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  before.c_lflag |= ICANON | ECHO | ISIG;
  before.c_cc[VMIN] = 4;
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);
  // The interrupt byte and a lone key arrive without Enter, unechoed.
  std::thread presser([&] {
    while (tcgetattr(slave, &seen) != 0 || (seen.c_lflag & ICANON)) sched_yield();
    if (write(master, "\x03q", 2) != 2) abort();
  });
  std::vector<int> got = keys(slave, 2);
  presser.join();
  EXPECT_EQ(got, (std::vector<int>{3, 'q'}));
  EXPECT_EQ(seen.c_lflag, before.c_lflag & ~(tcflag_t)(ICANON | ECHO | ISIG));
  EXPECT_EQ(std::make_pair((int)seen.c_cc[VMIN], (int)seen.c_cc[VTIME]), std::make_pair(1, 0));
  pollfd p = {master, POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 0);
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  EXPECT_EQ(std::make_pair(after.c_lflag, (int)after.c_cc[VMIN]), std::make_pair(before.c_lflag, 4));
  close(slave);
  close(master);
}

}  // namespace
