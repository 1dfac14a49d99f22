// The archive file: a write-behind ring of 1 MiB addressed by archive
// position, over a temporary file beside the archive's name.
//
// The ring lets the position move back without copying (a local header is
// patched after its data; a pass that is not kept is overwritten from its
// header), and it turns the bit writer's single bytes into one system call
// per MiB. Moving the position always flushes, so the ring is never read back.
//
// Nothing is written to the archive's own name until the run is complete:
// voopen creates a new temporary file in the same directory and voclose
// renames it over the target. A failed run (fatal, which runs voabort) or
// SIGINT, SIGTERM or SIGHUP removes the temporary file, so an existing archive
// of that name survives a failed or interrupted run unchanged.
#include <bit>
#include <cassert>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

#include "console/console.h"
#include "zipout/zipout.h"

uint8_t vobuf[vobufsiz];
int32_t vofilhand = -1;
int32_t vobufpos0 = 0;
int32_t vobufpos1 = 0;
char vofilnam[4096];
char votmpnam[4096];

// 1 while votmpnam names a temporary file that this run created and has not
// yet renamed; read by the signal handler, hence sig_atomic_t.
static volatile sig_atomic_t votmplive = 0;

// The signals after which the temporary file is removed, and the actions
// they had before voopen, restored once the archive is in place.
static const int vosignals[3] = {SIGINT, SIGTERM, SIGHUP};
static struct sigaction vooldaction[3];

// The temporary name is the archive's directory, this and six random
// characters: it lies in the same directory (rename stays within one file
// system), and it fits wherever the archive's own name fits, however long
// that name is.
static const char votmptag[] = ".vorpak";
constexpr int32_t votmprand = 6;
constexpr int32_t votmptries = 1000;   // names tried before voopen gives up

static void vofailwrite() { fatal("Error: %s could not be written\n", vofilnam); }

// Only unlink and raise, both async-signal-safe. SA_RESETHAND has already put
// the default action back, so the re-raised signal ends the process the way
// the sender intended (and the parent sees the signal, not an exit status).
static void vosighandler(int sig) {
  if (votmplive) unlink(votmpnam);
  raise(sig);
}

static void voblocksignals(sigset_t *old) {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : vosignals) sigaddset(&set, sig);
  sigprocmask(SIG_BLOCK, &set, old);
}

// A small generator for the temporary name's suffix. rand() is left alone:
// the random starting tables of the compressor seed and use it.
static uint32_t vorandstate;
static uint32_t vorandom() {
  vorandstate ^= vorandstate << 13;
  vorandstate ^= vorandstate >> 17;
  vorandstate ^= vorandstate << 5;
  return vorandstate;
}

int32_t voopen(const char *dafilnam) {
  assert(!votmplive);
  size_t n = strlen(dafilnam);
  if (n + 1 > sizeof vofilnam) return 0;
  memcpy(vofilnam, dafilnam, n + 1);
  size_t dirn = 0;   // the directory part, with its last "/"
  for (size_t k = 0; k < n; k++)
    if (dafilnam[k] == '/') dirn = k + 1;
  if (dirn + sizeof votmptag + votmprand > sizeof votmpnam) return 0;

  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  vorandstate ^= (uint32_t)ts.tv_nsec ^ ((uint32_t)getpid() << 16) ^ (uint32_t)ts.tv_sec;
  if (vorandstate == 0) vorandstate = 0x9e3779b9;

  // Signals stay blocked from the creation of the file until the handlers
  // that remove it are in place, so no interruption can leave it behind.
  sigset_t oldmask;
  voblocksignals(&oldmask);
  int fd = -1;
  for (int32_t t = 0; t < votmptries && fd < 0; t++) {
    static const char chars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    memcpy(votmpnam, dafilnam, dirn);
    memcpy(votmpnam + dirn, votmptag, sizeof votmptag - 1);
    char *r = votmpnam + dirn + sizeof votmptag - 1;
    for (int32_t k = 0; k < votmprand; k++) r[k] = chars[vorandom() % (sizeof chars - 1)];
    r[votmprand] = 0;
    // 0666 with O_CREAT: the umask decides the archive's permissions.
    fd = open(votmpnam, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST && errno != EINTR) break;
  }
  if (fd < 0) {
    sigprocmask(SIG_SETMASK, &oldmask, nullptr);
    return 0;
  }

  vofilhand = fd;
  vobufpos0 = vobufpos1 = 0;
  votmplive = 1;
  fatalcleanup = voabort;
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = vosighandler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESETHAND;
  for (int k = 0; k < 3; k++) sigaction(vosignals[k], &sa, &vooldaction[k]);
  sigprocmask(SIG_SETMASK, &oldmask, nullptr);
  return 1;
}

