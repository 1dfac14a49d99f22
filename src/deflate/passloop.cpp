// The passes over one file. The blocks are laid out once; then the whole
// file is coded again and again, each pass coding every block with the code
// lengths derived from that block's own counts in the pass before and
// overwriting the previous pass in the sink. The loop stops when another
// pass is predicted to save nothing, when the sequence of tables repeats,
// or at the pass cap; the best pass is re-created when the last is not the
// best, and a file that does not shrink is to be stored.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "deflate/blockheader.h"
#include "deflate/encoder.h"
#include "deflate/startingtables.h"
#include "stream/crc32.h"

encoder::encoder() : chunk_(readpiece) {}

void *encoder::operator new(size_t size) {
  void *p = calloc(1, size);
  if (!p) throw std::bad_alloc();
  return p;
}

void encoder::operator delete(void *p) { free(p); }

int32_t encoder::layout(bytesource &in, int64_t length) {
  // An input longer than a block may be is first cut into equal sections of
  // at most maxblocklength bytes, each given its share of the blocks, and
  // the splitter cuts each section; a shorter input is one section.
  const int64_t sections = length > maxblocklength ? (length + maxblocklength - 1) / maxblocklength : 1;
  const bool split = options_.splitthreshold > 0.0;
  const uint8_t *whole = split ? in.whole() : nullptr;
  // One buffer of the longest section (they differ by a byte at most): a
  // buffer that grew for a longer one would be held twice while it moves.
  std::vector<uint8_t> copy;
  if (split && !whole) {
    copy.resize((size_t)((length + sections - 1) / sections) + 1);
    if (!in.rewind()) return -1;
  }
  int32_t count = 0;
  int32_t ends[maxblocks];
  for (int64_t k = 0; k < sections; k++) {
    const int64_t from = length * k / sections, to = length * (k + 1) / sections;
    const auto share = [&](int64_t n) { return (int32_t)(n * (k + 1) / sections - n * k / sections); };
    int32_t got = 1;
    ends[0] = (int32_t)(to - from);
    if (split) {
      const uint8_t *data = whole ? whole + from : nullptr;
      if (!data) {
        if (!in.read(copy.data(), (int32_t)(to - from))) return -1;
        data = copy.data();
      }
      const int32_t wanted = options_.blockcount > 0 ? std::max(share(options_.blockcount), 1) : 0;
      got = splitblocks(splitter_, data, (int32_t)(to - from), options_.splitthreshold, wanted, ends,
                        share(maxblocks));
    }
    for (int32_t b = 0; b < got; b++) blocks_[count++].end = from + ends[b];
  }
  return count;
}

void encoder::startinglengths() {
  uint64_t state = options_.randomseed;
  for (int32_t b = 0; b < blockcount_; b++) {
    blocks_[b].hasshares = false;
    if (options_.strategy == 3 || !options_.randomtables) fixedlengths(options_.strategy == 3, blocks_[b].lengths);
    else randomlengths(&state, huffman_, blocks_[b].counts, blocks_[b].lengths);
  }
}

int64_t encoder::onepass(bytesource &in, int64_t length, bytesink &out, int32_t pieces) {
  const int64_t start = passstart_ = out.tell();
  bits_.start(&out);
  clearrecording();
  startpass();
  recordblockstart();
  writeblockstart();

  if (!in.rewind()) return -1;
  for (int64_t o = 0; o < length; o += readpiece) {
    int32_t n = length - o < readpiece ? (int32_t)(length - o) : readpiece;
    if (!in.read(chunk_.data(), n)) return -1;
    for (int32_t k = 0; k < n; k += pieces) {
      if (parse_.received >= rebaseat) rebase();
      parsechunk(chunk_.data() + k, n - k < pieces ? n - k : pieces);
    }
    if (out.failed()) return -2;
  }
  parsechunk(nullptr, 0);
  endblock();
  recordblockstart();
  bits_.align();
  // The pass's bytes reach a file sink now, so that a write that fails is
  // noticed before the pass is reported.
  out.flush();
  if (out.failed()) return -2;
  return out.tell() - start;
}

uint32_t encoder::fingerprint() const {
  // The rows read as one sequence, taken in pairs from the last to the
  // first, each pair packed into one byte (lengths are at most 15).
  const uint8_t *seq = &history_.codedwith[0][0];
  uint32_t r = 0xffffffff;
  for (int32_t k = blockcount_ * slotcount - 2; k >= 0; k -= 2) r = crcstep(r, (uint32_t)seq[k + 1] * 16 + seq[k]);
  return r;
}

void encoder::restorebest() {
  for (int32_t b = 0; b < blockcount_; b++)
    for (int32_t s = 0; s < slotcount; s++) blocks_[b].lengths[s] = history_.best[b][s];
  if (options_.sharecosts) {
    for (int32_t b = 0; b < blockcount_; b++) {
      memcpy(blocks_[b].sharecost, history_.bestshares[b], sizeof blocks_[b].sharecost);
      blocks_[b].hasshares = history_.bestshared;
    }
  }
  history_.lastpass = true;
}

