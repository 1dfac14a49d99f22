#include "deflate/effort.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>

#include "deflate/blockheader.h"
#include "deflate/startingtables.h"

namespace {

// One block of a coding: where it ends, its bits (BFINAL, BTYPE, header,
// steps, end of block) and what they are made from: the steps, the lengths
// and the header's run-length rules. The bits themselves are written only
// once the blocks are chosen (a large file's codings are large).
struct codedblock {
  int32_t end;
  int64_t bits;
  std::vector<parsestep> steps;
  std::vector<int32_t> lengths;   // the 320 lengths the block is coded with
  int32_t rules = 0;
};
using coding = std::vector<codedblock>;

int64_t totalbits(const coding &c) {
  int64_t n = 0;
  for (const codedblock &b : c) n += b.bits;
  return n;
}

// Block b of the pass the encoder recorded: its bits, steps and lengths.
int64_t recordedbits(const encoder::passrecord &r, size_t b) { return r.firstbit[b + 1] - r.firstbit[b]; }
void takeblock(codedblock &into, const encoder::passrecord &r, size_t b) {
  into.bits = recordedbits(r, b);
  into.steps.assign(r.steps.begin() + r.firststep[b], r.steps.begin() + r.firststep[b + 1]);
  into.lengths.assign(r.lengths.begin() + (int64_t)b * slotcount, r.lengths.begin() + (int64_t)(b + 1) * slotcount);
  into.rules = 0;
}

// The coding of the encoder's last pass over blocks ending at ends; the
// encoder's recording is given back.
coding codingof(encoder &enc, const int32_t *ends, int32_t count) {
  coding c((size_t)count);
  for (int32_t b = 0; b < count; b++) {
    c[(size_t)b].end = ends[b];
    takeblock(c[(size_t)b], enc.recording(), (size_t)b);
  }
  enc.releaserecording();
  return c;
}

// The symbol slots a step counts in, and its extra bits.
struct stepslots {
  int32_t litlen, dist, extrabits;
};
stepslots slotsof(parsestep s) {
  if (s.length == 1) return {s.dist, -1, 0};
  int32_t lr = codetables.lengthrow[s.length - 3], dc = codetables.distcode[s.dist - 1];
  return {lengthsymbolbase + lr, distslot + dc,
          codetables.rows[(size_t)lr].extrabits + codetables.rows[(size_t)dc].extrabits};
}

// The counts of a run of steps, and what a block of exactly those steps
// costs coded with the optimal codes of its counts.
struct stepcounts {
  int32_t counts[slotcount] = {};
  int64_t extrabits = 0;

  void add(parsestep s, int32_t by) {
    stepslots k = slotsof(s);
    counts[k.litlen] += by;
    if (k.dist >= 0) counts[k.dist] += by;
    extrabits += by * k.extrabits;
  }
  // Lengths from the counts with end of block; the block's bits with them.
  int64_t bits(huffmanscratch &s, bool onecode, int32_t *lengths) {
    counts[endofblock]++;
    lengthsfromcounts(s, counts, litlencount, lengths, 16, onecode);
    lengthsfromcounts(s, counts + distslot, distcodecount, lengths + distslot, 16, onecode);
    int64_t n = 3 + blockheaderbits(lengths, s, onecode) + extrabits;
    for (int32_t k = 0; k < slotcount; k++) n += (int64_t)counts[k] * lengths[k];
    counts[endofblock]--;
    return n;
  }
  int64_t bits(huffmanscratch &s, bool onecode) {
    int32_t lengths[slotcount] = {};
    return bits(s, onecode, lengths);
  }
};

// Cuts the steps of a parse into blocks by their real cost. Each block is
// cut at its best cut while that saves bits, the cut found on a grid of
// about 64 places, then on a finer grid around the best, then step by step;
// at the end every cut moves to its best place within 64 steps. Returns
// the block ends in steps.
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
  // The best cut of [i, j) among from, from + step, ... up to to, or keep
  // when none beats the block uncut (or keep's cost, if keep is inside).
  int64_t bestplace(int64_t i, int64_t j, int64_t from, int64_t to, int64_t step, int64_t keep) {
    stepcounts left = countsof(i, from), right = countsof(from, j);
    int64_t best = keep, bestbits = INT64_MAX;
    if (keep > i && keep < j) bestbits = countsof(i, keep).bits(s_, onecode_) + countsof(keep, j).bits(s_, onecode_);
    for (int64_t k = from; k <= to; k += step) {
      int64_t b = left.bits(s_, onecode_) + right.bits(s_, onecode_);
      if (b < bestbits) bestbits = b, best = k;
      for (int64_t m = k; m < k + step && m < j; m++) left.add(steps_[(size_t)m], 1), right.add(steps_[(size_t)m], -1);
    }
    return best;
  }
  int64_t bestcut(int64_t i, int64_t j) {
    if (j - i < 2) return i;
    int64_t whole = countsof(i, j).bits(s_, onecode_);
    int64_t grid = std::max<int64_t>(1, (j - i) / 64);
    int64_t cut = bestplace(i, j, i + 1, j - 1, grid, i);
    for (int64_t g = grid; g > 1;) {
      int64_t fine = std::max<int64_t>(1, g / 32);
      cut = bestplace(i, j, std::max(i + 1, cut - g), std::min(j - 1, cut + g), fine, cut);
      g = fine;
    }
    int64_t bits = countsof(i, cut).bits(s_, onecode_) + countsof(cut, j).bits(s_, onecode_);
    // A cut must pay for itself: less than one byte saved is noise.
    return bits + 8 < whole ? cut : i;
  }

