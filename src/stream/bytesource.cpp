#include "stream/bytesource.h"

#include <cstring>

bool memorysource::read(uint8_t *buf, int32_t n) {
  if (n < 0 || (size_t)n > size_ - pos_) return false;
  if (n == 0) return true;   // an empty file's bytes may have no address at all
  memcpy(buf, data_ + pos_, (size_t)n);
  pos_ += (size_t)n;
  return true;
}
