// What a caller tells the encoder (options), what it is shown while a file is
// coded (a watcher), and what comes back (the result).
#pragma once

#include <cstdint>

#include "deflate/blocktable.h"

// A file has at most maxblocks blocks of at most maxblocklength bytes: the
// encoder codes inputs below this length (nearly 2 TiB).
constexpr int64_t encodermaxlength = (int64_t)maxblocks * maxblocklength;

struct encodeoptions {
  int32_t strategy = 0;            // 0 Xtreme, 1 Intense, 2 Longest Match, 3 Huffman Only
  double splitthreshold = 256.0;   // bytes a cut must save; 0 or less: one block per file
  int32_t blockcount = 0;          // above 0: exactly this many blocks (at most 1024) instead
  bool randomtables = false;       // random starting tables, drawn afresh for every block
  uint64_t randomseed = 0;         // the generator's seed for them
  bool onecodeforempty = false;    // an unused code-length table gets one code (zlib 1.2.1)
  bool neverstore = false;         // keep the shortest pass even when the data did not shrink
  // Above 0: after this many passes the loop ends with the best of them
  // (re-created by one more pass when the last is not the best); 0: the
  // passes run until another cannot help.
  int32_t maxpasses = 0;
  // Keep the steps and the block positions of the last pass (see
  // encoder::recording): what the extra-effort mode works from.
  bool record = false;
  // Price each block's parse by each symbol's share of the block's counts
  // in the pass before, in fractions of a bit, rather than by the whole
  // bits of its code length (the extra-effort modes; a small block's codes
  // settle better so).
  bool sharecosts = false;
  // With a lender: the least bytes a range of a pass coded in parallel is
  // given (below it the range's rebuilt match state costs more than its
  // share of the pass saves). The bits never depend on it.
  int64_t leastrange = (int64_t)1 << 19;
  // With a lender and an input that is not in memory: the most bytes of
  // whole blocks a pass holds at a time (more when one block is longer).
  int64_t sectionbytes = (int64_t)1 << 28;
};

// Told of the file's progress, between passes only (never on a hot path).
class encodewatcher {
 public:
  virtual ~encodewatcher() = default;
  // The block ends chosen for the file, the last being its length.
  virtual void blocklayout(const int64_t *ends, int32_t count) { (void)ends, (void)count; }
  // Pass number pass (from 1) begins.
  virtual void passbegins(int32_t pass) { (void)pass; }
  // The pass just ended wrote length bytes; predictedsaving is what it
  // predicts the next pass saves, in bits (0 or less: the passes have
  // converged); finalpass marks a pass that repeats the best one.
  virtual void passends(int64_t length, int64_t predictedsaving, bool finalpass) {
    (void)length, (void)predictedsaving, (void)finalpass;
  }
  // Extra effort: a trial (0 the normal run) coded the file in length
  // bytes, and gave the best coding so far of won of its blocks.
  virtual void trialends(int32_t trial, int64_t length, int32_t won, int32_t blocks) {
    (void)trial, (void)length, (void)won, (void)blocks;
  }
};

class encoder;

// Encoders the caller can spare while a file is coded: each pass borrows
// what it can get and codes ranges of its blocks on them in parallel, with
// the bits one encoder alone would write. Asked once per pass, never on a
// hot path.
class encoderlender {
 public:
  virtual ~encoderlender() = default;
  // An encoder nothing else codes with until it is given back, or null.
  virtual encoder *borrow() = 0;
  virtual void giveback(encoder *e) = 0;
};

struct encoderesult {
  enum outcome {
    compressed,    // the sink holds the kept pass
    store,         // the data did not shrink: store it (the sink holds a longer pass)
    readfailed,    // the source could not deliver its bytes
    writefailed,   // the sink failed (see its error())
    nomemory,      // the whole data could not be held for the block layout
  };
  outcome result;
  int64_t length;   // bytes the sink holds from the start position
  int32_t passes;   // passes run, a final re-creating pass included
};
