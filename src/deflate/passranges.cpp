// One pass coded in ranges of blocks on several encoders at once, so that a
// single large file keeps every thread busy. The calling encoder codes the
// first range; each borrowed encoder gets a copy of the block table and
// codes a later range from a match state it rebuilds over the bytes before
// the range: it searches them as a forced cut does (every position gets its
// hash link, run count and distance list, and nothing is offered), each
// position under the costs of the block it lies in, and then parses its
// blocks as one encoder coding the whole file would. The ranges' bits are
// joined at the running bit offset, their blocks' counts and next lengths
// copied back, and their recordings (when the pass records) appended at the
// bits and steps before them: the stream and the recording are those a
// single encoder makes.
//
// An input that is not in memory is read once per pass, in order, as it is
// by a single encoder (so its CRC-32 is that of the bytes coded), a section
// of whole blocks at a time: each section is held with the bytes its ranges
// rebuild from and look ahead to, and coded in ranges before the next is
// read. Memory then stays bounded whatever the file's length.
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
constexpr int32_t mostborrowed = 255;

}  // namespace

// Where block b starts and ends while a pass runs (the last block's end is
// then open: the data's length ends it).
int64_t encoder::blockstart(int32_t b) const { return b > 0 ? blocks_[b - 1].end : 0; }
int64_t encoder::blockend(int32_t b, int64_t length) const { return b < blockcount_ - 1 ? blocks_[b].end : length; }

// Where the match state of a range starting at start is rebuilt from.
int64_t encoder::rebuildfrom(int64_t start) const {
  return options_.strategy <= 1 ? std::max<int64_t>(0, start - rebuildspan) : start;
}

// Searches the positions up to until as a forced cut does, under the costs
// of the block each lies in.
void encoder::rebuildupto(int32_t until) {
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
  recordblockstart();
  writeblockstart();
}

// Codes blocks first..stop-1 of the pass with the bit writer as it stands,
// the last block ended (and the stream not aligned) when stop is the block
// count. held holds the bytes the range reads.
void encoder::coderange(const heldbytes &held, int64_t length, int32_t first, int32_t stop) {
  parsestate &ps = parse_;
  const int64_t start = blockstart(first), end = blockend(stop - 1, length);
  const int64_t from = rebuildfrom(start);
  // Positions past a block's end see the bytes behind it, as they do in the
  // whole file; the last range reads to the end of the data.
  const int64_t feedend = std::min(end + lookahead, length);

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
    receive(held.data + (o - held.first), n);
    o += n;
    int32_t until = o == length ? ps.received : ps.received - lookahead;
    if (end - ps.base < until) until = (int32_t)(end - ps.base);
    if (rebuilding) {
      const int32_t at = (int32_t)std::min<int64_t>(start - ps.base, until);
      rebuildupto(at);
      if (ps.nextpos == start - ps.base) {
        rebuilding = false;
        beginblock(first);
      }
    }
    if (!rebuilding) parseupto(until);
  }
  if (stop == blockcount_) endblock();
}

// Appends a range's recording, made from its own bit 0 and first step, at
// the bits and steps written so far.
void encoder::joinrecording(passrecord &range) {
  const int64_t bits = (bits_.sink->tell() - passstart_) * 8 + bits_.pendingbits;
  const int64_t steps = (int64_t)recording_.steps.size();
  for (int64_t k : range.firststep) recording_.firststep.push_back(k + steps);
  for (int64_t k : range.firstbit) recording_.firstbit.push_back(k + bits);
  recording_.lengths.insert(recording_.lengths.end(), range.lengths.begin(), range.lengths.end());
  recording_.steps.insert(recording_.steps.end(), range.steps.begin(), range.steps.end());
  range = passrecord{};
}