  const std::vector<parsestep> &steps_;
  huffmanscratch &s_;
  bool onecode_;
};

// Starting lengths for a block from the counts of steps coded in it: every
// byte of its data, and with allcodes every length and distance code, gets
// a weight of at least 1, so that the parse may code it; with a generator,
// every weight is scaled by e^u, u uniform in +-spread.
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

// Every task index below count, spread over the encoders, one thread each.
template <class task>
void inparallel(const std::vector<encoder *> &encs, int32_t count, task f) {
  std::atomic<int32_t> next{0};
  auto run = [&](encoder *e) {
    for (int32_t i; (i = next++) < count;) f(*e, i);
  };
  std::vector<std::thread> threads;
  for (size_t k = 1; k < encs.size() && (int32_t)k < count; k++) threads.emplace_back(run, encs[k]);
  run(encs[0]);
  for (auto &t : threads) t.join();
}

// Passes over blocks ending at ends (in bytes), from the given starting
// lengths; the encoder's recording holds the pass kept.
void trial(encoder &enc, const uint8_t *data, int64_t length, const encodeoptions &o, int32_t passes,
           const std::vector<int32_t> &ends, const std::vector<int32_t> &lengths) {
  encodeoptions to = o;
  to.record = true;
  to.maxpasses = passes;
  to.neverstore = true;
  memorysource in(data, (size_t)length);
  bytesink sink{bytesink::nowheretag{}};
  enc.passes(in, length, sink, to, nullptr, ends.data(), (int32_t)ends.size(), lengths.data());
}

// Block ends in bytes for block ends in steps.
std::vector<int32_t> byteends(const std::vector<parsestep> &steps, const std::vector<int64_t> &stepends) {
  std::vector<int32_t> ends;
  int64_t pos = 0, k = 0;
  for (int64_t e : stepends) {
    for (; k < e; k++) pos += steps[(size_t)k].length;
    ends.push_back((int32_t)pos);
  }
  return ends;
}

// All the steps of a coding, in order.
std::vector<parsestep> allsteps(const coding &c) {
  std::vector<parsestep> steps;
  for (const codedblock &b : c) steps.insert(steps.end(), b.steps.begin(), b.steps.end());
  return steps;
}

// Starting lengths for every block of layout ends from the steps of c
// (which need not share the layout), scaled at random when random is set.
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

// The block coded, when that is shorter, with the lengths it had or the
// optimal lengths of its own steps, and the header rules that make the
// shortest header for them.
void recodeblock(codedblock &b, huffmanscratch &s, bool onecode) {
  stepcounts c;
  for (parsestep st : b.steps) c.add(st, 1);
  int32_t optimal[slotcount] = {};
  c.bits(s, onecode, optimal);
  c.counts[endofblock]++;
  int64_t best = b.bits;
  int32_t rules = -1;
  const int32_t *lengths = nullptr;
  const int32_t *had = b.lengths.empty() ? nullptr : b.lengths.data();
  for (const int32_t *l : {(const int32_t *)optimal, had}) {
    if (!l) continue;
    int64_t body = 3 + c.extrabits;
    for (int32_t k = 0; k < slotcount; k++) body += (int64_t)c.counts[k] * l[k];
    for (int32_t r = 0; r < headerrules; r++) {
      int64_t n = body + blockheaderbits(l, s, onecode, r);
      if (n < best) best = n, rules = r, lengths = l;
    }
  }
  if (!lengths) return;
  b.bits = best;
  b.rules = rules;
  if (lengths == optimal) b.lengths.assign(optimal, optimal + slotcount);
}

