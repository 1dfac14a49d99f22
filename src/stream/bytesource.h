// The rewindable input: read in pieces from its first byte, as many times as
// there are passes.
#pragma once

#include <cstddef>
#include <cstdint>

class bytesource {
 public:
  virtual ~bytesource() = default;
  // Back to the first byte; false when that fails.
  virtual bool rewind() = 0;
  // Reads exactly n bytes into buf; false when fewer can be had (the data
  // ended early or a read failed). Called once per piece of up to 64 KiB,
  // never per byte.
  virtual bool read(uint8_t *buf, int32_t n) = 0;
  // The whole data when it lies in memory, else null: lets a reader that
  // needs all of it at once do without a copy.
  virtual const uint8_t *whole() const { return nullptr; }
};

// Bytes already in memory (an entry read from an archive, a test's data).
class memorysource : public bytesource {
 public:
  memorysource(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  bool rewind() override {
    pos_ = 0;
    return true;
  }
  bool read(uint8_t *buf, int32_t n) override;
  const uint8_t *whole() const override { return data_; }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
};
