// One pass coded in ranges of blocks on several encoders at once, so that a
// single large file keeps every thread busy. The calling encoder codes the
// first range; each borrowed encoder gets a copy of the block table and
// codes a later range from a match state it rebuilds over the bytes before
// the range: it searches them as a forced cut does (every position gets its
// hash link, run count and distance list, and nothing is offered), each
// position under the costs of the block it lies in, and then parses its
// blocks as one encoder coding the whole file would. The ranges' bits are
// joined at the running bit offset, their blocks' counts and next lengths
// copied back: the stream is the one a single encoder writes.
//
// How far back the rebuild starts. A search at p reads the bytes, hash
// links and run counts of the 32 KiB before it, and the distance lists of
// the positions there; a list is made by a search that read the lists of
// the 32 KiB before its own position, and so on back. Under Intense a list
// holds, for each length, the nearest earlier occurrence within 32 KiB, so
// two windows' worth of bytes decide it: a rebuild 64 KiB back gives every
// list p reads (the run counts, capped at 32767, agree from 32 KiB after
// the rebuild's start). Under Xtreme a list also follows the cheaper
// distance codes of its block, so a list may in principle depend on lists
// made further back than any fixed span; the rebuild starts four windows
// back, where no difference has been found (see the tests), and Longest
// Match, whose lists depend on where the parse before stopped, is never
// coded in ranges.
#include <algorithm>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

#include "deflate/blockheader.h"
#include "deflate/encoder.h"

namespace {

// How far before a range its match state is rebuilt from.
constexpr int64_t rebuildspan = 4 * (int64_t)maxdistance;
// Most encoders one pass borrows.
constexpr int32_t mostborrowed = 63;

}  // namespace

// Where the match state of a range starting at start is rebuilt from.
int64_t encoder::rebuildfrom(int64_t start) const {
  return options_.strategy <= 1 ? std::max<int64_t>(0, start - rebuildspan) : start;
}

// Searches the positions up to until as a forced cut does, under the costs
// of the block each lies in.
void encoder::warmupto(int32_t until) {
  parsestate &ps = parse_;
  while (ps.nextpos < until) {
    const int32_t q = ps.nextpos;
    while (blocks_[curblock_].end - ps.base <= q) startblock(++curblock_);
    ps.steplimit = q;
    search(q, 0);
    ps.nextpos = q + 1;
  }
}

// Block b begins at the position reached, as it does after block b - 1
// ends in a pass over the whole file.
void encoder::beginblock(int32_t b) {
  parsestate &ps = parse_;
  curblock_ = b;
  startblock(b);
  for (int32_t k = 0; k <= costmask; k++) ps.pathcost[k] = unreached;
  ps.pathcost[ps.nextpos & costmask] = blockstartcost;
  ps.reach = ps.settled = ps.nextpos;
  bits_.put(b >= blockcount_ - 1 ? 1 : 0, 1);   // BFINAL
  bits_.put(2, 2);                              // BTYPE: dynamic codes
  writeblockheader(bits_, blocks_[b].lengths, huffman_, options_.onecodeforempty);
}

// Codes blocks first..stop-1 of the pass into sink, from bit 0 of its
// position, the last block ended (and the stream not aligned) when stop is
// the block count.
void encoder::coderange(const uint8_t *data, int64_t length, int32_t first, int32_t stop, bytesink &sink) {
  parsestate &ps = parse_;
  const int64_t start = first > 0 ? blocks_[first - 1].end : 0;
  const int64_t end = stop < blockcount_ ? blocks_[stop - 1].end : length;
  const int64_t from = rebuildfrom(start);
  // Positions past a block's end see the bytes behind it, as they do in the
  // whole file; the last range reads to the end of the data.
  const int64_t feedend = stop < blockcount_ ? std::min(end + lookahead, length) : length;

  bits_.start(&sink);
  resetstate();
  stopblock_ = stop;
  ps.base = from;
  bool rebuilding = from < start;
  if (rebuilding) {
    curblock_ = 0;
    while (blocks_[curblock_].end <= from) curblock_++;
    startblock(curblock_);
  } else {
    beginblock(first);
  }
  for (int64_t o = from; o < feedend;) {
    if (ps.received >= rebaseat) rebase();
    const int32_t n = (int32_t)std::min<int64_t>(maxchunk, feedend - o);
    receive(data + o, n);
    o += n;
    int32_t until = o == length ? ps.received : ps.received - lookahead;
    if (end - ps.base < until) until = (int32_t)(end - ps.base);
    if (rebuilding) {
      const int32_t at = (int32_t)std::min<int64_t>(start - ps.base, until);
      warmupto(at);
      if (ps.nextpos == start - ps.base) {
        rebuilding = false;
        beginblock(first);
      }
    }
    if (!rebuilding) parseupto(until);
  }
  if (stop == blockcount_) endblock();
}

