#include "deflate/coding.h"

#include <algorithm>

#include "deflate/blocktype.h"

int64_t totalbits(const coding &c) {
  int64_t n = 0;
  for (const codedblock &b : c) n += b.bits;
  return n;
}

int64_t recordedbits(const encoder::passrecord &r, size_t b) { return r.firstbit[b + 1] - r.firstbit[b]; }

void takeblock(codedblock &into, const encoder::passrecord &r, size_t b) {
  into.bits = recordedbits(r, b);
  into.type = blocktype::dynamic;
  into.steps.assign(r.steps.begin() + r.firststep[b], r.steps.begin() + r.firststep[b + 1]);
  into.lengths.assign(r.lengths.begin() + (int64_t)b * slotcount, r.lengths.begin() + (int64_t)(b + 1) * slotcount);
  into.header.count = 0;
}

coding codingof(encoder &enc, const int32_t *ends, int32_t count) {
  coding c((size_t)count);
  for (int32_t b = 0; b < count; b++) {
    c[(size_t)b].end = ends[b];
    takeblock(c[(size_t)b], enc.recording(), (size_t)b);
  }
  enc.releaserecording();
  return c;
}

std::vector<parsestep> allsteps(const coding &c) {
  std::vector<parsestep> steps;
  for (const codedblock &b : c) steps.insert(steps.end(), b.steps.begin(), b.steps.end());
  return steps;
}

std::vector<int32_t> layoutof(const coding &c) {
  std::vector<int32_t> ends;
  for (const codedblock &b : c) ends.push_back(b.end);
  return ends;
}

std::vector<int32_t> byteends(const std::vector<parsestep> &steps, const std::vector<int64_t> &stepends) {
  std::vector<int32_t> ends;
  int64_t pos = 0, k = 0;
  for (int64_t e : stepends) {
    for (; k < e; k++) pos += steps[(size_t)k].length;
    ends.push_back((int32_t)pos);
  }
  return ends;
}

stepslots slotsof(parsestep s) {
  if (s.length == 1) return {s.dist, -1, 0};
  int32_t lr = codetables.lengthrow[s.length - 3], dc = codetables.distcode[s.dist - 1];
  return {lengthsymbolbase + lr, distslot + dc,
          codetables.rows[(size_t)lr].extrabits + codetables.rows[(size_t)dc].extrabits};
}

int64_t stepcounts::symbolbits(const int32_t *lengths) const {
  int64_t n = extrabits;
  for (int32_t k = 0; k < slotcount; k++) n += (int64_t)counts[k] * lengths[k];
  return n;
}

int64_t stepcounts::dynamicbits(huffmanscratch &s, bool onecode, int32_t *lengths) {
  counts[endofblock]++;
  fastlengths(counts, litlencount, lengths, 16, onecode);
  fastlengths(counts + distslot, distcodecount, lengths + distslot, 16, onecode);
  int64_t n = 3 + blockheaderbits(lengths, s, onecode) + symbolbits(lengths);
  counts[endofblock]--;
  return n;
}

int64_t stepcounts::fixedbits() const {
  return 3 + symbolbits(fixedcode.data()) + fixedcode[endofblock];
}

int64_t stepcounts::cheapestbits(huffmanscratch &s, bool onecode) {
  return std::min({dynamicbits(s, onecode), fixedbits(), storedbits(bytes, typicalposition)});
}
