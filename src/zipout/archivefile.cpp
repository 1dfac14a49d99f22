// Nothing is written to the archive's own name until the archive is
// complete: create makes a new temporary file in the same directory (so the
// final rename stays within one file system) and finish renames it over the
// target. Between the two, a signal handler removes the temporary file on
// SIGINT, SIGTERM, SIGHUP and SIGPIPE (the reader of the console text gone,
// as under "| head"). A handler can only reach process-wide state,
// so the name of the live temporary file is kept here, one at a time.
#include "zipout/archivefile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

namespace {

// The temporary file a signal must remove, and whether there is one.
char livename[4096];
volatile sig_atomic_t live = 0;

// The signals after which the temporary file is removed, and the actions
// they had before, restored once the archive is in place.
constexpr int signalcount = 4;
const int cleanupsignals[signalcount] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
struct sigaction oldactions[signalcount];

// The temporary name is the archive's directory, this and six random
// characters: it fits wherever the archive's own name fits.
const char tmptag[] = ".vorpak";
constexpr int32_t tmprandom = 6;
constexpr int32_t tmptries = 1000;   // names tried before create gives up

// Only unlink and raise, both async-signal-safe. SA_RESETHAND has already
// put the default action back, so the re-raised signal ends the process the
// way the sender intended (and the parent sees the signal, not an exit
// status).
void onsignal(int sig) {
  if (live) unlink(livename);
  raise(sig);
}

void blocksignals(sigset_t *old) {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : cleanupsignals) sigaddset(&set, sig);
  sigprocmask(SIG_BLOCK, &set, old);
}

// The temporary name's suffix: a small generator seeded from the clock and
// the process, unrelated to any other random numbers of the program.
uint32_t nameseed = 0;
uint32_t namerandom() {
  nameseed ^= nameseed << 13;
  nameseed ^= nameseed >> 17;
  nameseed ^= nameseed << 5;
  return nameseed;
}

// Installs the cleanup handler on each signal unless the process was told to
// ignore it (nohup, a background job): such a signal must not end the run.
void installhandlers() {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = onsignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESETHAND;
  for (int k = 0; k < signalcount; k++) {
    sigaction(cleanupsignals[k], nullptr, &oldactions[k]);
    if (oldactions[k].sa_handler != SIG_IGN) sigaction(cleanupsignals[k], &sa, nullptr);
  }
}

void restorehandlers() {
  for (int k = 0; k < signalcount; k++) sigaction(cleanupsignals[k], &oldactions[k], nullptr);
}

}  // namespace

bool archivefile::create(const std::string &name) {
  size_t dirn = name.rfind('/');   // the directory part, with its last "/"
  dirn = dirn == std::string::npos ? 0 : dirn + 1;
  name_ = name;
  return createtemporary(name.substr(0, dirn));
}

bool archivefile::createforstream(const std::string &name, const std::string &tmpdir, int fd) {
  name_ = name;
  streamfd_ = fd;
  return createtemporary(tmpdir.empty() || tmpdir.back() == '/' ? tmpdir : tmpdir + "/");
}

bool archivefile::createtemporary(const std::string &dir) {
  assert(!live && fd_ < 0);
  if (dir.size() + sizeof tmptag + tmprandom > sizeof livename) {
    errno = ENAMETOOLONG;
    return false;
  }
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  nameseed ^= (uint32_t)ts.tv_nsec ^ ((uint32_t)getpid() << 16) ^ (uint32_t)ts.tv_sec;
  if (nameseed == 0) nameseed = 0x9e3779b9;

  // Signals stay blocked from the creation of the file until the handlers
  // that remove it are in place, so no interruption can leave it behind.
  sigset_t oldmask;
  blocksignals(&oldmask);
  int fd = -1;
  std::string tmp;
  for (int32_t t = 0; t < tmptries && fd < 0; t++) {
    static const char chars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    tmp = dir + tmptag;
    for (int32_t k = 0; k < tmprandom; k++) tmp += chars[namerandom() % (sizeof chars - 1)];
    // 0666 with O_CREAT: the umask decides the archive's permissions.
    fd = open(tmp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST && errno != EINTR) break;
  }
  if (fd < 0) {
    int e = errno;
    sigprocmask(SIG_SETMASK, &oldmask, nullptr);
    errno = e;
    return false;
  }
  tmpname_ = tmp;
  fd_ = fd;
  sink_ = std::make_unique<bytesink>(fd);
  memcpy(livename, tmp.c_str(), tmp.size() + 1);
  live = 1;
  installhandlers();
  sigprocmask(SIG_SETMASK, &oldmask, nullptr);
  return true;
}

// The complete archive from the temporary file to the stream.
bool archivefile::copytostream() {
  if (lseek(fd_, 0, SEEK_SET) != 0) return false;
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(streamfd_, buf + done, (size_t)(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      done += w;
    }
  }
}

bool archivefile::finish() {
  sink_->flush();
  if (sink_->failed()) return false;
  // Rewinds may have left bytes of a longer earlier attempt behind the end.
  if (ftruncate(fd_, sink_->tell()) != 0) return false;
  if (streamfd_ >= 0) {
    // The stream gets the archive only once it is complete; the temporary
    // file goes whatever the copy did.
    bool copied = copytostream();
    abort();
    return copied;
  }
  int fd = fd_;
  fd_ = -1;   // closed from here on, whatever close reports
  if (close(fd) != 0) return false;

  // The rename and the end of the cleanup happen as one step for the
  // signal handler: it must neither miss the temporary file nor remove a
  // file of that name after it has become the archive.
  sigset_t oldmask;
  blocksignals(&oldmask);
  bool renamed = rename(tmpname_.c_str(), name_.c_str()) == 0;
  if (renamed) {
    live = 0;
    restorehandlers();
  }
  sigprocmask(SIG_SETMASK, &oldmask, nullptr);
  return renamed;
}

bool archivefile::sameas(const uint8_t *data, size_t size) {
  sink_->flush();
  if (sink_->failed() || sink_->tell() != (int64_t)size) return false;
  char buf[65536];
  for (size_t at = 0; at < size;) {
    ssize_t n = pread(fd_, buf, std::min(sizeof buf, size - at), (off_t)at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || memcmp(buf, data + at, (size_t)n) != 0) return false;
    at += (size_t)n;
  }
  return true;
}

void archivefile::abort() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (live && !tmpname_.empty()) {
    unlink(tmpname_.c_str());
    sigset_t oldmask;
    blocksignals(&oldmask);
    live = 0;
    restorehandlers();
    sigprocmask(SIG_SETMASK, &oldmask, nullptr);
  }
  tmpname_.clear();
}

void abortarchive() {
  if (live) {
    unlink(livename);
    live = 0;
  }
}
