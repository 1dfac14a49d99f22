// Console output and the single raw key. See console.h for the contract.
#include "console/console.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>

FILE *messagestream = stdout;
FILE *errorstream = stderr;

void (*fatalcleanup)() = nullptr;

static int vmyprintf(const char *f, va_list args) {
  if (!messagestream) return 0;
  return vfprintf(messagestream, f, args);
}

// Errors and warnings: what the file's line has shown so far comes first.
static int vwarn(const char *f, va_list args) {
  if (!errorstream) return 0;
  if (messagestream && messagestream != errorstream) fflush(messagestream);
  return vfprintf(errorstream, f, args);
}

int warn(const char *f, ...) {
  va_list args;
  va_start(args, f);
  int r = vwarn(f, args);
  va_end(args);
  return r;
}

int myprintf(const char *f, ...) {
  va_list args;
  va_start(args, f);
  int r = vmyprintf(f, args);
  va_end(args);
  return r;
}

int getch() {
  termios getchosets, getchnsets;
  // Standard input need not be a terminal (a pipe, a file, nothing at all).
  // Then there are no settings to change, and restoring settings that were
  // never read would apply garbage, so the raw switch is made only when the
  // current settings could be read.
  bool isterminal = tcgetattr(0, &getchosets) == 0;
  if (isterminal) {
    getchnsets = getchosets;
    getchnsets.c_lflag &= ~(tcflag_t)(ICANON | ECHO | ISIG);
    getchnsets.c_cc[VMIN] = 1;
    getchnsets.c_cc[VTIME] = 0;
    tcsetattr(0, TCSANOW, &getchnsets);
  }

  signed char ch = 0;
  ssize_t got;
  do {
    got = read(0, &ch, 1);
  } while (got < 0 && errno == EINTR);
  if (ch == 10) ch = 13;

  if (isterminal) tcsetattr(0, TCSANOW, &getchosets);

  // No byte: end of input, a read error or a closed descriptor. Escape is a
  // refusal at the overwrite prompt, so that prompt ends instead of asking
  // again forever.
  if (got != 1) return getchnokey;
  return ch;
}

void fatal(const char *f, ...) {
  va_list args;
  va_start(args, f);
  vwarn(f, args);
  va_end(args);
  // Cleared before the call: a failure inside the cleanup comes back here and
  // must then end the process rather than run the cleanup again.
  void (*cleanup)() = fatalcleanup;
  fatalcleanup = nullptr;
  if (cleanup) cleanup();
  // Worker threads may still be running: the process ends without running
  // the destructors of objects they could be using.
  fflush(nullptr);
  _exit(1);
}
