#include "deflate/huffman.h"

#include <algorithm>
#include <cassert>
#include <climits>

// The sentinel's weight is below every real weight, so in slot 0 it stops
// every climb at the root without an index test.
constexpr int32_t sentinelweight = INT32_MIN;
// Weight of an unused symbol: it enters the heap like the others so that
// node numbers stay fixed, but it is never taken out, since real weights
// (and their sums, the counts of one call staying below 2^31) are smaller.
constexpr int32_t unusedweight = INT32_MAX;

void huffmanscratch::heapclear() {
  weight[sentinel] = sentinelweight;
  heap[0] = sentinel;
  heapcount = 0;
}

void huffmanscratch::heapinsert(int32_t node) {
  assert(heapcount < 289);
  int32_t w = weight[node];
  int32_t i = ++heapcount;
  // Strictly greater: a node never rises past one of equal weight, so of
  // equal weights the one inserted first comes out first.
  while (weight[heap[i >> 1]] > w) {
    heap[i] = heap[i >> 1];
    i >>= 1;
  }
  heap[i] = node;
}

int32_t huffmanscratch::heapremovetop() {
  assert(heapcount > 0);
  int32_t top = heap[1];
  int32_t mov = heap[heapcount];
  heapcount--;
  if (heapcount <= 1) {
    heap[1] = mov;
    return top;
  }
  int32_t w = weight[mov];
  int32_t i = 1;
  do {
    int32_t c = i << 1;
    // The right child only when strictly lighter: of equal children the
    // left one moves up.
    if (c + 1 <= heapcount && weight[heap[c + 1]] < weight[heap[c]]) c++;
    if (weight[heap[c]] >= w) break;
    heap[i] = heap[c];
    i = c;
  } while ((i << 1) <= heapcount);
  heap[i] = mov;
  return top;
}

void lengthsfromcounts(huffmanscratch &s, const int32_t *counts, int32_t n, int32_t *lengths, int32_t limit,
                       bool onecodeforempty) {
  assert(n >= 1 && n <= huffmanscratch::maxsymbols);
  // Coarsening: the weight of a used symbol is ceil(count / 2^shift). Each
  // round halves the weights, which flattens the tree; once every weight is
  // 1 the tree is balanced (9 levels for 286 symbols, 5 for 19), so the loop
  // ends. 64-bit so that count + round cannot overflow.
  int32_t shift = 0;
  int64_t round = 0;
  for (;;) {
    s.heapclear();
    int32_t used = 0;
    for (int32_t i = 0; i < n; i++) {
      if (counts[i] > 0) {
        s.weight[i] = (int32_t)(((int64_t)counts[i] + round) >> shift);
        used++;
      } else {
        s.weight[i] = unusedweight;
      }
      s.heapinsert(i);
    }

    if (used <= 1) {
      // No tree to build: a lone used symbol (the lightest node) gets a
      // 1-bit code. With none, the lightest node is an unused symbol and
      // keeps length 0.
      for (int32_t i = 0; i < n; i++) lengths[i] = 0;
      lengths[s.heapremovetop()] = used;
      if (onecodeforempty && used == 0) lengths[0] = 1;
      return;
    }

    // used - 1 merges take exactly the used symbols and the new nodes; the
    // unused symbols stay at the bottom of the heap.
    int32_t root = n + used - 2;
    for (int32_t t = n; t <= root; t++) {
      int32_t a = s.heapremovetop();
      s.parent[a] = t;
      int32_t b = s.heapremovetop();
      s.parent[b] = t;
      s.weight[t] = s.weight[a] + s.weight[b];
      s.heapinsert(t);
    }

    // Every parent has a higher number than its children, so one downward
    // sweep turns the internal nodes' weights into depths.
    s.weight[root] = 0;
    for (int32_t t = root - 1; t >= n; t--) s.weight[t] = s.weight[s.parent[t]] + 1;

    int32_t longest = 0;
    for (int32_t i = n - 1; i >= 0; i--) {
      if (counts[i] > 0) {
        int32_t l = s.weight[s.parent[i]] + 1;
        lengths[i] = l;
        if (l > longest) longest = l;
      } else {
        lengths[i] = 0;
      }
    }
    if (longest < limit) break;
    round += (int64_t)1 << shift;
    shift++;
  }

  // Runs of adjacent symbols with equal (scaled) weight get their lengths in
  // ascending order: the same multiset of lengths, so the code stays
  // complete and its cost unchanged, but the outcome no longer depends on
  // where the heap happened to put equal nodes. The leaves' weights are
  // still the final round's; an unused symbol's is unusedweight, which no
  // used symbol has when two or more are used, so it always ends a run.
  int32_t i = 0;
  while (i < n) {
    if (counts[i] <= 0) {
      i++;
      continue;
    }
    int32_t e = i + 1;
    while (e < n && s.weight[e] == s.weight[i]) e++;
    for (int32_t k = i + 1; k < e; k++) {
      for (int32_t m = i; m < k; m++) {
        if (lengths[m] > lengths[k]) {
          int32_t t = lengths[m];
          lengths[m] = lengths[k];
          lengths[k] = t;
        }
      }
    }
    i = e;
  }
}

