// The optimal parse. Every position of the data is a node; a literal is a
// step of one position, every match the search offers is a step of its
// length, each weighted by its exact size in bits under the current block's
// code lengths. pathcost holds the cost of the cheapest known path to each
// of the next 512 positions (no step is longer than 258), laststep the last
// step of that path. Whenever no recorded step crosses the position being
// processed, the cheapest path to it can no longer change: it is gathered,
// written with the block's codes and counted (a cut point).
#include <cstring>

#include "deflate/encoder.h"

// The uncommitted stretch after which a cut is forced, so that a path never
// spans more than the step ring.
constexpr int32_t forcecut = stepringsize - 1;

// The parse and the match state as a pass finds them at its start.
void encoder::resetstate() {
  parsestate &ps = parse_;
  ps.pathcost[0] = blockstartcost;
  for (int32_t k = 1; k <= costmask; k++) ps.pathcost[k] = unreached;

  matchstate &m = match_;
  memset(m.hashhead, 0, sizeof m.hashhead);
  memset(m.hashnext, 0, sizeof m.hashnext);
  if (options_.strategy <= 2) {
    memset(m.listlength, 0, sizeof m.listlength);
    m.runcount = -1;
    m.prevlistlength = -1;
    m.listfree = 0;
    m.runend = 0;
    m.prevlistend = 0;
    m.runbyte = 0;
  }

  ps.received = ps.nextpos = ps.reach = ps.settled = 0;
  ps.base = 0;
  predictedsaving_ = 0;
}

void encoder::startpass() {
  resetstate();
  curblock_ = 0;
  stopblock_ = blockcount_;
  blocks_[blockcount_ - 1].end = openend;
  startblock(0);
}

// Whether the block has codes for every symbol of a step.
bool encoder::stepcoded(parsestep r) const {
  const int32_t *len = blocks_[curblock_].lengths;
  if (r.length == 1) return len[r.dist] != 0;
  return len[lengthsymbolbase + codetables.lengthrow[r.length - 3]] != 0 &&
         len[distslot + codetables.distcode[r.dist - 1]] != 0;
}

// A forced cut commits the step into the furthest reach before that
// position is settled, so it could commit a step priced with a length or
// distance code the block does not have (such a step costs nocodecost and
// is only ever the best way into a position nothing cheaper has reached
// yet). With lengths derived from the block's own previous pass this does
// not happen: the cut falls at the same place in every pass and the step
// the previous pass committed there is coded and offered again. The guard
// keeps the stream valid for any other table: it cuts at the furthest reach
// whose step is coded (the literal into nextpos always is), which is the
// furthest reach itself whenever that step is coded.
int32_t encoder::forcedreach() {
  parsestate &ps = parse_;
  int32_t m = ps.reach;
  while (m > ps.nextpos && (ps.pathcost[m & costmask] == unreached || !stepcoded(ps.laststep[m & stepmask]))) m--;
  if (m < ps.reach) {
    for (int32_t t = m + 1; t <= ps.reach; t++) ps.pathcost[t & costmask] = unreached;
    ps.reach = m;
  }
  return m;
}

// Writes the settled path from settled to reach (= nextpos): its steps are
// first gathered into the slots that end at reach (copying downwards never
// overwrites a step still to be read), then written in order.
void encoder::writesteps() {
  parsestate &ps = parse_;
  int32_t k = ps.reach;
  int32_t s = k - ps.laststep[k & stepmask].length;
  while (s > ps.settled) {
    k--;
    ps.laststep[k & stepmask] = ps.laststep[s & stepmask];
    s -= ps.laststep[k & stepmask].length;
  }

  blockrecord &h = blocks_[curblock_];
  uint32_t *counts = (uint32_t *)h.counts;
  if (options_.record)
    for (int32_t r = k; r <= ps.reach; r++) recording_.steps.push_back(ps.laststep[r & stepmask]);
  for (; k <= ps.reach; k++) {
    parsestep r = ps.laststep[k & stepmask];
    if (r.length == 1) {
      counts[r.dist]++;
      bits_.put(codes_[r.dist], h.lengths[r.dist]);
    } else {
      int32_t lr = codetables.lengthrow[r.length - 3];
      int32_t dc = codetables.distcode[r.dist - 1];
      const coderow &lrow = codetables.rows[(size_t)lr], &drow = codetables.rows[(size_t)dc];
      counts[lengthsymbolbase + lr]++;
      counts[distslot + dc]++;
      bits_.put(codes_[lengthsymbolbase + lr], h.lengths[lengthsymbolbase + lr]);
      bits_.put(r.length - lrow.base, lrow.extrabits);
      bits_.put(codes_[distslot + dc], h.lengths[distslot + dc]);
      bits_.put(r.dist - drow.base, drow.extrabits);
    }
  }
}

