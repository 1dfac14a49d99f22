#include "driver/encoderpool.h"

encoder *encoderpool::spare() {
  if (idle_.empty() && (int32_t)made_.size() < most_) {
    made_.emplace_back(new encoder);
    return made_.back().get();
  }
  if (idle_.empty()) return nullptr;
  encoder *e = idle_.back();
  idle_.pop_back();
  return e;
}

encoder *encoderpool::take() {
  std::unique_lock<std::mutex> lock(m_);
  waiting_++;
  encoder *e;
  freed_.wait(lock, [&] { return (e = spare()) != nullptr; });
  waiting_--;
  return e;
}

encoder *encoderpool::borrow() {
  std::lock_guard<std::mutex> lock(m_);
  return waiting_ > 0 ? nullptr : spare();
}

void encoderpool::giveback(encoder *e) {
  {
    std::lock_guard<std::mutex> lock(m_);
    idle_.push_back(e);
  }
  freed_.notify_one();
}
