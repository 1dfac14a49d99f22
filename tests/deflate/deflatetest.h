// Helpers of the Deflate tests: the starting code lengths of a pass, and a
// bit writer run into a file of its own.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "deflate/deflate.h"
#include "testsupport.h"

// The starting lengths of the passes: complete prefix codes over the
// literal/length and the distance alphabets; strategy 3 has literals and end
// of block only.
inline void fixedtable(int32_t *bit, int32_t strat = 0) {
  for (int32_t s = 0; s < hufslots; s++) {
    if (strat == 3) bit[s] = s <= 255 ? (s == 128 ? 9 : 8) : s == 256 ? 9 : 0;
    else bit[s] = s <= 143 ? 8 : s <= 255 ? 9 : s <= 281 ? 7 : s <= 285 ? 8 : s <= 287 ? 0 : s <= 289 ? 4 : s <= 317 ? 5 : 0;
  }
}

// One directory for the files of the whole test program.
inline const std::string &testdir() {
  static struct tempdir {
    std::string path = maketempdir();
    ~tempdir() { removetree(path); }
  } dir;
  return dir.path;
}

// Runs body with the bit writer reset at the start of a new archive file and
// returns the bytes that reached the file.
template <typename F>
std::string capturebits(F body) {
  std::string path = testdir() + "/bits.bin";
  if (!voopen(path.c_str())) {
    ADD_FAILURE() << "cannot open " << path;
    return "";
  }
  zipdat = 0;
  zipbit = 0;
  body();
  voclose();
  return readfile(path);
}
