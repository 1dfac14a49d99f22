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

// Standard output goes to a file while body runs; returns what was written.
template <typename F>
std::string capturestdout(const std::string &path, F body) {
  fflush(stdout);
  int saved = dup(1);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (saved < 0 || fd < 0) abort();
  dup2(fd, 1);
  close(fd);
  body();
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  return readfile(path);
}

// Descriptor 0 is replaced by fd while body runs, then put back.
template <typename F>
void withstdin(int fd, F body) {
  int saved = dup(0);
  if (saved < 0) abort();
  if (fd >= 0) {
    dup2(fd, 0);
  } else {
    close(0);
  }
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

TEST_F(Console, MessagesGoToStandardOutputByDefault) {
  EXPECT_EQ(messagestream, stdout);
  std::string got = capturestdout(dir + "/out", [] {
    myprintf("      Total (including headers): %9d/%9d bytes (%2d%c)", 123, 4567, 97, 37);
    myprintf("%s already exists.\n", "a.zip");
  });
  EXPECT_EQ(got, "      Total (including headers):       123/     4567 bytes (97%)a.zip already exists.\n");
}

TEST_F(Console, NullStreamWritesNothing) {
  messagestream = nullptr;
  std::string got = capturestdout(dir + "/out", [] {
    EXPECT_EQ(myprintf("Creating ZIP: %s\n", "x.zip"), 0);
    EXPECT_EQ(myprintf("%c", 37), 0);
    EXPECT_EQ(myprintf("plain text\n"), 0);
  });
  EXPECT_EQ(got, "");
}

// ---- Fatal ------------------------------------------------------------------

std::string cleanupmark;   // file the cleanup functions below append to

void markcleanup() {
  FILE *f = fopen(cleanupmark.c_str(), "a");
  if (f) {
    fputs("cleaned\n", f);
    fclose(f);
  }
}

void failingcleanup() {
  markcleanup();
  fatal("Error: again\n");
}

void sendstdoutto(const std::string &path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) abort();
  dup2(fd, 1);
  close(fd);
}

