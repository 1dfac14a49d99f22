// Does a block's parse depend on more than the bytes within the window
// before it? The question behind coding the blocks of one file in parallel:
// a thread that codes a block from its start must rebuild the match state
// there from the data before it.
//
// For each file and each cut (a third, a half, two thirds of it) the file is
// coded in one pass as two blocks that end at the cut and at the end, both
// from the fixed code; then only the last `window` bytes before the cut and
// the rest are coded the same way. The second block's steps are compared: if
// the match state held only what the window's bytes decide, they would be
// the same. Prints the offset of the first step that differs, or "same".
//
//   blockstate [-w window] [-s strategy] [-c cuts] file ...    (defaults 32768, 0, 3)
//
// With -c N the cuts fall at 1/(N+1), 2/(N+1), ... of each file instead.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "deflate/deflate.h"
#include "deflate/startingtables.h"

// The steps of the second block of data cut at cut, in one pass.
static std::vector<parsestep> secondblock(encoder &enc, const std::string &data, int64_t cut, int32_t strategy) {
  encodeoptions o;
  o.strategy = strategy;
  o.record = true;
  const int32_t ends[2] = {(int32_t)cut, (int32_t)data.size()};
  std::vector<int32_t> lengths(2 * slotcount);
  fixedlengths(false, lengths.data());
  fixedlengths(false, lengths.data() + slotcount);
  memorysource in((const uint8_t *)data.data(), data.size());
  bytesink out(bytesink::nowheretag{});
  enc.setblocks(o, ends, 2, lengths.data());
  enc.onepass(in, (int64_t)data.size(), out);
  const encoder::passrecord &r = enc.recording();
  return std::vector<parsestep>(r.steps.begin() + r.firststep[1], r.steps.begin() + r.firststep[2]);
}

int main(int argc, char **argv) {
  int64_t window = 32768;
  int32_t strategy = 0, cuts = 0;
  int k = 1;
  for (; k + 1 < argc && argv[k][0] == '-'; k += 2) {
    if (!strcmp(argv[k], "-w")) window = atoll(argv[k + 1]);
    else if (!strcmp(argv[k], "-s")) strategy = atoi(argv[k + 1]);
    else if (!strcmp(argv[k], "-c")) cuts = atoi(argv[k + 1]);
  }
  std::unique_ptr<encoder> enc(new encoder);
  for (; k < argc; k++) {
    std::ifstream f(argv[k], std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    const std::string data = ss.str();
    std::vector<int64_t> at = {(int64_t)data.size() / 3, (int64_t)data.size() / 2, (int64_t)data.size() * 2 / 3};
    if (cuts > 0) {
      at.clear();
      for (int32_t c = 1; c <= cuts; c++) at.push_back((int64_t)data.size() * c / (cuts + 1));
    }
    for (int64_t cut : at) {
      const int64_t from = cut > window ? cut - window : 0;
      const std::vector<parsestep> a = secondblock(*enc, data, cut, strategy);
      const std::vector<parsestep> b = secondblock(*enc, data.substr((size_t)from), cut - from, strategy);
      size_t n = 0;
      int64_t at = 0;
      while (n < a.size() && n < b.size() && a[n].length == b[n].length && a[n].dist == b[n].dist) at += a[n++].length;
      if (n == a.size() && n == b.size()) printf("%s -s%d cut %lld: same (%zu steps)\n", argv[k], strategy, (long long)cut, a.size());
      else printf("%s -s%d cut %lld: differs from byte %lld of the block on\n", argv[k], strategy, (long long)cut, (long long)at);
    }
  }
}
