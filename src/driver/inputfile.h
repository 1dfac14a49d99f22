// An input file as the encoder and the stored-entry writer read it: from its
// first byte once per pass, in pieces, with the CRC-32 of the bytes read
// since the last rewind.
#pragma once

#include <cstdio>
#include <string>

#include "stream/bytesource.h"
#include "stream/crc32.h"

class inputfile : public bytesource {
 public:
  inputfile() = default;
  inputfile(const inputfile &) = delete;
  inputfile &operator=(const inputfile &) = delete;
  ~inputfile() { close(); }

  enum openresult { opened, notfound, unreadable };
  // Opens path without waiting (the listing skipped FIFOs and devices, but
  // the entry may have been replaced since) and refuses anything but a
  // regular file.
  openresult open(const std::string &path);
  void close();

  bool rewind() override;
  bool read(uint8_t *buf, int32_t n) override;
  // CRC-32 of the bytes read since the last rewind.
  uint32_t crc() const { return crcfinal(crc_); }

 private:
  FILE *file_ = nullptr;
  uint32_t crc_ = crcstart;
};
