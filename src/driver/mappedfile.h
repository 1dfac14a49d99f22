// A file mapped into memory for reading: an existing archive, read where it
// lies rather than copied.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

class mappedfile {
 public:
  mappedfile() = default;
  mappedfile(const mappedfile &) = delete;
  mappedfile &operator=(const mappedfile &) = delete;
  ~mappedfile();

  // Maps the regular file at path; false (errno tells why) when it cannot
  // be opened or mapped, or is not a regular file.
  bool open(const std::string &path);

  const uint8_t *data = nullptr;   // null for an empty file
  size_t size = 0;
  struct stat st {};
};
