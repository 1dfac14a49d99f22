// The pass history of one file: the length of every pass and a fingerprint
// of the tables it coded with, to find the best pass and to notice when the
// passes start to repeat themselves.
#pragma once

#include <cstdint>

#include "deflate/blocktable.h"

constexpr int32_t maxpasses = 1024;   // passes recorded; the 1025th stands without comparison

struct passhistory {
  int32_t passcount;    // the current pass, from 0
  bool lastpass;        // the final pass runs: a repeat of the best pass
  int64_t bestlength;   // the shortest recorded pass
  int64_t lengths[maxpasses];
  uint32_t prints[maxpasses];               // fingerprint of each pass's tables
  uint8_t codedwith[maxblocks][slotcount];  // the lengths the current pass codes with
  uint8_t best[maxblocks][slotcount];       // the lengths of the best pass so far
  // With sharecosts, the prices the current and the best pass parse with,
  // and whether the blocks had them (the first pass has only lengths).
  int32_t sharedwith[maxblocks][slotcount];
  int32_t bestshares[maxblocks][slotcount];
  bool shared, bestshared;
};
