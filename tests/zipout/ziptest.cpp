#include "ziptest.h"

#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "console/console.h"
#include "driver/driver.h"
#include "testsupport.h"

// ---- System call hooks: the program's definitions take precedence over the C
// library's, so the archive layer's calls land here.

std::vector<hookedwrite> hookwrites;
int64_t hookmaxwrite = 0;
int32_t hookeintr = 0;
hookfailure hookfail = hookfailnone;
// The archive's descriptor as last seen: voclose forgets vofilhand before it
// calls close, so close recognises the archive by this.
static int hookarchivefd = -1;

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

runresult inchild(const std::function<void()> &fn) {
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
  return waitoutput(pid, fds[0]);
}

std::vector<std::string> listdir(const std::string &dir) {
  std::vector<std::string> r;
  for (auto &e : std::filesystem::directory_iterator(dir)) r.push_back(e.path().filename());
  std::sort(r.begin(), r.end());
  return r;
}

void ziptest::SetUp() {
  dir = maketempdir();
  archive = dir + "/test.zip";
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd) || chdir(dir.c_str()) != 0) abort();   // findfiles looks here
  oldcwd = cwd;
  initcrc();
  resetsettings();
  messagestream = nullptr;
  zipbuf[0] = 0;
  hookwrites.clear();
  hookmaxwrite = 0;
  hookeintr = 0;
  hookfail = hookfailnone;
  findfilesinit();
}

void ziptest::TearDown() {
  voabort();
  messagestream = stdout;
  if (chdir(oldcwd.c_str()) != 0) abort();
  removetree(dir);
}

int32_t ziptest::addentry(const std::string &name, const std::string &data, uint8_t attr) {
  int32_t i = numfiles;
  if (attr & 16) {   // directories become entries only under recursion
    if (mkdir(name.c_str(), 0755) != 0) abort();
    lookdirmode = 1;
  } else {
    writefile(name, data);
  }
  findfiles(name.c_str());
  lookdirmode = 0;
  if (numfiles != i + 1) abort();
  EXPECT_EQ(attr, zfil[i].attr);
  // The fields the writers must set are not right by chance.
  zfil[i].headoff = zfil[i].datoff = zfil[i].endoff = zfil[i].crc = 0x5a5a5a5a;
  zfil[i].compmeth = 0x5a;
  entries.push_back({name, data, name});
  return i;
}

void ziptest::store(int32_t i) {
  FILE *f = fopen(entries[(size_t)i].name.c_str(), "rb");
  if (!f) abort();
  fgetc(f);
  zipcrc = 0x12345678;
  storefile(i, f);
  fclose(f);
}

std::string ziptest::checkwritten() {
  std::string bytes = readfile(archive);
  std::vector<std::pair<std::string, std::string>> files, datas;
  for (int32_t i = 0; i < numfiles; i++) {
    if (zfil[i].attr & 16) continue;
    const testentry &e = entries[(size_t)i];
    files.push_back({e.readername, dir + "/" + e.name});
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
