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

// Runs f with standard input taken from fd (closed when fd is -1).
template <class F>
void withstdin(int fd, F f) {
  int saved = dup(0);
  if (fd >= 0) dup2(fd, 0);
  else close(0);
  f();
  dup2(saved, 0);
  close(saved);
}

TEST(Console, KeysFromAPipeOrNoInput) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const unsigned char keys[] = {'y', 10, 13, 0xE9, 0xFF, 3, 0, 27};
  ASSERT_EQ(write(fds[1], keys, sizeof keys), (ssize_t)sizeof keys);
  close(fds[1]);
  std::vector<int> got;
  withstdin(fds[0], [&] {
    for (size_t k = 0; k < sizeof keys + 1; k++) got.push_back(getch());
  });
  close(fds[0]);
  withstdin(-1, [&] { got.push_back(getch()); });
  // Line feed reads as Enter; bytes from 0x80 as negative; no input as Escape.
  EXPECT_EQ(got, (std::vector<int>{'y', 13, 13, -23, -1, 3, 0, 27, 27, 27}));
  FILE *saved = messagestream;
  messagestream = nullptr;
  EXPECT_EQ(myprintf("%s", "nothing"), 0);
  messagestream = saved;
}

TEST(Console, RawKeyFromATerminalAndTheTerminalRestored) {
  int master, slave;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) GTEST_SKIP() << "no pseudo-terminal";
  termios before;
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  before.c_lflag |= ICANON | ECHO | ISIG;
  before.c_cc[VMIN] = 4;
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);
  termios seen{};
  // The interrupt byte and a lone key arrive without Enter, unechoed.
  std::thread presser([&] {
    while (tcgetattr(slave, &seen) != 0 || (seen.c_lflag & ICANON)) sched_yield();
    if (write(master, "\x03q", 2) != 2) abort();
  });
  int first = 0, second = 0;
  withstdin(slave, [&] {
    first = getch();
    second = getch();
  });
  presser.join();
  EXPECT_EQ(std::make_pair(first, second), std::make_pair(3, (int)'q'));
  EXPECT_EQ(seen.c_lflag, before.c_lflag & ~(tcflag_t)(ICANON | ECHO | ISIG));
  EXPECT_EQ(std::make_pair((int)seen.c_cc[VMIN], (int)seen.c_cc[VTIME]), std::make_pair(1, 0));
  pollfd p = {master, POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 0);   // nothing echoed
  termios after;
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_cc[VMIN], 4);
  close(slave);
  close(master);
}

}  // namespace