void canonicalcodes(const int32_t *lengths, int32_t n, int32_t *codes) {
  int32_t perlength[32] = {};
  for (int32_t i = 0; i < n; i++) {
    assert(lengths[i] >= 0 && lengths[i] <= 31);
    perlength[lengths[i]]++;
  }

  // First code of each length (RFC 1951, 3.2.2): the codes of one length
  // follow each other in symbol order, and the next length continues from
  // the code after the last of the shorter ones, doubled.
  uint32_t next[32];
  uint32_t code = 0;
  for (int32_t l = 1; l < 32; l++) {
    next[l] = code;
    code = (code + (uint32_t)perlength[l]) << 1;
  }

  for (int32_t i = 0; i < n; i++) {
    int32_t l = lengths[i];
    if (l == 0) continue;
    uint32_t c = next[l]++;
    uint32_t r = 0;
    for (int32_t k = 0; k < l; k++) {
      r = (r << 1) | (c & 1);
      c >>= 1;
    }
    codes[i] = (int32_t)r;
  }
}

void fastlengths(const int32_t *counts, int32_t n, int32_t *lengths, int32_t limit, bool onecodeforempty) {
  int32_t used[huffmanscratch::maxsymbols];
  int32_t nused = 0;
  for (int32_t i = 0; i < n; i++) {
    lengths[i] = 0;
    if (counts[i] > 0) used[nused++] = i;
  }
  if (nused <= 1) {
    if (nused == 1) lengths[used[0]] = 1;
    else if (onecodeforempty) lengths[0] = 1;
    return;
  }
  std::stable_sort(used, used + nused, [&](int32_t a, int32_t b) { return counts[a] < counts[b]; });
  // Nodes 0..nused-1 are the leaves in ascending weight, the merged nodes
  // follow in the order they are made (their weights ascend too).
  int64_t weight[2 * huffmanscratch::maxsymbols];
  int32_t parent[2 * huffmanscratch::maxsymbols];
  for (int32_t shift = 0;; shift++) {
    const int64_t add = ((int64_t)1 << shift) - 1;
    for (int32_t k = 0; k < nused; k++) weight[k] = ((int64_t)counts[used[k]] + add) >> shift;
    int32_t leaf = 0, node = nused, made = nused;
    auto take = [&]() { return leaf < nused && (node >= made || weight[leaf] <= weight[node]) ? leaf++ : node++; };
    while (made < 2 * nused - 1) {
      int32_t a = take(), b = take();
      weight[made] = weight[a] + weight[b];
      parent[a] = parent[b] = made++;
    }
    // Depths from the root down: a parent is made after its children.
    int32_t depth[2 * huffmanscratch::maxsymbols];
    depth[made - 1] = 0;
    int32_t deepest = 0;
    for (int32_t k = made - 2; k >= 0; k--) {
      depth[k] = depth[parent[k]] + 1;
      if (k < nused && depth[k] > deepest) deepest = depth[k];
    }
    if (deepest < limit) {
      for (int32_t k = 0; k < nused; k++) lengths[used[k]] = depth[k];
      return;
    }
  }
}
