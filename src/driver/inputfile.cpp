#include "driver/inputfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

inputfile::openresult inputfile::open(const std::string &path) {
  close();
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    openerror_ = errno;
    return errno == ENOENT || errno == ENOTDIR ? notfound : unopenable;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, 0) != 0 || !(file_ = fdopen(fd, "rb"))) {
    ::close(fd);
    return unreadable;
  }
  crc_ = crcstart;
  return opened;
}

void inputfile::close() {
  if (file_) fclose(file_);
  file_ = nullptr;
}

bool inputfile::rewind() {
  crc_ = crcstart;
  return fseek(file_, 0, SEEK_SET) == 0;
}

bool inputfile::read(uint8_t *buf, int32_t n) {
  if (n <= 0) return true;
  if (fread(buf, 1, (size_t)n, file_) != (size_t)n) return false;
  crc_ = crcupdate(crc_, buf, (size_t)n);
  return true;
}
