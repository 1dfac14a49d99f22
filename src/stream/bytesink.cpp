// A sink in memory grows its buffer when full; a sink over a file hands its
// ring to the file when full. Both present the same put to the bit writer.
#include "stream/bytesink.h"

#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstring>

// A memory sink starts small and doubles: most entries are small, and a
// buffer reused across files keeps the size it reached.
constexpr size_t memoryinit = 1 << 16;

bytesink::bytesink() : mask_(-1), fd_(inmemory), memory_(memoryinit) {
  ring_ = memory_.data();
  limit_ = (int64_t)memory_.size();
}

bytesink::bytesink(int fd, int32_t ringbits) : fd_(fd), memory_((size_t)1 << ringbits) {
  ring_ = memory_.data();
  mask_ = (int64_t)memory_.size() - 1;
  limit_ = (int64_t)memory_.size();
}

// A small ring that is never written anywhere.
bytesink::bytesink(nowheretag) : bytesink(nowhere, 12) {}

void bytesink::fail(int error) {
  if (!error_) error_ = error;
}

// Writes every pending byte at its own offset. A write may be partial or
// interrupted and simply goes on; any other failure (a full disk, a file
// size limit, an I/O error) is remembered and the bytes are dropped.
void bytesink::flush() {
  if (fd_ == inmemory) return;
  assert(flushed_ <= pos_ && pos_ - flushed_ <= mask_ + 1);
  int64_t at = fd_ == nowhere ? pos_ : flushed_;
  while (at < pos_ && !error_) {
    // Up to the end of the ring, then from its start.
    int64_t s = at & mask_;
    int64_t n = pos_ - at;
    if (n > mask_ + 1 - s) n = mask_ + 1 - s;
    ssize_t r = pwrite(fd_, ring_ + s, (size_t)n, (off_t)at);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) fail(r < 0 ? errno : EIO);
    else at += r;
  }
  flushed_ = pos_;
  limit_ = pos_ + mask_ + 1;
}

void bytesink::makeroom() {
  if (fd_ != inmemory) {
    flush();
    return;
  }
  // Grows to hold pos_. A failed sink stops growing: it wraps round the
  // buffer it has (a power of two), dropping bytes but counting positions.
  if (error_) {
    mask_ = (int64_t)memory_.size() - 1;
    limit_ = pos_ + mask_ + 1;
    return;
  }
  size_t want = memory_.size();
  while ((int64_t)want <= pos_) want *= 2;
  memory_.resize(want);
  ring_ = memory_.data();
  limit_ = (int64_t)want;
}

void bytesink::write(const void *data, size_t n) {
  const uint8_t *p = (const uint8_t *)data;
  for (size_t k = 0; k < n; k++) put(p[k]);
}

void bytesink::seek(int64_t pos) {
  assert(pos >= 0);
  flush();
  pos_ = flushed_ = pos;
  if (fd_ != inmemory) {
    limit_ = pos + mask_ + 1;
  } else if (pos >= limit_) {
    makeroom();
  }
}

void bytesink::clear() {
  assert(fd_ == inmemory);
  pos_ = 0;
  error_ = 0;
  mask_ = -1;
  limit_ = (int64_t)memory_.size();
}
