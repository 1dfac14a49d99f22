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

  enum openresult { opened, notfound, unopenable, unreadable };
  // Opens path without waiting (the listing skipped FIFOs and devices, but
  // the entry may have been replaced since) and refuses anything but a
  // regular file. notfound: there is no such file; unopenable: it is there
  // but cannot be opened (openerror() tells why).
  openresult open(const std::string &path);
  int openerror() const { return openerror_; }
  void close();

  bool rewind() override;
  bool read(uint8_t *buf, int32_t n) override;
  // CRC-32 of the bytes read since the last rewind.
  uint32_t crc() const { return crcfinal(crc_); }

 private:
  FILE *file_ = nullptr;
  int openerror_ = 0;
  uint32_t crc_ = crcstart;
};
