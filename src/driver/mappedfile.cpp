#include "driver/mappedfile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

bool mappedfile::open(const std::string &path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fstat(fd, &st) == 0;
  if (ok && !S_ISREG(st.st_mode)) ok = false, errno = EINVAL;
  size = ok ? (size_t)st.st_size : 0;
  if (ok && size > 0) {
    void *p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    ok = p != MAP_FAILED;
    data = ok ? (const uint8_t *)p : nullptr;
  }
  int e = errno;
  close(fd);
  errno = e;
  return ok;
}

mappedfile::~mappedfile() {
  if (data) munmap((void *)data, size);
}