int64_t encoder::rangedpass(bytesource &in, int64_t length, bytesink &out) {
  const uint8_t *data = in.whole();
  if (!lender_ || !data || options_.record || options_.strategy == 2 || blockcount_ < 2 || length < 2 * options_.leastrange)
    return onepass(in, length, out);

  // Ranges of about equal bytes, one per encoder, each starting at a block.
  encoder *helpers[mostborrowed];
  int32_t firsts[mostborrowed + 2];
  const int32_t most = (int32_t)std::min<int64_t>({blockcount_ - 1, length / std::max<int64_t>(options_.leastrange, 1) - 1, mostborrowed});
  int32_t borrowed = 0;
  while (borrowed < most) {
    encoder *e = lender_->borrow();
    if (!e) break;
    helpers[borrowed++] = e;
  }
  int32_t ranges = 0;
  firsts[ranges++] = 0;
  for (int32_t r = 1, b = 1; r <= borrowed; r++) {
    const int64_t target = length * r / (borrowed + 1);
    while (b < blockcount_ - 1 && blocks_[b - 1].end < target) b++;
    if (b > firsts[ranges - 1]) firsts[ranges++] = b;
  }
  firsts[ranges] = blockcount_;
  while (borrowed > ranges - 1) lender_->giveback(helpers[--borrowed]);
  if (borrowed == 0) return onepass(in, length, out);

  const int64_t start = passstart_ = out.tell();
  blocks_[blockcount_ - 1].end = openend;
  std::thread threads[mostborrowed];
  for (int32_t r = 1; r < ranges; r++) {
    encoder &h = *helpers[r - 1];
    h.options_ = options_;
    h.blockcount_ = blockcount_;
    // The blocks the rebuild crosses (at least the one before, whose end
    // is the range's start) and the range's own.
    int32_t k = firsts[r] - 1;
    while (k > 0 && blocks_[k - 1].end > rebuildfrom(blocks_[firsts[r] - 1].end)) k--;
    std::copy(blocks_ + k, blocks_ + firsts[r + 1], h.blocks_ + k);
    h.rangebits_ = std::make_unique<bytesink>();
    auto code = [&h, data, length, first = firsts[r], stop = firsts[r + 1]] {
      h.coderange(data, length, first, stop, *h.rangebits_);
    };
    try {
      threads[r - 1] = std::thread(code);
    } catch (const std::system_error &) {
      code();   // no thread to be had: the range is coded here, the bits the same
    }
  }
  coderange(data, length, 0, firsts[1], out);
  for (int32_t r = 1; r < ranges; r++) {
    if (threads[r - 1].joinable()) threads[r - 1].join();
    encoder &h = *helpers[r - 1];
    const uint8_t *bytes = h.rangebits_->bytes();
    for (int64_t k = 0, n = h.rangebits_->tell(); k < n; k++) bits_.put(bytes[k], 8);
    bits_.put((int32_t)h.bits_.pending, h.bits_.pendingbits);
    std::copy(h.blocks_ + firsts[r], h.blocks_ + firsts[r + 1], blocks_ + firsts[r]);
    predictedsaving_ += h.predictedsaving_;
    h.rangebits_.reset();
    lender_->giveback(&h);
  }
  curblock_ = stopblock_ = blockcount_;
  bits_.align();
  out.flush();
  if (out.failed()) return -2;
  return out.tell() - start;
}
