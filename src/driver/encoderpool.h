// The run's encoders, at most one per thread: a worker takes one for each
// file it codes, and a file's passes borrow the idle ones to code ranges of
// its blocks in parallel, so that the threads -j allows are busy whether
// there are many files or one. No more encoders code at once than the pool
// holds.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "deflate/deflate.h"

class encoderpool : public encoderlender {
 public:
  explicit encoderpool(int32_t most) : most_(most) {}
  // An encoder to code a file with, once one is free (made when fewer than
  // most exist).
  encoder *take();
  // An idle encoder for a pass's range, or null: none is idle, or a worker
  // waits for one (a file waiting to start goes first).
  encoder *borrow() override;
  // Back to the pool, from take() or borrow().
  void giveback(encoder *e) override;

 private:
  encoder *spare();   // with m_ held: an idle or new encoder, or null

  const int32_t most_;
  std::mutex m_;
  std::condition_variable freed_;
  std::vector<std::unique_ptr<encoder>> made_;
  std::vector<encoder *> idle_;
  int32_t waiting_ = 0;
};
