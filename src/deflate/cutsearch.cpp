#include "deflate/cutsearch.h"

#include "deflate/trials.h"

bool searchcuts(const std::vector<encoder *> &encs, coding &best, const uint8_t *data, int64_t length,
                const encodeoptions &o, int32_t pieces, int32_t passes, int32_t levels, huffmanscratch &s,
                bool onecode) {
  bool changed = false;
  // Blocks still worth trying (those made by a cut); at first every block.
  std::vector<bool> open(best.size(), true);
  for (int32_t level = 0; level < levels; level++) {
    // Layout k: every open block cut at k / pieces of its bytes; where each
    // block's sides lie in it.
    struct cutlayout {
      std::vector<int32_t> ends;
      std::vector<int32_t> first;   // per block of best: its first block in ends
      std::vector<int32_t> starts;  // the trial's starting lengths
      coding c;
    };
    std::vector<cutlayout> layouts((size_t)pieces - 1);
    for (int32_t k = 1; k < pieces; k++) {
      cutlayout &l = layouts[(size_t)k - 1];
      int32_t start = 0;
      for (size_t b = 0; b < best.size(); b++) {
        l.first.push_back((int32_t)l.ends.size());
        int32_t cut = start + (int32_t)((int64_t)(best[b].end - start) * k / pieces);
        if (open[b] && cut > start && cut < best[b].end) l.ends.push_back(cut);
        l.ends.push_back(best[b].end);
        start = best[b].end;
      }
      if ((int32_t)l.ends.size() > maxblocks) l.ends.clear();   // a layout with too many blocks is not tried
    }
    // The starting lengths drawn here: the scratch tables serve one thread.
    for (cutlayout &l : layouts)
      if (l.ends.size() > best.size()) l.starts = startinglengths(best, l.ends, data, 0, 0, s, onecode);
    inparallel(encs, pieces - 1, [&](encoder &enc, int32_t t) {
      cutlayout &l = layouts[(size_t)t];
      if (l.ends.size() <= best.size()) return;
      trial(enc, data, length, o, passes, l.ends, l.starts);
      l.c = codingof(enc, l.ends.data(), (int32_t)l.ends.size());
    });
    // Each block's best cut, in a new coding.
    coding next;
    std::vector<bool> nextopen;
    bool any = false;
    for (size_t b = 0; b < best.size(); b++) {
      int64_t bestbits = best[b].bits - 8;
      int32_t pick = -1;
      for (size_t t = 0; t < layouts.size(); t++) {
        const cutlayout &l = layouts[t];
        if (l.c.empty()) continue;
        size_t f = (size_t)l.first[b];
        if (l.c[f].end == best[b].end) continue;   // not cut there
        int64_t bits = l.c[f].bits + l.c[f + 1].bits;
        if (bits < bestbits) bestbits = bits, pick = (int32_t)t;
      }
      if (pick < 0) {
        next.push_back(std::move(best[b]));
        nextopen.push_back(false);
        continue;
      }
      coding &c = layouts[(size_t)pick].c;
      size_t f = (size_t)layouts[(size_t)pick].first[b];
      next.push_back(std::move(c[f]));
      next.push_back(std::move(c[f + 1]));
      nextopen.push_back(true);
      nextopen.push_back(true);
      any = true;
    }
    best = std::move(next);
    open = std::move(nextopen);
    if (!any) break;
    changed = true;
  }
  return changed;
}
