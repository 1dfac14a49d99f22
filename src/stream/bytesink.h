// The rewindable output: a position that moves forward as bytes are put and
// can be set back (or forward) to overwrite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class bytesink {
 public:
  // In memory: the bytes are kept in a buffer that grows as needed.
  bytesink();
  // Over an open file descriptor (not owned): every byte reaches the file at
  // its own offset, through a ring of 2^ringbits pending bytes, so a file
  // sink costs one system call per ring of output and one per seek.
  explicit bytesink(int fd, int32_t ringbits = 20);
  // Nowhere: the position moves as bytes are put, and the bytes are
  // dropped (a coding of which only the length is wanted).
  struct nowheretag {};
  explicit bytesink(nowheretag);
  bytesink(const bytesink &) = delete;
  bytesink &operator=(const bytesink &) = delete;

  // The bit writer hands every byte of the code stream to put: a store, an
  // increment and a comparison, and only when the ring or the buffer is full
  // a call that makes room.
  void put(uint8_t c) {
    ring_[pos_ & mask_] = c;
    if (++pos_ >= limit_) makeroom();
  }
  void write(const void *data, size_t n);
  int64_t tell() const { return pos_; }
  // Hands the pending bytes on (a file sink) and moves the position; later
  // bytes overwrite what stands from there.
  void seek(int64_t pos);
  // Hands the pending bytes to the file. Nothing to do in memory.
  void flush();

  // The first failure: errno of a write that failed; 0 while all is well.
  // After a failure the sink accepts and drops every byte.
  bool failed() const { return error_ != 0; }
  int error() const { return error_; }

  // In memory: the bytes from position 0; those below tell() are the ones
  // written last at each position.
  const uint8_t *bytes() const { return memory_.data(); }
  // In memory: back to position 0 and no failure, keeping the buffer.
  void clear();

 private:
  void makeroom();
  void fail(int error);

  uint8_t *ring_;        // where position p lives: ring_[p & mask_]
  int64_t mask_;         // ring size - 1; all ones in memory (no wrap)
  int64_t pos_ = 0;      // where the next byte goes
  int64_t limit_;        // put makes room when pos_ reaches it
  int64_t flushed_ = 0;  // a file sink: positions below it are in the file
  static constexpr int inmemory = -1, nowhere = -2;
  int fd_;               // or inmemory, or nowhere
  int error_ = 0;
  std::vector<uint8_t> memory_;   // the ring of a file sink, or all bytes in memory
};
