// The encoder: all the state of coding one file, allocated once and reused
// for every file a thread codes. The state is grouped by concern, and each
// concern's operations live in the file named after it:
//
//   blocksplit.cpp   where the blocks end (once per file)
//   passloop.cpp     the passes, their history, the best pass kept
//   passranges.cpp   one pass in ranges of blocks on several encoders
//   blocktable.cpp   starting and ending a block within a pass
//   parse.cpp        the shortest-path parse and the writing of its steps
//   matchsearch.cpp  the candidates the parse weighs at each position
//
// The hot paths (the search, the offer, the parse, the bit writer) reach all
// of it through one object, so they cost no more than plain tables would.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "deflate/bitwriter.h"
#include "deflate/blocksplit.h"
#include "deflate/blocktable.h"
#include "deflate/codetables.h"
#include "deflate/huffman.h"
#include "deflate/matchsearch.h"
#include "deflate/options.h"
#include "deflate/parse.h"
#include "deflate/passhistory.h"
#include "stream/bytesink.h"
#include "stream/bytesource.h"

// The input is read in pieces of this size; the parse takes at most
// maxchunk bytes of each at a time.
constexpr int32_t readpiece = 65536;

// Bytes of the input held in memory: data[0] is the byte at offset first.
struct heldbytes {
  const uint8_t *data;
  int64_t first;
};

class encoder {
 public:
  encoder();
  // About 22 MB: allocated zeroed by the system, so that pages the coding
  // of small files never reaches are never touched.
  static void *operator new(size_t size);
  static void operator delete(void *p);

  // Codes length bytes of in (read from its first byte, once per pass) as a
  // Deflate stream into out, from out's position at the call; see deflate.h.
  // With a lender and a strategy whose match state the bytes before a
  // block decide, each pass codes ranges of blocks on the encoders it can
  // borrow (see passranges.cpp), holding a section of the input at a time
  // unless it lies in memory (in.whole()).
  encoderesult compress(bytesource &in, int64_t length, bytesink &out, const encodeoptions &options,
                        encodewatcher *watcher, encoderlender *lender = nullptr);

  // The pass loop alone, over blocks that end at ends[0..count) (the last
  // is length) and start with the given 320-slot lengths each; with a
  // lender, as compress codes its passes.
  encoderesult passes(bytesource &in, int64_t length, bytesink &out, const encodeoptions &options,
                      encodewatcher *watcher, const int32_t *ends, int32_t count, const int32_t *startlengths,
                      encoderlender *lender = nullptr);

  // Sets the blocks a pass codes: their ends and starting lengths, as
  // passes() does before its first pass.
  void setblocks(const encodeoptions &options, const int32_t *ends, int32_t count, const int32_t *startlengths);
  // One pass over the blocks as they stand, from the sink's position; its
  // length, or -1 when the input failed, or -2 when the sink did. pieces
  // caps the bytes handed to the parse at a time (the output does not
  // depend on it).
  int64_t onepass(bytesource &in, int64_t length, bytesink &out, int32_t pieces = maxchunk);
  // The same pass, in ranges on the encoders lender spares (the same bits
  // and recording).
  int64_t lentpass(bytesource &in, int64_t length, bytesink &out, encoderlender *lender);

  // With options.record, what the last pass wrote: its steps in order, and
  // for every block the index of its first step and the bit (counted from
  // the pass's first bit) where its header begins; entry blockcount() holds
  // the end of the steps and the bit behind the last end-of-block code.
  struct passrecord {
    // In pieces, not one buffer: a large file's steps are many, and a
    // buffer that doubles would hold up to twice them, and three times while
    // it moves.
    std::deque<parsestep> steps;
    std::vector<int64_t> firststep, firstbit;
    std::vector<int32_t> lengths;   // the 320 lengths each block was coded with
  };
  const passrecord &recording() const { return recording_; }
  // Gives the recording's memory back (a large file's steps are many).
  void releaserecording() { recording_ = passrecord{}; }

  // The block table after a pass: each block's lengths for the next pass.
  const blockrecord &block(int32_t b) const { return blocks_[b]; }
  int32_t blockcount() const { return blockcount_; }
  int64_t predictedsaving() const { return predictedsaving_; }

