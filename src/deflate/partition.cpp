#include "deflate/partition.h"

#include <algorithm>

namespace {

class partitioner {
 public:
  partitioner(const std::vector<parsestep> &steps, huffmanscratch &s, bool onecode)
      : steps_(steps), s_(s), onecode_(onecode) {}

  std::vector<int64_t> run() {
    const int64_t n = (int64_t)steps_.size();
    std::vector<int64_t> ends = {n};
    if (n < 2) return ends;
    // Blocks still to be tried, by their first step; the ends stay sorted.
    std::vector<std::pair<int64_t, int64_t>> todo = {{0, n}};
    while (!todo.empty() && (int32_t)ends.size() < maxblocks) {
      auto [i, j] = todo.back();
      todo.pop_back();
      int64_t cut = bestcut(i, j);
      if (cut <= i) continue;
      ends.insert(std::lower_bound(ends.begin(), ends.end(), cut), cut);
      todo.push_back({cut, j});
      todo.push_back({i, cut});
    }
    for (size_t b = 0; b + 1 < ends.size(); b++) {
      int64_t i = b ? ends[b - 1] : 0, j = ends[b + 1];
      ends[b] = bestplace(i, j, std::max(i + 1, ends[b] - 64), std::min(j - 1, ends[b] + 64), 1, ends[b]);
    }
    return ends;
  }

 private:
  stepcounts countsof(int64_t i, int64_t j) const {
    stepcounts c;
    for (int64_t k = i; k < j; k++) c.add(steps_[(size_t)k], 1);
    return c;
  }
  int64_t price(stepcounts &c) { return c.cheapestbits(s_, onecode_); }
  // The best cut of [i, j) among from, from + step, ... up to to, or keep
  // when none beats the block uncut (or keep's cost, if keep is inside).
  int64_t bestplace(int64_t i, int64_t j, int64_t from, int64_t to, int64_t step, int64_t keep) {
    stepcounts left = countsof(i, from), right = countsof(from, j);
    int64_t best = keep, bestbits = INT64_MAX;
    if (keep > i && keep < j) {
      stepcounts a = countsof(i, keep), b = countsof(keep, j);
      bestbits = price(a) + price(b);
    }
    for (int64_t k = from; k <= to; k += step) {
      int64_t b = price(left) + price(right);
      if (b < bestbits) bestbits = b, best = k;
      for (int64_t m = k; m < k + step && m < j; m++) left.add(steps_[(size_t)m], 1), right.add(steps_[(size_t)m], -1);
    }
    return best;
  }
  int64_t bestcut(int64_t i, int64_t j) {
    if (j - i < 2) return i;
    stepcounts all = countsof(i, j);
    int64_t whole = price(all);
    int64_t grid = std::max<int64_t>(1, (j - i) / 64);
    int64_t cut = bestplace(i, j, i + 1, j - 1, grid, i);
    for (int64_t g = grid; g > 1;) {
      int64_t fine = std::max<int64_t>(1, g / 32);
      cut = bestplace(i, j, std::max(i + 1, cut - g), std::min(j - 1, cut + g), fine, cut);
      g = fine;
    }
    stepcounts a = countsof(i, cut), b = countsof(cut, j);
    int64_t bits = price(a) + price(b);
    // A cut must pay for itself: less than one byte saved is noise.
    return bits + 8 < whole ? cut : i;
  }

  const std::vector<parsestep> &steps_;
  huffmanscratch &s_;
  bool onecode_;
};

}  // namespace

std::vector<int64_t> partition(const std::vector<parsestep> &steps, huffmanscratch &s, bool onecode) {
  return partitioner(steps, s, onecode).run();
}
