// The archive reader on any bytes: an accepted archive's entries tile it up to
// the central directory and extract to their size and CRC-32; a refusal says why.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "zipin/zipin.h"

namespace {

[[noreturn]] void fail(const char *what, const std::string &detail) {
  fprintf(stderr, "zipin: %s (%s)\n", what, detail.c_str());
  abort();
}

void checktiling(const zipinarchive &a, size_t size) {
  std::vector<const zipinentry *> order;
  for (const zipinentry &e : a.entries) order.push_back(&e);
  std::sort(order.begin(), order.end(), [](auto x, auto y) { return x->headoff < y->headoff; });
  int64_t next = 0;
  for (const zipinentry *e : order) {
    const int64_t header = 30 + (int64_t)(e->name.size() + e->localextra.size());
    const int64_t descriptor = !e->descriptor ? 0 : (e->localzip64 ? 20 : 12) + (e->descriptorsig ? 4 : 0);
    if (e->headoff != next || e->datoff != e->headoff + header || e->endoff != e->datoff + (int64_t)e->compressed + descriptor)
      fail("entries do not tile the archive", e->name);
    next = e->endoff;
  }
  if (next != a.centraloffset || a.centraloffset + 22 > (int64_t)size)
    fail("entries do not end at the central directory", "");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  zipinarchive a;
  std::string error;
  if (!readarchive(data, size, a, error)) {
    if (error.empty() || !a.entries.empty()) fail("refusal without a message, or with entries left", error);
    return 0;
  }
  checktiling(a, size);
  for (const zipinentry &e : a.entries) {
    std::vector<uint8_t> out;
    error.clear();
    if (!extractentry(data, size, e, out, error)) {
      if (error.empty() || !out.empty()) fail("extraction refused without a message, or with bytes left", error);
    } else if (out.size() != e.size || crc32(0, out.data(), (uInt)out.size()) != e.crc) {
      fail("extracted bytes differ from the declared size or CRC-32", e.name);
    }
  }
  return 0;
}
