#include "deflate/startingtables.h"

#include "deflate/blocktable.h"

uint64_t nextrandom(uint64_t *state) {
  uint64_t z = (*state += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

void fixedlengths(bool huffmanonly, int32_t *lengths) {
  if (huffmanonly) {
    for (int32_t s = 0; s < slotcount; s++) lengths[s] = s <= endofblock ? 8 : 0;
    lengths[128] = 9;
    lengths[endofblock] = 9;
    return;
  }
  for (int32_t s = 0; s < slotcount; s++) {
    int32_t v;
    if (s <= 143) v = 8;
    else if (s <= 255) v = 9;
    else if (s <= 281) v = 7;
    else if (s <= 285) v = 8;
    else if (s < distslot) v = 0;
    else if (s <= distslot + 1) v = 4;
    else if (s < distslot + 30) v = 5;
    else v = 0;
    lengths[s] = v;
  }
}

void randomlengths(uint64_t *state, huffmanscratch &scratch, int32_t *counts, int32_t *lengths) {
  for (int32_t s = 0; s < litlencount; s++) counts[s] = (int32_t)(nextrandom(state) & 32767) + 16384;
  counts[286] = counts[287] = 0;
  for (int32_t s = distslot; s < distslot + 30; s++) counts[s] = (int32_t)(nextrandom(state) & 32767) + 16384;
  counts[318] = counts[319] = 0;
  lengthsfromcounts(scratch, counts, litlencount, lengths, 16, false);
  lengthsfromcounts(scratch, counts + distslot, 30, lengths + distslot, 16, false);
}