TEST_F(Console, FatalPrintsRunsTheCleanupAndExits1) {
  std::string out = dir + "/out";
  cleanupmark = dir + "/mark";
  EXPECT_EXIT(
      {
        sendstdoutto(out);
        fatalcleanup = markcleanup;
        fatal("Error: %s could not be opened\n", "save.zip");
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(readfile(out), "Error: save.zip could not be opened\n");
  EXPECT_EQ(readfile(cleanupmark), "cleaned\n");
}

TEST_F(Console, FatalInQuietModeIsSilentButStillCleansUp) {
  std::string out = dir + "/out";
  cleanupmark = dir + "/mark";
  EXPECT_EXIT(
      {
        sendstdoutto(out);
        messagestream = nullptr;
        fatalcleanup = markcleanup;
        fatal("Error: malloc failed\n");
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(readfile(out), "");
  EXPECT_EQ(readfile(cleanupmark), "cleaned\n");
}

TEST_F(Console, FatalWithoutCleanupExits1) {
  std::string out = dir + "/out";
  EXPECT_EXIT(
      {
        sendstdoutto(out);
        fatal("No files found\n");
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(readfile(out), "No files found\n");
}

TEST_F(Console, FailureInsideTheCleanupDoesNotRunItAgain) {
  std::string out = dir + "/out";
  cleanupmark = dir + "/mark";
  EXPECT_EXIT(
      {
        sendstdoutto(out);
        fatalcleanup = failingcleanup;
        fatal("Error: first\n");
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(readfile(out), "Error: first\nError: again\n");
  EXPECT_EQ(readfile(cleanupmark), "cleaned\n");
}

// ---- Key input from a pipe or no input at all ------------------------------

TEST_F(Console, GetchOnAPipeReturnsSignedBytesAndLineFeedAsReturn) {
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
  // After the last byte the pipe is at its end: no key, which reads as Escape.
  EXPECT_EQ(got, (std::vector<int>{'y', 13, 13, -23, -128, -1, 3, 0, 27, 'N', getchnokey, getchnokey}));
}

TEST_F(Console, GetchAtEndOfInputReturnsNoKey) {
  int fd = open("/dev/null", O_RDONLY);
  ASSERT_GE(fd, 0);
  int got = 0;
  withstdin(fd, [&] { got = getch(); });
  close(fd);
  EXPECT_EQ(got, getchnokey);
  EXPECT_EQ(getchnokey, 27);
}

TEST_F(Console, GetchOnAClosedDescriptorReturnsNoKey) {
  int got = 0;
  withstdin(-1, [&] { got = getch(); });
  EXPECT_EQ(got, getchnokey);
}

// ---- Key input from a terminal ----------------------------------------------

struct pty {
  int master = -1, slave = -1;
};

bool openterminal(pty *p) {
  p->master = posix_openpt(O_RDWR | O_NOCTTY);
  if (p->master < 0) return false;
  if (grantpt(p->master) != 0 || unlockpt(p->master) != 0) return false;
  const char *name = ptsname(p->master);
  if (!name) return false;
  p->slave = open(name, O_RDWR | O_NOCTTY);
  return p->slave >= 0;
}

// Presses key once getch has put the terminal into raw mode, and records the
// settings it found then.
void presswhenraw(int master, int slave, char key, termios *seen) {
  for (;;) {
    if (tcgetattr(slave, seen) == 0 && !(seen->c_lflag & ICANON)) break;
    sched_yield();
  }
  if (write(master, &key, 1) != 1) abort();
}

TEST_F(Console, GetchReadsOneRawKeyAndRestoresTheTerminal) {
  pty p;
  if (!openterminal(&p)) GTEST_SKIP() << "no pseudo-terminal available";
  termios before;
  ASSERT_EQ(tcgetattr(p.slave, &before), 0);
  before.c_lflag |= ICANON | ECHO | ISIG;
  before.c_cc[VMIN] = 4;
  before.c_cc[VTIME] = 7;
  ASSERT_EQ(tcsetattr(p.slave, TCSANOW, &before), 0);
  ASSERT_EQ(tcgetattr(p.slave, &before), 0);

  struct keycase {
    char key;
    int expected;
  };
  // The interrupt byte arrives as itself only with signal keys off; a lone
  // key arrives without Enter only with line editing off.
  const keycase cases[] = {{3, 3}, {'q', 'q'}, {'\n', 13}, {(char)0xE9, -23}};
  for (const keycase &c : cases) {
    termios seen{};
    int got = 0;
    std::thread presser(presswhenraw, p.master, p.slave, c.key, &seen);
    withstdin(p.slave, [&] { got = getch(); });
    presser.join();
    EXPECT_EQ(got, c.expected) << "key " << (int)(unsigned char)c.key;

    // While the key was read: no line editing, echo or signal keys, one byte
    // at a time without a timer, everything else as it was.
    EXPECT_EQ(seen.c_lflag, before.c_lflag & ~(tcflag_t)(ICANON | ECHO | ISIG));
    EXPECT_EQ(seen.c_iflag, before.c_iflag);
    EXPECT_EQ(seen.c_oflag, before.c_oflag);
    EXPECT_EQ(seen.c_cflag, before.c_cflag);
    EXPECT_EQ(seen.c_cc[VMIN], 1);
    EXPECT_EQ(seen.c_cc[VTIME], 0);
    EXPECT_EQ(seen.c_cc[VINTR], before.c_cc[VINTR]);

    // Nothing was echoed back to the terminal.
    struct pollfd pfd = {p.master, POLLIN, 0};
    EXPECT_EQ(poll(&pfd, 1, 0), 0);

    termios after;
    ASSERT_EQ(tcgetattr(p.slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
  }
  close(p.slave);
  close(p.master);
}

TEST_F(Console, GetchReturnsTheBytesOfOneKeyOneByOne) {
  pty p;
  if (!openterminal(&p)) GTEST_SKIP() << "no pseudo-terminal available";
  termios seen{};
  std::vector<int> got;
  // An arrow key sends three bytes at once.
  std::thread presser([&] {
    for (;;) {
      if (tcgetattr(p.slave, &seen) == 0 && !(seen.c_lflag & ICANON)) break;
      sched_yield();
    }
    if (write(p.master, "\x1b[A", 3) != 3) abort();
  });
  withstdin(p.slave, [&] {
    got.push_back(getch());
    presser.join();
    got.push_back(getch());
    got.push_back(getch());
  });
  EXPECT_EQ(got, (std::vector<int>{27, '[', 'A'}));
  close(p.slave);
  close(p.master);
}

}  // namespace