// Writes all n bytes at the file's offset: a write may be partial or
// interrupted before it wrote anything, and both simply go on. Anything else
// (a full disk, a file size limit, an I/O error) ends the run.
static void vowriteall(const uint8_t *p, int32_t n) {
  while (n > 0) {
    ssize_t r = write(vofilhand, p, (size_t)n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) vofailwrite();
    p += r;
    n -= (int32_t)r;
  }
}

void voflush() {
  assert(vofilhand >= 0 && vobufpos0 <= vobufpos1 && vobufpos1 - vobufpos0 <= vobufsiz);
  // Positions are signed 32-bit and the ZIP records hold 32-bit offsets. A
  // flush comes at least once per ring of output, so stopping here keeps
  // every position, including those of the records still to come, in range.
  if (vobufpos1 > vomaxpos)
    fatal("Error: %s would reach 2 GiB, more than a ZIP archive without extensions can hold\n",
          vofilnam);
  if (vobufpos1 > vobufpos0) {
    if (lseek(vofilhand, vobufpos0, SEEK_SET) != (off_t)vobufpos0) vofailwrite();
    int32_t s = vobufpos0 & vobufmask;
    if ((vobufpos0 ^ (vobufpos1 - 1)) & ~vobufmask) {
      // The pending bytes wrap around the end of the ring: its end first,
      // then its beginning, so the file receives them in position order.
      vowriteall(vobuf + s, vobufsiz - s);
      vowriteall(vobuf, vobufpos1 & vobufmask);
    } else {
      vowriteall(vobuf + s, vobufpos1 - vobufpos0);
    }
  }
  vobufpos0 = vobufpos1;
}

void vowrite(const void *dabuf, int32_t dasiz) {
  const uint8_t *p = (const uint8_t *)dabuf;
  for (int32_t k = 0; k < dasiz; k++) voputc(p[k]);
}

void voseek(int32_t dapos) {
  assert(dapos >= 0);
  voflush();
  vobufpos0 = vobufpos1 = dapos;
}

void voclose() {
  voflush();
  // Rewinds may have left bytes of a longer earlier attempt behind the end.
  if (ftruncate(vofilhand, vobufpos1) != 0) vofailwrite();
  int fd = vofilhand;
  vofilhand = -1;   // closed from here on, whatever close reports
  if (close(fd) != 0) vofailwrite();

  // The rename and the end of the cleanup happen as one step for the
  // signal handler: it must neither miss the temporary file nor remove a
  // file of that name after it has become the archive.
  sigset_t oldmask;
  voblocksignals(&oldmask);
  if (rename(votmpnam, vofilnam) != 0) vofailwrite();
  votmplive = 0;
  fatalcleanup = nullptr;
  for (int k = 0; k < 3; k++) sigaction(vosignals[k], &vooldaction[k], nullptr);
  sigprocmask(SIG_SETMASK, &oldmask, nullptr);
}

void voabort() {
  if (vofilhand >= 0) {
    close(vofilhand);
    vofilhand = -1;
  }
  if (votmplive) {
    unlink(votmpnam);
    votmplive = 0;
  }
}

// The archive's fields are little-endian whatever the host's order.
uint32_t LSWAPIB(uint32_t a) {
  if constexpr (std::endian::native == std::endian::big)
    return (a >> 24) + ((a >> 8) & 0xff00) + ((a << 8) & 0xff0000) + (a << 24);
  else
    return a;
}

uint16_t SSWAPIB(uint16_t a) {
  if constexpr (std::endian::native == std::endian::big)
    return (uint16_t)(((a << 8) + (a >> 8)) & 0xffff);
  else
    return a;
}