 private:
  // ---- blocksplit.cpp and passloop.cpp ----
  int32_t layout(bytesource &in, int64_t length);
  encoderesult runpasses(bytesource &in, int64_t length, bytesink &out, encodewatcher *watcher);
  void startinglengths();
  // ---- passranges.cpp ----
  int64_t rangedpass(bytesource &in, int64_t length, bytesink &out);
  void coderange(const heldbytes &held, int64_t length, int32_t first, int32_t stop);
  void codesection(const heldbytes &held, int64_t length, int32_t first, int32_t stop, encoder *const *helpers,
                   int32_t helpercount, int64_t &saving);
  int64_t rebuildfrom(int64_t start) const;
  int64_t blockstart(int32_t b) const;
  int64_t blockend(int32_t b, int64_t length) const;
  void rebuildupto(int32_t until);
  void beginblock(int32_t b);
  bool recordpass(int64_t length);
  uint32_t fingerprint() const;
  void restorebest();

  // ---- blocktable.cpp ----
  void startblock(int32_t b);
  void endblock();
  // BFINAL, BTYPE (dynamic codes) and the header of block curblock_.
  void writeblockstart();

  // ---- parse.cpp ----
  void startpass();
  void resetstate();
  void setblockend();
  void rebase();
  void parsechunk(const uint8_t *buf, int32_t n);
  void receive(const uint8_t *buf, int32_t n);
  void parseupto(int32_t until);
  void writesteps();
  int32_t forcedreach();
  bool stepcoded(parsestep r) const;
  // Records the step (l, d) from p when it is the cheapest known way to
  // p + l and p + l does not pass the block end or the data received.
  void offer(int32_t p, int32_t l, int32_t d, int32_t cost) {
    int32_t t = p + l;
    if (cost < parse_.pathcost[t & costmask] && t <= parse_.steplimit) {
      if (t > parse_.reach) parse_.reach = t;
      parse_.pathcost[t & costmask] = cost;
      parse_.laststep[t & stepmask] = parsestep{(uint16_t)l, (uint16_t)d};
    }
  }

  // ---- matchsearch.cpp ----
  void search(int32_t p, int32_t cost);
  void skip(int32_t q);
  void walknearest(int32_t p, int32_t cost, int32_t d);
  void walkxtreme(int32_t p, int32_t cost, int32_t d);
  bool cannotextend(int32_t p, int32_t l, int32_t d0) const;
  int32_t nextcandidate(int32_t p, int32_t l, int32_t d) const;
  void runstep(int32_t q, int32_t b);

  void clearrecording() {
    recording_.steps.clear();
    recording_.firststep.clear();
    recording_.firstbit.clear();
    recording_.lengths.clear();
  }
  void joinrecording(passrecord &range);
  // Notes where block curblock_ begins, when recording.
  void recordblockstart() {
    if (!options_.record) return;
    recording_.firststep.push_back((int64_t)recording_.steps.size());
    recording_.firstbit.push_back((bits_.sink->tell() - passstart_) * 8 + bits_.pendingbits);
    if (curblock_ < blockcount_)
      recording_.lengths.insert(recording_.lengths.end(), blocks_[curblock_].lengths, blocks_[curblock_].lengths + slotcount);
  }

  encodeoptions options_;
  std::vector<uint8_t> chunk_;   // one piece of input
  int64_t passstart_ = 0;        // the sink's position where the pass began
  passrecord recording_;

  // The blocks of the current file and the one being coded.
  blockrecord blocks_[maxblocks];
  int32_t blockcount_;
  int32_t curblock_;          // stopblock_ once every block is finished
  int32_t stopblock_;         // the pass ends with the block before it: blockcount_, or a range's end
  encoderlender *lender_ = nullptr;   // the file's lender, if any
  std::unique_ptr<bytesink> rangebits_;   // a borrowed encoder's range of a pass, from bit 0
  std::vector<uint8_t> sectionbytes_;     // a streamed input's section, for a pass in ranges
  int32_t codes_[slotcount];  // bit-reversed codes of the current block
  int32_t newlengths_[slotcount];
  // Parse cost of each code row (length + extra bits, or nocodecost).
  int32_t codecost_[coderowcount];
  // Parse cost of each literal (its length, or its share), in 1/16 bits.
  int32_t literalcost_[256];
  // Xtreme: for each distance code, the next code above it whose cost is
  // strictly lower, or 30.
  uint8_t cheapercode_[32];
  // Bits by which this pass's symbols would have been shorter had each
  // block been coded with the lengths derived from its own counts (64-bit:
  // a large file's saving can pass 2^31 bits).
  int64_t predictedsaving_;

  bitwriter bits_;
  huffmanscratch huffman_;
  blocksplitter splitter_;
  matchstate match_;
  parsestate parse_;
  passhistory history_;
};
