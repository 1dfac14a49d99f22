// -u: the archive being updated. A file whose bytes an entry of it already
// holds under the same stored name is not coded again: that entry's data are
// copied as they are, under the file's current time and attributes.
#pragma once

#include <string>
#include <unordered_map>

#include "driver/mappedfile.h"
#include "stream/bytesink.h"
#include "stream/bytesource.h"
#include "zipin/zipin.h"
#include "zipout/records.h"

class previousarchive {
 public:
  // Reads the archive at path with every check of -z; false with the
  // reason when it is refused.
  bool open(const std::string &path, std::string &error);

  // The entry stored under name with size uncompressed bytes, which may
  // hold the file's bytes; null when there is none.
  const zipinentry *candidate(const std::string &name, int64_t size) const;

  enum match { same, differs, damaged };
  // Compares entry e's data, inflated, with the bytes of in from its first
  // byte, and stops at the first difference. damaged (error set) when the
  // entry itself cannot be read back whole and right.
  match compare(const zipinentry &e, bytesource &in, std::string &error) const;

  // Writes entry e at the sink's position under record r, which holds the
  // file's name, time and attributes: its method, flag bits, CRC and sizes
  // are e's, its data e's bytes.
  void copy(bytesink &out, ziprecord &r, const zipinentry &e) const;

  // The archive's bytes as they were read.
  const uint8_t *bytes() const { return file_.data; }
  size_t size() const { return file_.size; }

 private:
  mappedfile file_;
  zipinarchive archive_;
  std::unordered_map<std::string, size_t> byname_;   // the first entry of each name
};