void encoder::setblockend() {
  parsestate &ps = parse_;
  const int64_t e = blocks_[curblock_].end - ps.base;
  ps.blockend = e < farend ? (int32_t)e : farend;
}

void encoder::rebase() {
  parsestate &ps = parse_;
  // A run end behind nextpos is never read before the next search sets it
  // anew; raised to nextpos it cannot fall out of range over many rebases.
  if (match_.runend < ps.nextpos) match_.runend = ps.nextpos;
  match_.runend -= rebasestep;
  ps.base += rebasestep;
  ps.received -= rebasestep;
  ps.nextpos -= rebasestep;
  ps.settled -= rebasestep;
  ps.reach -= rebasestep;
  ps.steplimit -= rebasestep;
  if (curblock_ < stopblock_) setblockend();
}

void encoder::receive(const uint8_t *buf, int32_t n) {
  parsestate &ps = parse_;
  matchstate &m = match_;
  int32_t o = ps.received & windowmask;
  int32_t n1 = n < windowsize - o ? n : windowsize - o;
  memcpy(m.window + o, buf, (size_t)n1);
  memcpy(m.window, buf + n1, (size_t)(n - n1));
  memcpy(m.window + windowsize, m.window, 4);
  ps.received += n;
}

void encoder::parsechunk(const uint8_t *buf, int32_t n) {
  // Positions are processed only once lookahead bytes follow them, except
  // at the end of the data (n = 0), so that the same data fed in pieces of
  // any size gives the same bits.
  if (n > 0) {
    receive(buf, n);
    parseupto(parse_.received - lookahead);
  } else {
    parseupto(parse_.received);
  }
}

void encoder::parseupto(int32_t until) {
  parsestate &ps = parse_;
  matchstate &m = match_;
  ps.steplimit = ps.blockend < ps.received ? ps.blockend : ps.received;

  const bool searching = options_.strategy <= 2;
  while (ps.nextpos < until) {
    int32_t p = ps.nextpos;
    int32_t cost = ps.pathcost[p & costmask];
    ps.pathcost[p & costmask] = unreached;

    if (searching) search(p, cost);

    // The literal step; on equal cost it replaces a match into p + 1.
    int32_t b = m.window[p & windowmask];
    ps.nextpos = p + 1;
    blockrecord &h = blocks_[curblock_];
    int32_t litcost = cost + literalcost_[b];
    h.counts[b] = (int32_t)((uint32_t)h.counts[b] | seenflag);
    if (litcost <= ps.pathcost[ps.nextpos & costmask]) {
      if (ps.nextpos > ps.reach) ps.reach = ps.nextpos;
      ps.pathcost[ps.nextpos & costmask] = litcost;
      ps.laststep[ps.nextpos & stepmask] = parsestep{1, (uint16_t)b};
    }

    // Longest Match commits the furthest step of every searched position;
    // the others only when the stretch would outgrow the step ring.
    if (options_.strategy == 2 || ps.nextpos - ps.settled + lookahead > forcecut) {
      bool forced = options_.strategy != 2;
      int32_t to = forced ? forcedreach() : ps.reach;
      while (ps.nextpos < to) {
        int32_t q = ps.nextpos;
        ps.pathcost[q & costmask] = unreached;
        if (forced && options_.strategy <= 1) {
          // Searched all the same, with the step limit below every step so
          // that nothing is offered: every position then has its distance
          // list, and the match state at any position is what the window's
          // bytes decide, whatever the parse before it did (what lets a
          // block be coded from a state rebuilt over the window alone).
          const int32_t limit = ps.steplimit;
          ps.steplimit = q;
          search(q, 0);
          ps.steplimit = limit;
        } else {
          skip(q);
        }
        // Every byte value the parse weighs keeps a code for the next pass.
        // A skipped byte is a copy of one weighed earlier in the same block
        // (the stretch before a forced cut is longer than any match reaches
        // back), so this flag is a guard that never changes the counts.
        if (forced) {
          int32_t v = m.window[q & windowmask];
          h.counts[v] = (int32_t)((uint32_t)h.counts[v] | seenflag);
        }
        ps.nextpos = q + 1;
      }
    }

    if (ps.reach == ps.nextpos) {
      writesteps();
      ps.settled = ps.nextpos;
      // Only this position's cost is live now; counting the rest of the
      // block from here again gives the same decisions and keeps the costs
      // of a large block from overflowing.
      ps.pathcost[ps.nextpos & costmask] = blockstartcost;

      if (ps.nextpos >= ps.blockend) {
        endblock();
        if (curblock_ == stopblock_) return;
        for (int32_t k = 0; k <= costmask; k++) ps.pathcost[k] = unreached;
        ps.steplimit = ps.blockend < ps.received ? ps.blockend : ps.received;
        ps.pathcost[ps.nextpos & costmask] = blockstartcost;
      }
    }
  }
}
