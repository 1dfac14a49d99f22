#include "driver/update.h"

#include <cerrno>
#include <cstring>
#include <vector>

bool previousarchive::open(const std::string &path, std::string &error) {
  if (!file_.open(path)) {
    error = strerror(errno);
    return false;
  }
  if (!readarchive(file_.data, file_.size, archive_, error)) return false;
  for (size_t k = 0; k < archive_.entries.size(); k++) byname_.emplace(archive_.entries[k].name, k);
  return true;
}

const zipinentry *previousarchive::candidate(const std::string &name, int64_t size) const {
  auto at = byname_.find(name);
  if (at == byname_.end()) return nullptr;
  const zipinentry &e = archive_.entries[at->second];
  // Encrypted entries and other methods cannot be compared; a directory's
  // name ends in "/", which no file's does.
  if (e.size != (uint64_t)size || (e.flags & 1) || (e.method != methodstored && e.method != methoddeflated)) return nullptr;
  return &e;
}

previousarchive::match previousarchive::compare(const zipinentry &e, bytesource &in, std::string &error) const {
  if (!in.rewind()) return differs;
  std::vector<uint8_t> buf;
  bool differ = false;
  bool read = readentry(file_.data, file_.size, e, [&](const uint8_t *p, size_t n) {
    buf.resize(n);
    // A file that ends early, or cannot be read, is not the entry.
    differ = !in.read(buf.data(), (int32_t)n) || memcmp(buf.data(), p, n) != 0;
    return !differ;
  }, error);
  if (differ) return differs;
  return read ? same : damaged;
}

void previousarchive::copy(bytesink &out, ziprecord &r, const zipinentry &e) const {
  // The Deflate option bits describe the data and go with them; the sizes
  // stand in the local header, so no data descriptor follows.
  r.method = e.method;
  r.flags = (uint16_t)((r.flags & zipflagutf8) | (e.flags & 0x0006));
  r.crc = e.crc;
  r.compressed = e.compressed;
  r.size = e.size;
  r.localzip64 = r.size >= zip64localfrom || r.compressed >= zip64limit;
  writelocalheader(out, r);
  out.write(file_.data + e.datoff, e.compressed);
}
