#include "ziptest.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "driver/driver.h"
#include "testsupport.h"

// ---- System call hooks ------------------------------------------------------
//
// Definitions in the program take precedence over the C library's, so the
// archive layer's calls land here; the kernel is then called directly.

std::vector<hookedwrite> hookwrites;
int64_t hookmaxwrite = 0;
int32_t hookeintr = 0;
hookfailure hookfail = hookfailnone;
// The archive's descriptor as last seen: voclose forgets vofilhand before it
// calls close, so close recognises the archive by this.
static int hookarchivefd = -1;

void hookreset() {
  hookwrites.clear();
  hookmaxwrite = 0;
  hookeintr = 0;
  hookfail = hookfailnone;
}

static bool hookisarchive(int fd) {
  if (fd < 0 || fd != vofilhand) return false;
  hookarchivefd = fd;
  return true;
}

static bool hooktakefailure(hookfailure f) {
  if (hookfail != f) return false;
  hookfail = hookfailnone;
  errno = EIO;
  return true;
}

extern "C" ssize_t write(int fd, const void *buf, size_t n) {
  if (hookisarchive(fd)) {
    if (hooktakefailure(hookfailwrite)) return -1;
    if (hookeintr > 0) {
      hookeintr--;
      errno = EINTR;
      return -1;
    }
    if (hookmaxwrite > 0 && (int64_t)n > hookmaxwrite) n = (size_t)hookmaxwrite;
    int64_t off = syscall(SYS_lseek, fd, 0, SEEK_CUR);
    ssize_t r = syscall(SYS_write, fd, buf, n);
    if (r > 0) hookwrites.push_back({off, (int64_t)r});
    return r;
  }
  return syscall(SYS_write, fd, buf, n);
}

extern "C" off_t lseek(int fd, off_t off, int whence) __THROW {
  if (hookisarchive(fd) && hooktakefailure(hookfaillseek)) return -1;
  return syscall(SYS_lseek, fd, off, whence);
}

extern "C" int ftruncate(int fd, off_t len) __THROW {
  if (hookisarchive(fd) && hooktakefailure(hookfailftruncate)) return -1;
  return (int)syscall(SYS_ftruncate, fd, len);
}

// A failing close still releases the descriptor, as the kernel does when it
// reports a delayed write error at close.
extern "C" int close(int fd) {
  bool archive = fd >= 0 && fd == hookarchivefd;
  if (archive) hookarchivefd = -1;
  int r = (int)syscall(SYS_close, fd);
  if (archive && r == 0 && hooktakefailure(hookfailclose)) return -1;
  return r;
}

// ---- Child processes ----------------------------------------------------------

childresult inchild(const std::function<void()> &fn, const std::function<void(int pid)> &parent) {
  int fds[2];
  if (pipe(fds) != 0) abort();
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 1);
    close(fds[1]);
    messagestream = stdout;
    fn();
    fflush(stdout);
    _exit(0);
  }
  close(fds[1]);
  if (parent) parent(pid);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, (size_t)n);
  close(fds[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st), out};
}

std::vector<std::string> listdir(const std::string &dir) {
  std::vector<std::string> r;
  DIR *d = opendir(dir.c_str());
  if (!d) return r;
  while (dirent *e = readdir(d))
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) r.push_back(e->d_name);
  closedir(d);
  std::sort(r.begin(), r.end());
  return r;
}

// ---- Fixture ------------------------------------------------------------------

void ziptest::SetUp() {
  dir = maketempdir();
  archive = dir + "/test.zip";
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) abort();
  oldcwd = cwd;
  // findfiles looks in the directory it runs in.
  if (chdir(dir.c_str()) != 0) abort();
  initcrc();
  resetsettings();
  messagestream = nullptr;
  zipbuf[0] = 0;
  hookreset();
  entries.clear();
  findfilesinit();
}

void ziptest::TearDown() {
  voabort();
  messagestream = stdout;
  if (chdir(oldcwd.c_str()) != 0) abort();
  removetree(dir);
}

int32_t ziptest::addentry(const std::string &name, const std::string &data, uint8_t attr) {
  int32_t before = numfiles;
  if (attr & 16) {
    // Directories become entries only under recursion.
    if (mkdir(name.c_str(), 0755) != 0) abort();
    lookdirmode = 1;
    findfiles(name.c_str());
    lookdirmode = 0;
  } else {
    writefile(name, data);
    findfiles(name.c_str());
  }
  if (numfiles != before + 1) abort();
  int32_t i = before;
  zfiltyp &z = zfil[i];
  EXPECT_EQ(attr, z.attr);
  // The fields the writers must set are not right by chance.
  z.headoff = z.datoff = z.endoff = z.crc = 0x5a5a5a5a;
  z.compmeth = 0x5a;
  entries.push_back({name, name, dir + "/" + name, data});
  return i;
}

FILE *ziptest::openentry(int32_t i) {
  FILE *f = fopen(entries[(size_t)i].diskpath.c_str(), "rb");
  if (!f) abort();
  return f;
}

void ziptest::store(int32_t i) {
  zfil[i].headoff = votell();
  zipbuf[0] = 0;
  FILE *f = openentry(i);
  storefile(i, f);
  fclose(f);
}

std::string ziptest::finishandcheck() {
  zipoutfinish();
  std::string bytes = readfile(archive);
  std::vector<std::pair<std::string, std::string>> files, datas;
  for (int32_t i = 0; i < numfiles; i++) {
    const testentry &e = entries[(size_t)i];
    if (zfil[i].attr & 16) continue;
    files.push_back({e.readername, e.diskpath});
    datas.push_back({e.name, e.data});
  }
  EXPECT_EQ("", checkarchive(archive, files));
  EXPECT_EQ("", checkinflate(bytes, datas));
  return bytes;
}

void ziptest::repeatentry(int32_t i, int32_t count) {
  allocfiles = numfiles + count;
  zfil = (zfiltyp *)realloc(zfil, sizeof(zfiltyp) * (size_t)allocfiles);
  if (!zfil) abort();
  for (int32_t k = 0; k < count; k++) {
    zfil[numfiles++] = zfil[i];
    entries.push_back(entries[(size_t)i]);
  }
}