// Codes blocks first..stop-1, whose bytes held holds, in ranges of about
// equal bytes: the first on this encoder, the others on the helpers. Adds
// the blocks' predicted saving to saving.
void encoder::codesection(const heldbytes &held, int64_t length, int32_t first, int32_t stop, encoder *const *helpers,
                          int32_t helpercount, int64_t &saving) {
  const int64_t start = blockstart(first);
  const int64_t bytes = blockend(stop - 1, length) - start;
  const int32_t most = (int32_t)std::min<int64_t>(helpercount, bytes / std::max<int64_t>(options_.leastrange, 1) - 1);
  int32_t firsts[mostborrowed + 2];
  int32_t ranges = 0;
  firsts[ranges++] = first;
  for (int32_t r = 1, b = first + 1; r <= most; r++) {
    const int64_t target = start + bytes * r / (most + 1);
    while (b < stop - 1 && blockstart(b) < target) b++;
    if (b > firsts[ranges - 1] && b < stop) firsts[ranges++] = b;
  }
  firsts[ranges] = stop;

  std::thread threads[mostborrowed];
  for (int32_t r = 1; r < ranges; r++) {
    encoder &h = *helpers[r - 1];
    h.options_ = options_;
    h.blockcount_ = blockcount_;
    // The blocks the rebuild crosses (at least the one before, whose end
    // is the range's start) and the range's own.
    int32_t k = firsts[r] - 1;
    while (k > 0 && blocks_[k - 1].end > rebuildfrom(blockstart(firsts[r]))) k--;
    std::copy(blocks_ + k, blocks_ + firsts[r + 1], h.blocks_ + k);
    h.rangebits_ = std::make_unique<bytesink>();
    h.bits_.start(h.rangebits_.get());
    h.passstart_ = 0;
    h.clearrecording();
    auto code = [&h, &held, length, from = firsts[r], to = firsts[r + 1]] { h.coderange(held, length, from, to); };
    try {
      threads[r - 1] = std::thread(code);
    } catch (const std::system_error &) {
      code();   // no thread to be had: the range is coded here, the bits the same
    }
  }
  coderange(held, length, firsts[0], firsts[1]);
  saving += predictedsaving_;
  for (int32_t r = 1; r < ranges; r++) {
    if (threads[r - 1].joinable()) threads[r - 1].join();
    encoder &h = *helpers[r - 1];
    if (options_.record) joinrecording(h.recording_);
    const uint8_t *bits = h.rangebits_->bytes();
    for (int64_t k = 0, n = h.rangebits_->tell(); k < n; k++) bits_.put(bits[k], 8);
    bits_.put((int32_t)h.bits_.pending, h.bits_.pendingbits);
    std::copy(h.blocks_ + firsts[r], h.blocks_ + firsts[r + 1], blocks_ + firsts[r]);
    saving += h.predictedsaving_;
    h.rangebits_.reset();
  }
}

int64_t encoder::rangedpass(bytesource &in, int64_t length, bytesink &out) {
  if (!lender_ || options_.strategy == 2 || blockcount_ < 2 || length < 2 * options_.leastrange)
    return onepass(in, length, out);
  encoder *helpers[mostborrowed];
  const int32_t most = (int32_t)std::min<int64_t>({blockcount_ - 1, length / std::max<int64_t>(options_.leastrange, 1) - 1, mostborrowed});
  int32_t borrowed = 0;
  while (borrowed < most) {
    encoder *e = lender_->borrow();
    if (!e) break;
    helpers[borrowed++] = e;
  }
  if (borrowed == 0) return onepass(in, length, out);

  const int64_t start = passstart_ = out.tell();
  blocks_[blockcount_ - 1].end = openend;
  bits_.start(&out);
  clearrecording();
  int64_t saving = 0;
  bool readfailed = false;
  if (const uint8_t *whole = in.whole()) {
    codesection({whole, 0}, length, 0, blockcount_, helpers, borrowed, saving);
  } else if (!in.rewind()) {
    readfailed = true;
  } else {
    // The data read once, in order, a section of whole blocks at a time,
    // each held with the bytes its ranges rebuild from and look ahead to.
    int64_t heldfrom = 0, heldto = 0;
    for (int32_t first = 0, stop; first < blockcount_ && !readfailed; first = stop) {
      const int64_t begin = blockstart(first);
      stop = first + 1;
      while (stop < blockcount_ && blockend(stop, length) - begin <= options_.sectionbytes) stop++;
      const int64_t from = rebuildfrom(begin);
      const int64_t to = std::min(blockend(stop - 1, length) + lookahead, length);
      const int64_t kept = std::max<int64_t>(heldto - from, 0);
      if (kept > 0) memmove(sectionbytes_.data(), sectionbytes_.data() + (heldto - kept - heldfrom), (size_t)kept);
      if ((int64_t)sectionbytes_.size() < to - from) sectionbytes_.resize((size_t)(to - from));
      for (int64_t o = from + kept; o < to && !readfailed; o += readpiece)
        readfailed = !in.read(sectionbytes_.data() + (o - from), (int32_t)std::min<int64_t>(readpiece, to - o));
      heldfrom = from, heldto = to;
      if (!readfailed) codesection({sectionbytes_.data(), from}, length, first, stop, helpers, borrowed, saving);
    }
  }
  while (borrowed > 0) lender_->giveback(helpers[--borrowed]);
  if (readfailed) return -1;
  predictedsaving_ = saving;
  curblock_ = stopblock_ = blockcount_;
  recordblockstart();
  bits_.align();
  out.flush();
  if (out.failed()) return -2;
  return out.tell() - start;
}