// Records the search pass just ended and decides what follows it. True:
// stop, this pass stands (the pass cap, or a repeat of an earlier pass that
// is the best). False: go on, with the best pass's lengths back in every
// block and lastpass set when a repeated pass is longer than the best.
bool encoder::recordpass(int64_t length) {
  passhistory &h = history_;
  if (h.passcount > maxpasses - 1) return true;
  h.lengths[h.passcount] = length;
  if (length < h.bestlength) {
    h.bestlength = length;
    memcpy(h.best, h.codedwith, (size_t)blockcount_ * slotcount);
    if (options_.sharecosts) {
      memcpy(h.bestshares, h.sharedwith, sizeof h.sharedwith[0] * (size_t)blockcount_);
      h.bestshared = h.shared;
    }
  }
  h.prints[h.passcount] = fingerprint();
  // The same tables give the same pass: once a pass repeats an earlier
  // one, every pass after it would repeat the ones between.
  int32_t k = h.passcount - 1;
  while (k >= 0 && !(h.prints[k] == h.prints[h.passcount] && h.lengths[k] == length)) k--;
  if (k < 0) return false;
  if (length <= h.bestlength) return true;
  restorebest();
  return false;
}

void encoder::setblocks(const encodeoptions &options, const int32_t *ends, int32_t count,
                        const int32_t *startlengths) {
  options_ = options;
  blockcount_ = count;
  for (int32_t b = 0; b < count; b++) {
    blocks_[b].end = ends[b];
    memcpy(blocks_[b].lengths, startlengths + (size_t)b * slotcount, sizeof blocks_[b].lengths);
    blocks_[b].hasshares = false;
  }
}

encoderesult encoder::passes(bytesource &in, int64_t length, bytesink &out, const encodeoptions &options,
                             encodewatcher *watcher, const int32_t *ends, int32_t count,
                             const int32_t *startlengths, encoderlender *lender) {
  setblocks(options, ends, count, startlengths);
  lender_ = lender;
  const encoderesult r = runpasses(in, length, out, watcher);
  lender_ = nullptr;
  return r;
}

int64_t encoder::lentpass(bytesource &in, int64_t length, bytesink &out, encoderlender *lender) {
  lender_ = lender;
  const int64_t n = rangedpass(in, length, out);
  lender_ = nullptr;
  return n;
}

encoderesult encoder::runpasses(bytesource &in, int64_t length, bytesink &out, encodewatcher *watcher) {
  passhistory &h = history_;
  h.lastpass = false;
  h.passcount = 0;
  h.bestlength = INT64_MAX;
  const int64_t start = out.tell();
  int64_t len;
  for (;;) {
    for (int32_t b = 0; b < blockcount_; b++)
      for (int32_t s = 0; s < slotcount; s++) h.codedwith[b][s] = (uint8_t)blocks_[b].lengths[s];
    if (options_.sharecosts) {
      for (int32_t b = 0; b < blockcount_; b++) memcpy(h.sharedwith[b], blocks_[b].sharecost, sizeof h.sharedwith[b]);
      h.shared = blocks_[0].hasshares;
    }
    if (watcher) watcher->passbegins(h.passcount + 1);
    out.seek(start);
    len = rangedpass(in, length, out);
    if (len < 0) return {len == -1 ? encoderesult::readfailed : encoderesult::writefailed, 0, h.passcount + 1};
    if (watcher) watcher->passends(len, predictedsaving_, h.lastpass);

    if (h.lastpass) break;
    if (predictedsaving_ <= 0) {
      // Converged: the data did not shrink, or this pass or the best one
      // stands.
      if (!options_.neverstore && length < (h.bestlength < len ? h.bestlength : len))
        return {encoderesult::store, len, h.passcount + 1};
      if (len <= h.bestlength) break;
      restorebest();
    }
    if (!h.lastpass && recordpass(len)) break;
    if (!h.lastpass && options_.maxpasses > 0 && h.passcount + 1 >= options_.maxpasses) {
      if (len <= h.bestlength) break;
      restorebest();
    }
    h.passcount++;
  }
  return {encoderesult::compressed, len, h.passcount + 1};
}

encoderesult encoder::compress(bytesource &in, int64_t length, bytesink &out, const encodeoptions &options,
                               encodewatcher *watcher, encoderlender *lender) {
  options_ = options;
  try {
    blockcount_ = layout(in, length);
  } catch (const std::bad_alloc &) {
    return {encoderesult::nomemory, 0, 0};
  }
  if (blockcount_ < 0) return {encoderesult::readfailed, 0, 0};
  int64_t ends[maxblocks];
  for (int32_t b = 0; b < blockcount_; b++) ends[b] = blocks_[b].end;
  if (watcher) watcher->blocklayout(ends, blockcount_);
  startinglengths();
  lender_ = lender;
  const encoderesult r = runpasses(in, length, out, watcher);
  lender_ = nullptr;
  sectionbytes_ = std::vector<uint8_t>();   // a file's sections are held while it is coded only
  return r;
}
