#include "deflate/blocktype.h"

#include <algorithm>
#include <cstring>

int64_t storedbits(int64_t bytes, int64_t position) {
  int64_t blocks = std::max<int64_t>(1, (bytes + storedmax - 1) / storedmax);
  // After the first block the stream is on a byte boundary: 3 bits, 5 of
  // padding.
  return 3 + ((8 - (position + 3) % 8) % 8) + 32 + (blocks - 1) * 40 + 8 * bytes;
}

namespace {

// Writes the steps with the codes and lengths given, then end of block.
void writesteps(bitwriter &bits, const std::vector<parsestep> &steps, const int32_t *lengths, const int32_t *codes) {
  for (parsestep st : steps) {
    stepslots k = slotsof(st);
    bits.put(codes[k.litlen], lengths[k.litlen]);
    if (k.dist < 0) continue;
    const coderow &lr = codetables.rows[(size_t)(k.litlen - lengthsymbolbase)];
    const coderow &dr = codetables.rows[(size_t)(k.dist - distslot)];
    bits.put(st.length - lr.base, lr.extrabits);
    bits.put(codes[k.dist], lengths[k.dist]);
    bits.put(st.dist - dr.base, dr.extrabits);
  }
  bits.put(codes[endofblock], lengths[endofblock]);
}

stepcounts countsof(const std::vector<parsestep> &steps) {
  stepcounts c;
  for (parsestep st : steps) c.add(st, 1);
  return c;
}

}  // namespace

void recodeblock(codedblock &b, huffmanscratch &s, bool onecode) {
  if (b.type != blocktype::dynamic) return;
  int32_t lengths[slotcount];
  headerplan plan;
  int64_t n = cheapestdynamic(countsof(b.steps), b.lengths.empty() ? nullptr : b.lengths.data(), s, onecode, lengths, plan);
  if (n >= b.bits) return;
  b.bits = n;
  b.lengths.assign(lengths, lengths + slotcount);
  b.header = plan;
}

void choosetypes(coding &c, const coding *fixedparse, huffmanscratch &s, bool onecode) {
  int64_t position = 0;
  int32_t start = 0;
  for (size_t b = 0; b < c.size(); b++) {
    codedblock &k = c[b];
    if (k.type == blocktype::stored) k.bits = storedbits(k.end - start, position);
    int64_t stored = storedbits(k.end - start, position);
    // The fixed code on the block's own steps (their dynamic coding is what
    // the block has).
    if (!k.steps.empty()) {
      int64_t fixed = countsof(k.steps).fixedbits();
      if (fixed < k.bits) k.type = blocktype::fixed, k.bits = fixed, k.lengths.clear();
    }
    // The fixed code, or dynamic codes, on the steps of the parse made for
    // the fixed code.
    if (fixedparse) {
      const std::vector<parsestep> &steps = (*fixedparse)[b].steps;
      stepcounts counts = countsof(steps);
      int64_t fixed = counts.fixedbits();
      int32_t lengths[slotcount];
      headerplan plan;
      int64_t dynamic = cheapestdynamic(counts, nullptr, s, onecode, lengths, plan);
      if (fixed < k.bits && fixed <= dynamic) {
        k.type = blocktype::fixed, k.bits = fixed, k.steps = steps, k.lengths.clear();
      } else if (dynamic < k.bits) {
        k.type = blocktype::dynamic, k.bits = dynamic, k.steps = steps;
        k.lengths.assign(lengths, lengths + slotcount), k.header = plan;
      }
    }
    if (stored < k.bits) k.type = blocktype::stored, k.bits = stored, k.lengths.clear();
    position = (position + k.bits) % 8;
    start = k.end;
  }
}

int64_t writecoding(const coding &c, const uint8_t *data, bytesink &out, huffmanscratch &s, bool onecode) {
  const int64_t begin = out.tell();
  bitwriter bits;
  bits.start(&out);
  int32_t start = 0;
  for (size_t b = 0; b < c.size(); b++) {
    const codedblock &k = c[b];
    const bool last = b + 1 == c.size();
    if (k.type == blocktype::stored) {
      for (int64_t p = start; p < k.end || p == start;) {
        int32_t n = (int32_t)std::min<int64_t>(storedmax, k.end - p);
        bits.put(last && p + n == k.end ? 1 : 0, 1);   // BFINAL
        bits.put(0, 2);                                // BTYPE: stored
        bits.align();
        bits.put(n, 16);
        bits.put(n ^ 0xffff, 16);
        for (int32_t i = 0; i < n; i++) bits.put(data[p + i], 8);
        p += n;
        if (n == 0) break;
      }
    } else {
      const int32_t *lengths = k.type == blocktype::fixed ? fixedcode.data() : k.lengths.data();
      int32_t codes[slotcount];
      canonicalcodes(lengths, k.type == blocktype::fixed ? fixedlitlencount : litlencount, codes);
      canonicalcodes(lengths + distslot, distcodecount, codes + distslot);
      bits.put(last ? 1 : 0, 1);   // BFINAL
      bits.put(k.type == blocktype::fixed ? 1 : 2, 2);
      if (k.type == blocktype::dynamic) writeplannedheader(bits, lengths, k.header, s, onecode);
      writesteps(bits, k.steps, lengths, codes);
    }
    start = k.end;
  }
  bits.align();
  return out.tell() - begin;
}
