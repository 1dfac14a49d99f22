// Shared by the archive output tests: a scratch directory with a file table
// built by hand, runs in a child process (for the paths that end the run),
// and hooks on the system calls of the archive file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "files/files.h"
#include "testsupport.h"
#include "zipout/zipout.h"

// This program defines write, lseek, ftruncate and close itself. On the
// archive's descriptor they log every write and can cut writes short or
// fail; every other descriptor goes straight to the kernel.
struct hookedwrite {
  int64_t off, n;   // file offset and bytes written
  bool operator==(const hookedwrite &) const = default;
};
inline void PrintTo(const hookedwrite &w, std::ostream *os) { *os << "{" << w.off << ", " << w.n << "}"; }
extern std::vector<hookedwrite> hookwrites;   // writes to the archive, in order
extern int64_t hookmaxwrite;    // above 0: an archive write writes at most this many bytes
extern int32_t hookeintr;       // archive writes still to fail with EINTR before writing
enum hookfailure { hookfailnone, hookfailwrite, hookfaillseek, hookfailftruncate, hookfailclose };
extern hookfailure hookfail;    // the next such call on the archive fails with EIO

// Runs fn in a forked child, capturing its standard output (messagestream
// is standard output there); the child exits 0 when fn returns.
runresult inchild(const std::function<void()> &fn);
std::vector<std::string> listdir(const std::string &dir);

class ziptest : public ::testing::Test {
 protected:
  std::string dir, archive, oldcwd;   // scratch directory (current during a test), dir/test.zip
  // Each entry's name, contents, and the name Python's zipfile shows if not the same.
  struct testentry { std::string name, data, readername; };
  std::vector<testentry> entries;

  void SetUp() override;
  void TearDown() override;
  // Writes a file holding data and has findfiles list it; attr 0x30 makes a
  // directory instead, listed as under recursion. Returns the entry's index.
  int32_t addentry(const std::string &name, const std::string &data, uint8_t attr = 0x20);
  void repeatentry(int32_t i, int32_t count);   // appends count copies of entry i
  // storefile for entry i at its headoff, with its input past its start and
  // the CRC register not preset, both of which storefile must set right.
  void store(int32_t i);
  // The finished archive checked by unzip -t, Python's zipfile and zlib
  // against the file entries; returns its bytes.
  std::string checkwritten();
};