// Block b of a trial's recorded pass wins over the block in best when it is
// shorter, or as short and from an earlier trial (the block's trial is in
// from, -1 for the coding the trials started from): so the blocks kept do not
// depend on the order in which the trials end.
void mergetrial(coding &best, std::vector<int32_t> &from, const encoder::passrecord &r, int32_t t) {
  for (size_t b = 0; b < best.size(); b++) {
    int64_t bits = recordedbits(r, b);
    if (bits < best[b].bits || (bits == best[b].bits && t < from[b])) takeblock(best[b], r, b), from[b] = t;
  }
}

// Writes the blocks into out, BFINAL set on the last only; returns the
// bytes written.
int64_t writecoding(const coding &c, bytesink &out, huffmanscratch &s, bool onecode) {
  const int64_t start = out.tell();
  bitwriter bits;
  bits.start(&out);
  for (size_t b = 0; b < c.size(); b++) {
    const int32_t *lengths = c[b].lengths.data();
    int32_t codes[slotcount];
    canonicalcodes(lengths, litlencount, codes);
    canonicalcodes(lengths + distslot, distcodecount, codes + distslot);
    bits.put(b + 1 == c.size() ? 1 : 0, 1);   // BFINAL
    bits.put(2, 2);                          // BTYPE: dynamic codes
    writeblockheader(bits, lengths, s, onecode, c[b].rules);
    for (parsestep st : c[b].steps) {
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
  bits.align();
  return out.tell() - start;
}

// The layout of a coding, in bytes.
std::vector<int32_t> layoutof(const coding &c) {
  std::vector<int32_t> ends;
  for (const codedblock &b : c) ends.push_back(b.end);
  return ends;
}

}  // namespace

encoderesult compresshard(const std::vector<encoder *> &encs, const uint8_t *data, int64_t length, bytesink &out,
                          const encodeoptions &o, const effortoptions &e, encodewatcher *watcher) {
  huffmanscratch scratch;
  const bool onecode = o.onecodeforempty;

  // Trial 0, the normal run, straight into out (where it stays unless the
  // trials beat it); beside it, other layouts: the file parsed as one
  // block, that parse's steps cut by real cost and the file parsed again
  // over the cuts, while that helps. The layouts do not need the normal run,
  // so they take the other thread for as long as they last.
  encodeoptions ro = o;
  ro.record = true;
  const int64_t start = out.tell();
  encoderesult normal;
  coding best, layoutbest;
  std::vector<std::pair<int64_t, int32_t>> layouttrials;   // bytes and blocks, for the watcher
  // A normal run that does not compress (data stored, a failure) ends the
  // effort: the layouts stop at their next step.
  std::atomic<bool> normalended{false};
  inparallel(encs, e.layoutfixed ? 1 : 2, [&](encoder &enc, int32_t task) {
    if (task == 0) {
      memorysource in(data, (size_t)length);
      normal = enc.compress(in, length, out, ro, watcher);
      std::vector<int32_t> ends0;
      for (int32_t b = 0; b < enc.blockcount(); b++)
        ends0.push_back(b + 1 < enc.blockcount() ? enc.block(b).end : (int32_t)length);
      if (normal.result == encoderesult::compressed) best = codingof(enc, ends0.data(), (int32_t)ends0.size());
      else enc.releaserecording(), normalended = true;
      return;
    }
    if (normalended) return;
    const std::vector<int32_t> one = {(int32_t)length};
    std::vector<int32_t> fixed(slotcount);
    fixedlengths(o.strategy == 3, fixed.data());
    trial(enc, data, length, o, 0, one, fixed);
    // Each round cuts the coding of the round before (the first, the
    // one-block parse's, freed once it has served: a large file's codings
    // are large).
    coding from = codingof(enc, one.data(), 1);
    for (int32_t round = 0; round < e.layoutrounds && !normalended; round++) {
      const coding &cutfrom = round ? layoutbest : from;
      std::vector<int32_t> ends;
      {
        std::vector<parsestep> steps = allsteps(cutfrom);
        ends = byteends(steps, partitioner(steps, scratch, onecode).run());
      }
      if (round && ends == layoutof(layoutbest)) break;
      std::vector<int32_t> starts = startinglengths(cutfrom, ends, data, 0, 0, scratch, onecode);
      if (!round) from = coding();
      trial(enc, data, length, o, 0, ends, starts);
      coding c = codingof(enc, ends.data(), (int32_t)ends.size());
      layouttrials.push_back({(totalbits(c) + 7) >> 3, (int32_t)c.size()});
      if (round && totalbits(c) >= totalbits(layoutbest)) break;
      layoutbest = std::move(c);
    }
  });
  if (normal.result != encoderesult::compressed) return normal;
  const int64_t normalbits = totalbits(best);
  if (watcher) watcher->trialends(0, normal.length, (int32_t)best.size(), (int32_t)best.size());
  int32_t trialno = 1;
  for (auto [bytes, blocks] : layouttrials)
    if (watcher) watcher->trialends(trialno++, bytes, blocks, blocks);
  if (!layoutbest.empty() && totalbits(layoutbest) < normalbits) best = std::move(layoutbest);
  layoutbest = coding();

  // Rounds of trials from the best coding's counts, on its layout.
  const std::vector<int32_t> ends = layoutof(best);
  const size_t blocks = ends.size();
  for (int32_t round = 0; round < e.rounds; round++) {
    // Every trial starts from the best coding as the round found it, and
    // its blocks go into that coding as soon as it ends, straight from its
    // encoder's recording (a large file's codings are large).
    std::vector<std::vector<int32_t>> starts((size_t)e.trials);
    for (int32_t t = 0; t < e.trials; t++) {
      uint64_t seed = 0x5851f42d4c957f2dull * (uint64_t)(round * 1024 + t + 1);
      starts[(size_t)t] = startinglengths(best, ends, data, seed, t % 2 ? 0.7 : 0.35, scratch, onecode);
    }
    // Every block's bits before the round and in every trial, for -v.
    std::vector<int64_t> bits(blocks * (size_t)(e.trials + 1));
    for (size_t b = 0; b < blocks; b++) bits[b] = best[b].bits;
    std::vector<int32_t> winner(blocks, -1);
    std::mutex merging;
    inparallel(encs, e.trials, [&](encoder &enc, int32_t t) {
      trial(enc, data, length, o, e.trialpasses, ends, starts[(size_t)t]);
      const encoder::passrecord &r = enc.recording();
      {
        std::lock_guard<std::mutex> lock(merging);
        for (size_t b = 0; b < blocks; b++) bits[(size_t)(t + 1) * blocks + b] = recordedbits(r, b);
        mergetrial(best, winner, r, t);
      }
      enc.releaserecording();
    });
    if (!watcher) continue;
    // A trial wins a block when it codes it shorter than the best before it
    // and every trial before it.
    std::vector<int64_t> shortest(bits.begin(), bits.begin() + (int64_t)blocks);
    for (int32_t t = 0; t < e.trials; t++, trialno++) {
      int64_t total = 0;
      int32_t won = 0;
      for (size_t b = 0; b < blocks; b++) {
        int64_t n = bits[(size_t)(t + 1) * blocks + b];
        total += n;
        if (n < shortest[b]) shortest[b] = n, won++;
      }
      watcher->trialends(trialno, (total + 7) >> 3, won, (int32_t)blocks);
    }
  }

  // Each block with the optimal codes of its own steps, where shorter;
  // then the same for the steps of all blocks cut anew by their cost.
  for (codedblock &b : best) recodeblock(b, scratch, onecode);
  if (!e.layoutfixed) {
    std::vector<parsestep> steps = allsteps(best);
    std::vector<int64_t> cuts = partitioner(steps, scratch, onecode).run();
    std::vector<int32_t> ends2 = byteends(steps, cuts);
    if (ends2 != ends) {
      coding cut(cuts.size());
      for (size_t b = 0, k = 0; b < cuts.size(); k = (size_t)cuts[b++]) {
        cut[b].end = ends2[b];
        cut[b].bits = INT64_MAX;
        cut[b].steps.assign(steps.begin() + (int64_t)k, steps.begin() + cuts[b]);
        recodeblock(cut[b], scratch, onecode);
      }
      if (totalbits(cut) < totalbits(best)) best = std::move(cut);
    }
  }

  if (totalbits(best) >= normalbits) return normal;
  out.seek(start);
  int64_t n = writecoding(best, out, scratch, onecode);
  return {encoderesult::compressed, n, normal.passes};
}
