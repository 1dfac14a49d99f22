#include "deflate/effort.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "deflate/blocktype.h"
#include "deflate/cutsearch.h"
#include "deflate/partition.h"
#include "deflate/startingtables.h"
#include "deflate/trials.h"

namespace {

// The encoders a phase has no task for, lent to the passes of its tasks
// (which then code in ranges on them): at first those from first on, then
// each encoder whose task has ended.
class idleencoders : public encoderlender {
 public:
  idleencoders(const std::vector<encoder *> &encs, size_t first)
      : idle_(encs.begin() + (int64_t)std::min(first, encs.size()), encs.end()) {}
  encoder *borrow() override {
    std::lock_guard<std::mutex> lock(m_);
    if (idle_.empty()) return nullptr;
    encoder *e = idle_.back();
    idle_.pop_back();
    return e;
  }
  void giveback(encoder *e) override {
    std::lock_guard<std::mutex> lock(m_);
    idle_.push_back(e);
  }

 private:
  std::mutex m_;
  std::vector<encoder *> idle_;
};

// The file parsed with the fixed code's costs over layout ends: one pass,
// since those costs do not change. A block that goes fixed needs a parse
// made for that code; the dynamic codes' parse is tuned to them.
coding fixedparse(encoder &enc, const uint8_t *data, int64_t length, const encodeoptions &o,
                  const std::vector<int32_t> &ends, encoderlender *lender) {
  std::vector<int32_t> lengths;
  for (size_t b = 0; b < ends.size(); b++) lengths.insert(lengths.end(), fixedcode.begin(), fixedcode.end());
  trial(enc, data, length, o, 1, ends, lengths, lender);
  return codingof(enc, ends.data(), (int32_t)ends.size());
}

// A coding of the steps of c cut anew by cost, each block at its cheapest
// dynamic coding; empty when the cut is the layout c has.
coding recut(const coding &c, huffmanscratch &s, bool onecode) {
  std::vector<parsestep> steps = allsteps(c);
  std::vector<int64_t> cuts = partition(steps, s, onecode);
  std::vector<int32_t> ends = byteends(steps, cuts);
  if (ends == layoutof(c)) return coding();
  coding cut(cuts.size());
  for (size_t b = 0, k = 0; b < cuts.size(); k = (size_t)cuts[b++]) {
    cut[b].end = ends[b];
    cut[b].bits = INT64_MAX;
    cut[b].steps.assign(steps.begin() + (int64_t)k, steps.begin() + cuts[b]);
    recodeblock(cut[b], s, onecode);
  }
  return cut;
}

// The bits of c with every block at its cheapest type, c unchanged.
int64_t typedbits(coding c, huffmanscratch &s, bool onecode) {
  choosetypes(c, nullptr, s, onecode);
  return totalbits(c);
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
  const bool layouts = !e.layoutfixed && e.layoutrounds > 0;
  // The two tasks seldom end together: the one that ends first lends its
  // encoder to the other's passes (when each has one of its own).
  idleencoders spare(encs, layouts ? 2 : 1);
  const bool ownencoders = encs.size() >= 2;
  inparallel(encs, layouts ? 2 : 1, [&](encoder &enc, int32_t task) {
    struct lendwhendone {
      idleencoders &to;
      encoder *enc;
      ~lendwhendone() {
        if (enc) to.giveback(enc);
      }
    } lend{spare, ownencoders ? &enc : nullptr};
    if (task == 0) {
      memorysource in(data, (size_t)length);
      normal = enc.compress(in, length, out, ro, watcher, &spare);
      std::vector<int32_t> ends0;
      for (int32_t b = 0; b < enc.blockcount(); b++)
        ends0.push_back((int32_t)(b + 1 < enc.blockcount() ? enc.block(b).end : length));
      if (normal.result == encoderesult::compressed) best = codingof(enc, ends0.data(), (int32_t)ends0.size());
      else enc.releaserecording(), normalended = true;
      return;
    }
    if (normalended) return;
    const std::vector<int32_t> one = {(int32_t)length};
    // The one-block parse starts from the bytes' own statistics, the
    // length codes weighed at one in a hundred bytes each: from the fixed
    // tables, where a literal costs 8 or 9 bits, it settles on more and
    // shorter matches than pay.
    std::vector<int32_t> fixed(slotcount);
    fixedlengths(o.strategy == 3, fixed.data());
    {
      int32_t w[litlencount] = {};
      for (int64_t p = 0; p < length; p++) w[data[p]]++;
      for (int32_t k = endofblock; k < litlencount && o.strategy != 3; k++) w[k] = (int32_t)(length / 100 + 1);
      w[endofblock] = 1;
      lengthsfromcounts(scratch, w, litlencount, fixed.data(), 16, onecode);
    }
    trial(enc, data, length, o, 0, one, fixed, &spare);
    // Each round cuts the coding of the round before (the first, the
    // one-block parse's, freed once it has served: a large file's codings
    // are large).
    coding from = codingof(enc, one.data(), 1);
    for (int32_t round = 0; round < e.layoutrounds && !normalended; round++) {
      const coding &cutfrom = round ? layoutbest : from;
      std::vector<int32_t> ends;
      {
        std::vector<parsestep> steps = allsteps(cutfrom);
        ends = byteends(steps, partition(steps, scratch, onecode));
      }
      if (round && ends == layoutof(layoutbest)) break;
      std::vector<int32_t> starts = startinglengths(cutfrom, ends, data, 0, 0, scratch, onecode);
      if (!round) from = coding();
      trial(enc, data, length, o, 0, ends, starts, &spare);
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

  // Small inputs: cuts tried by parsing each side again.
  if (layouts && length <= e.smallinput)
    searchcuts(encs, best, data, length, o, e.cutpieces, e.trialpasses, e.cutlevels, scratch, onecode);

  // Rounds of trials from the best coding's counts, on its layout. First
  // that coding is parsed again by the whole bits of lengths from its
  // counts (every byte of a block with a code, so that the parse may take
  // it as a literal) while that saves, each block kept where it comes out
  // shorter: so the first round is measured by what trials add to that.
  const std::vector<int32_t> ends = layoutof(best);
  const size_t blocks = ends.size();
  idleencoders besidefirst(encs, 1);
  if (e.rounds > 0 && e.polishpasses > 0) {
    coding kept;
    polish(*encs[0], data, length, o, e.polishpasses, ends, startinglengths(best, ends, data, 0, 0, scratch, onecode),
           kept, &besidefirst);
    std::vector<int32_t> from(blocks, -1);
    mergecoding(best, from, kept, 0);
  }
  // The best coding finished: each block with the cheapest dynamic codes of
  // its own steps, where shorter; then the same for the steps of all blocks
  // cut anew by their cost, if that comes out shorter with every block at
  // its cheapest type; then every block at its cheapest type, the fixed
  // code with a parse of its own. A shorter coding can finish longer than
  // another (the cut and the types start from its steps), so the best is
  // finished after every round that shortened it (the others would finish
  // the same coding again) and the shortest finish kept: one round more
  // never makes the file larger.
  coding finished;
  auto finish = [&](coding c) {
    for (codedblock &b : c) recodeblock(b, scratch, onecode);
    if (!e.layoutfixed) {
      coding cut = recut(c, scratch, onecode);
      if (!cut.empty() && typedbits(cut, scratch, onecode) < typedbits(c, scratch, onecode)) c = std::move(cut);
    }
    coding fixed = fixedparse(*encs[0], data, length, o, layoutof(c), &besidefirst);
    choosetypes(c, &fixed, scratch, onecode);
    if (finished.empty() || totalbits(c) < totalbits(finished)) finished = std::move(c);
  };
  bool stalled = false;
  for (int32_t round = 0; round < e.rounds && !stalled; round++) {
    const int64_t before = totalbits(best);
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
    // A trial ends with a pass priced by the whole bits of its last counts'
    // lengths, which its blocks may take where they come out shorter.
    inparallel(encs, e.trials, [&](encoder &enc, int32_t t) {
      trial(enc, data, length, o, e.trialpasses, ends, starts[(size_t)t]);
      for (int32_t pass = 0; pass < (e.polishpasses > 0 ? 2 : 1); pass++) {
        if (pass) wholebitspass(enc, data, length, o, ends, nextlengths(enc));
        const encoder::passrecord &r = enc.recording();
        std::lock_guard<std::mutex> lock(merging);
        for (size_t b = 0; b < blocks; b++) {
          int64_t &n = bits[(size_t)(t + 1) * blocks + b];
          n = pass ? std::min(n, recordedbits(r, b)) : recordedbits(r, b);
        }
        mergetrial(best, winner, r, t);
      }
      enc.releaserecording();
    });
    // On a large input a round costs much: the rounds end once one saves
    // too little to pay for the next.
    stalled = length > e.smallinput && (before - totalbits(best)) * e.stall < before;
    if (finished.empty() || totalbits(best) < before) finish(best);
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

  if (finished.empty()) finish(std::move(best));
  best = std::move(finished);

  if (totalbits(best) >= normalbits) return normal;
  out.seek(start);
  int64_t n = writecoding(best, data, out, scratch, onecode);
  return {encoderesult::compressed, n, normal.passes};
}
