// Shared by the archive output tests: a scratch directory with a file table
// built by hand, runs in a child process (for the paths that end the run),
// and hooks on the system calls of the archive file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "files/files.h"
#include "zipout/zipout.h"

// This test program defines write, lseek, ftruncate and close itself. For
// the archive's descriptor they log every write and can cut writes short or
// fail; every other descriptor goes straight to the kernel.
struct hookedwrite {
  int64_t off;   // file offset the bytes went to
  int64_t n;     // bytes written
};
extern std::vector<hookedwrite> hookwrites;   // writes to the archive, in order
extern int64_t hookmaxwrite;    // above 0: an archive write writes at most this many bytes
extern int32_t hookeintr;       // archive writes still to fail with EINTR before writing
enum hookfailure { hookfailnone, hookfailwrite, hookfaillseek, hookfailftruncate, hookfailclose };
extern hookfailure hookfail;    // the next such call on the archive fails with EIO
void hookreset();

struct childresult {
  int status;        // exit status, or 128 + signal number
  std::string out;   // everything printed (messagestream is standard output there)
};
// Runs fn in a forked child whose messages go to standard output, captured.
// parent, if given, runs in the parent with the child's pid before its output
// is read (to signal it). The child exits 0 when fn returns.
childresult inchild(const std::function<void()> &fn,
                    const std::function<void(int pid)> &parent = nullptr);

std::vector<std::string> listdir(const std::string &dir);

// One entry of the table: the name stored in the archive, the name Python's
// zipfile shows for it, the file on disk it is read from, and its contents.
struct testentry {
  std::string name, readername, diskpath, data;
};

class ziptest : public ::testing::Test {
 protected:
  std::string dir;
  std::string archive;   // dir/test.zip
  std::string oldcwd;    // the scratch directory is current during a test
  std::vector<testentry> entries;

  void SetUp() override;
  void TearDown() override;

  // Writes a file holding data into the scratch directory and has findfiles
  // list it; attr 0x30 makes a directory there instead, listed as findfiles
  // does under recursion. Returns the entry's index.
  int32_t addentry(const std::string &name, const std::string &data, uint8_t attr = 0x20);
  // Appends count copies of entry i (same name, same file) to the table.
  void repeatentry(int32_t i, int32_t count);
  // Opens the entry's file for reading ("rb").
  FILE *openentry(int32_t i);
  // Writes entry i stored at the current archive position, as the driver
  // does under the "Uncompressed" strategy.
  void store(int32_t i);
  // zipoutfinish, then the archive checked by unzip -t, Python's zipfile and
  // zlib against the file entries (directories left out); returns its bytes.
  std::string finishandcheck();
};
