// Console: messages through myprintf, the end of a run through fatal, and
// the raw single key of getch on pipes, closed input and a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "console/console.h"
#include "testsupport.h"

namespace {

// Descriptor 0 is replaced by fd (closed when fd < 0) while body runs, then put back.
template <typename F>
void withstdin(int fd, F body) {
  int saved = dup(0);
  if (saved < 0) abort();
  if (fd >= 0) dup2(fd, 0);
  else close(0);
  body();
  dup2(saved, 0);
  close(saved);
}

class Console : public ::testing::Test {
 protected:
  std::string dir;
  void SetUp() override {
    dir = maketempdir();
    messagestream = stdout;
  }
  void TearDown() override {
    messagestream = stdout;
    fatalcleanup = nullptr;
    removetree(dir);
  }
};

// ---- Messages ---------------------------------------------------------------

TEST_F(Console, MessagesGoToTheStreamAndANullStreamWritesNothing) {
  std::string out = dir + "/out";
  int saved = dup(1);
  redirectstdout(out);
  myprintf("      Total (including headers): %9d/%9d bytes (%2d%c)", 123, 4567, 97, 37);
  myprintf("%s already exists.\n", "a.zip");
  messagestream = nullptr;
  int quiet = myprintf("Creating ZIP: %s\n", "x.zip") + myprintf("plain text\n");
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  EXPECT_EQ(readfile(out), "      Total (including headers):       123/     4567 bytes (97%)a.zip already exists.\n");
  EXPECT_EQ(quiet, 0);
}

// ---- Fatal ------------------------------------------------------------------

std::string cleanupmark;   // file the cleanup functions below append to

void markcleanup() { writefile(cleanupmark, readfile(cleanupmark) + "cleaned\n"); }

void failingcleanup() {
  markcleanup();
  fatal("Error: again\n");
}

TEST_F(Console, FatalPrintsRunsTheCleanupOnceAndExits1) {
  struct fatalcase {
    void (*cleanup)();
    bool quiet;
    const char *out, *mark;
  };
  const fatalcase cases[] = {
      {markcleanup, false, "Error: save.zip could not be opened\n", "cleaned\n"},
      {markcleanup, true, "", "cleaned\n"},   // quiet, yet cleaned up
      {nullptr, false, "Error: save.zip could not be opened\n", ""},
      // A failure inside the cleanup ends the run without running it again.
      {failingcleanup, false, "Error: save.zip could not be opened\nError: again\n", "cleaned\n"},
  };
  std::string out = dir + "/out";
  cleanupmark = dir + "/mark";
  for (const fatalcase &c : cases) {
    writefile(cleanupmark, "");
    EXPECT_EXIT(
        {
          redirectstdout(out);
          if (c.quiet) messagestream = nullptr;
          fatalcleanup = c.cleanup;
          fatal("Error: %s could not be opened\n", "save.zip");
        },
        ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readfile(out), c.out);
    EXPECT_EQ(readfile(cleanupmark), c.mark);
  }
}

// ---- Key input from a pipe or no input at all ------------------------------

TEST_F(Console, GetchOnAPipeOrNoInput) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const unsigned char keys[] = {'y', 10, 13, 0xE9, 0x80, 0xFF, 3, 0, 27, 'N'};
  ASSERT_EQ(write(fds[1], keys, sizeof keys), (ssize_t)sizeof keys);
  close(fds[1]);
  std::vector<int> got;
  withstdin(fds[0], [&] {
    for (size_t k = 0; k < sizeof keys + 2; k++) got.push_back(getch());
  });
  close(fds[0]);
  withstdin(-1, [&] { got.push_back(getch()); });   // no input at all
  // At the end of input or without one: no key, which reads as Escape (a refusal).
  EXPECT_EQ(got, (std::vector<int>{'y', 13, 13, -23, -128, -1, 3, 0, 27, 'N', 27, 27, 27}));
}

// ---- Key input from a terminal ----------------------------------------------

// Presses keys once getch has put the terminal into raw mode, and records the
// settings it found then.
void presswhenraw(int master, int slave, std::string keys, termios *seen) {
  for (;;) {
    if (tcgetattr(slave, seen) == 0 && !(seen->c_lflag & ICANON)) break;
    sched_yield();
  }
  if (write(master, keys.data(), keys.size()) != (ssize_t)keys.size()) abort();
}

TEST_F(Console, GetchReadsOneRawKeyAndRestoresTheTerminal) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  const char *name = master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
  int slave = name ? open(name, O_RDWR | O_NOCTTY) : -1;
  if (slave < 0) GTEST_SKIP() << "no pseudo-terminal available";
  termios before;
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  before.c_lflag |= ICANON | ECHO | ISIG;
  before.c_cc[VMIN] = 4;
  before.c_cc[VTIME] = 7;
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);
  ASSERT_EQ(tcgetattr(slave, &before), 0);

  // The interrupt byte arrives as itself only with signal keys off; a lone
  // key arrives without Enter only with line editing off.
  const std::pair<char, int> cases[] = {{3, 3}, {'q', 'q'}, {'\n', 13}, {(char)0xE9, -23}};
  for (auto [key, expected] : cases) {
    termios seen{};
    int got = 0;
    std::thread presser(presswhenraw, master, slave, std::string(1, key), &seen);
    withstdin(slave, [&] { got = getch(); });
    presser.join();
    EXPECT_EQ(got, expected) << "key " << (int)(unsigned char)key;

    // While the key was read: no line editing, echo or signal keys, one byte
    // at a time without a timer, everything else as it was.
    EXPECT_EQ(seen.c_lflag, before.c_lflag & ~(tcflag_t)(ICANON | ECHO | ISIG));
    EXPECT_EQ(seen.c_iflag, before.c_iflag);
    EXPECT_EQ(seen.c_oflag, before.c_oflag);
    EXPECT_EQ(seen.c_cflag, before.c_cflag);
    EXPECT_EQ(seen.c_cc[VMIN], 1);
    EXPECT_EQ(seen.c_cc[VTIME], 0);
    EXPECT_EQ(seen.c_cc[VINTR], before.c_cc[VINTR]);

    struct pollfd pfd = {master, POLLIN, 0};
    EXPECT_EQ(poll(&pfd, 1, 0), 0);   // nothing was echoed

    termios after;
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
  }

  // An arrow key sends three bytes at once; each call returns one of them.
  termios seen{};
  std::vector<int> got;
  std::thread presser(presswhenraw, master, slave, std::string("\x1b[A"), &seen);
  withstdin(slave, [&] {
    got.push_back(getch());
    presser.join();
    got.push_back(getch());
    got.push_back(getch());
  });
  EXPECT_EQ(got, (std::vector<int>{27, '[', 'A'}));
  close(slave);
  close(master);
}

}  // namespace
