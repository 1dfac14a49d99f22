#include "deflate/trials.h"

#include <algorithm>
#include <cmath>

#include "deflate/startingtables.h"

void trial(encoder &enc, const uint8_t *data, int64_t length, const encodeoptions &o, int32_t passes,
           const std::vector<int32_t> &ends, const std::vector<int32_t> &lengths, encoderlender *lender) {
  encodeoptions to = o;
  to.record = true;
  to.maxpasses = passes;
  to.neverstore = true;
  to.sharecosts = true;
  memorysource in(data, (size_t)length);
  bytesink sink{bytesink::nowheretag{}};
  enc.passes(in, length, sink, to, nullptr, ends.data(), (int32_t)ends.size(), lengths.data(), lender);
}

void wholebitspass(encoder &enc, const uint8_t *data, int64_t length, const encodeoptions &o,
                   const std::vector<int32_t> &ends, const std::vector<int32_t> &lengths, encoderlender *lender) {
  encodeoptions to = o;
  to.record = true;
  to.sharecosts = false;
  memorysource in(data, (size_t)length);
  bytesink sink{bytesink::nowheretag{}};
  enc.setblocks(to, ends.data(), (int32_t)ends.size(), lengths.data());
  enc.lentpass(in, length, sink, lender);
}

std::vector<int32_t> nextlengths(const encoder &enc) {
  std::vector<int32_t> lengths;
  for (int32_t b = 0; b < enc.blockcount(); b++)
    lengths.insert(lengths.end(), enc.block(b).lengths, enc.block(b).lengths + slotcount);
  return lengths;
}

void polish(encoder &enc, const uint8_t *data, int64_t length, const encodeoptions &o, int32_t passes,
            const std::vector<int32_t> &ends, const std::vector<int32_t> &lengths, coding &kept,
            encoderlender *lender) {
  const size_t blocks = ends.size();
  kept.assign(blocks, codedblock{});
  for (size_t b = 0; b < blocks; b++) kept[b].end = ends[b], kept[b].bits = INT64_MAX;
  memorysource in(data, (size_t)length);
  bytesink sink{bytesink::nowheretag{}};
  int64_t before = INT64_MAX;
  for (int32_t pass = 0; pass < passes; pass++) {
    if (!pass) {
      wholebitspass(enc, data, length, o, ends, lengths, lender);
    } else {
      sink.seek(0);
      if (enc.lentpass(in, length, sink, lender) < 0) break;
    }
    const encoder::passrecord &r = enc.recording();
    int64_t total = 0;
    for (size_t b = 0; b < blocks; b++) {
      int64_t bits = recordedbits(r, b);
      total += bits;
      if (bits < kept[b].bits) takeblock(kept[b], r, b);
    }
    if (total >= before || enc.predictedsaving() <= 0) break;
    before = total;
  }
  enc.releaserecording();
}

namespace {

// Starting lengths for a block from the counts of steps coded in it.
void startingfrom(const std::vector<parsestep> &steps, size_t from, size_t to, const uint8_t *data, int32_t start,
                  int32_t end, uint64_t *random, double spread, huffmanscratch &s, bool onecode, int32_t *lengths) {
  stepcounts c;
  for (size_t k = from; k < to; k++) c.add(steps[k], 1);
  c.counts[endofblock] = 1;
  int64_t sum = 0;
  for (int32_t k = 0; k < slotcount; k++) sum += c.counts[k];
  // Weights in 64ths of a count, so that a floor of 1 is small beside any
  // real count; fewer bits when the sum would not fit 31 bits.
  const double scale = std::min(64.0, (double)(1 << 28) / (double)(sum + 1));
  bool present[256] = {};
  for (int32_t p = start; p < end; p++) present[data[p]] = true;
  int32_t w[slotcount] = {};
  for (int32_t k = 0; k < slotcount; k++) {
    if (k >= litlencount && k < distslot) continue;
    if (k >= distslot + distcodecount) continue;
    double v = c.counts[k] * scale;
    if (random) v *= std::exp(spread * (2.0 * (double)(nextrandom(random) >> 11) / 9007199254740992.0 - 1.0));
    bool floor = k < 256 ? present[k] : k == endofblock || random || k > endofblock;
    w[k] = (int32_t)std::min(v, 1e9);
    if (floor && w[k] < 1) w[k] = 1;
  }
  lengthsfromcounts(s, w, litlencount, lengths, 16, onecode);
  lengthsfromcounts(s, w + distslot, distcodecount, lengths + distslot, 16, onecode);
}

}  // namespace

std::vector<int32_t> startinglengths(const coding &c, const std::vector<int32_t> &ends, const uint8_t *data,
                                     uint64_t seed, double spread, huffmanscratch &s, bool onecode) {
  std::vector<parsestep> steps = allsteps(c);
  std::vector<int32_t> lengths(ends.size() * slotcount);
  size_t k = 0, from = 0;
  int32_t pos = 0, start = 0;
  for (size_t b = 0; b < ends.size(); b++) {
    while (k < steps.size() && pos < ends[b]) pos += steps[k++].length;
    uint64_t random = seed ^ (0x9e3779b97f4a7c15ull * (b + 1));
    startingfrom(steps, from, k, data, start, ends[b], seed ? &random : nullptr, spread, s, onecode,
                 lengths.data() + b * slotcount);
    from = k;
    start = ends[b];
  }
  return lengths;
}

void mergetrial(coding &best, std::vector<int32_t> &from, const encoder::passrecord &r, int32_t t) {
  for (size_t b = 0; b < best.size(); b++) {
    int64_t bits = recordedbits(r, b);
    if (bits < best[b].bits || (bits == best[b].bits && t < from[b])) takeblock(best[b], r, b), from[b] = t;
  }
}

void mergecoding(coding &best, std::vector<int32_t> &from, coding &c, int32_t t) {
  for (size_t b = 0; b < best.size(); b++) {
    int64_t bits = c[b].bits;
    if (bits < best[b].bits || (bits == best[b].bits && t < from[b])) best[b] = std::move(c[b]), from[b] = t;
  }
}
