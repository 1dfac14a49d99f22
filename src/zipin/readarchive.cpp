#include <algorithm>
#include <cstring>
#include <numeric>

#include "zipin/layout.h"
#include "zipin/zipin.h"

namespace {

// A message names an entry by at most this many bytes of its name: enough
// to find it, short enough to keep the message on one line.
constexpr size_t messagenamebytes = 80;

// Offsets are int64_t and every length read from a record is at most 32
// bits, so these sums cannot overflow; the region [0, end) is what the
// record may occupy.
bool within(int64_t off, int64_t len, int64_t end) { return off >= 0 && off <= end && len <= end - off; }

// A refused archive is left empty, so that no half-read entry is used.
bool refused(zipinarchive &a) {
  a = zipinarchive();
  return false;
}
bool refuse(zipinarchive &a, std::string &error, std::string message) {
  error = std::move(message);
  return refused(a);
}

// The data of the ZIP64 field in an extra field block, or null (its length
// in len). The walk stops at a tail too short for a whole field: such
// padding is copied as it is, and no reader could find a field in it either.
const uint8_t *zip64field(const std::string &extra, size_t &len) {
  const uint8_t *x = (const uint8_t *)extra.data();
  const size_t n = extra.size();
  for (size_t pos = 0; pos + 4 <= n; pos += 4 + le16(x + pos + 2)) {
    len = le16(x + pos + 2);
    if (le16(x + pos) == zip64extraid && pos + 4 + len <= n) return x + pos + 4;
  }
  return nullptr;
}

// Reads the values of a ZIP64 field in order: each wanted one (its header
// field held the placeholder) takes the next width bytes. False when the
// field is too short for them.
class zip64reader {
 public:
  zip64reader(const uint8_t *x, size_t len) : x_(x), len_(len) {}
  bool next(bool wanted, uint64_t &v, size_t width = 8) {
    if (!wanted) return true;
    if (!x_ || at_ + width > len_) return false;
    v = width == 8 ? le64(x_ + at_) : le32(x_ + at_);
    at_ += width;
    return true;
  }

 private:
  const uint8_t *x_;
  size_t len_, at_ = 0;
};

// The end record: the signature whose comment length reaches exactly the
// end of the file. Returns its offset, or -1 with error set. Two records
// that both fit (a second one hidden at the end of the comment) are
// refused rather than guessed between.
int64_t findendrecord(const uint8_t *data, int64_t size, std::string &error) {
  if (size < endsize) {
    error = "not a ZIP archive (too short for an end of central directory record)";
    return -1;
  }
  int64_t found = -1;
  error.clear();
  const int64_t lowest = std::max<int64_t>(0, size - endsize - maxcomment);
  for (int64_t p = size - endsize; p >= lowest; p--) {
    if (le32(data + p) != endsig) continue;
    const int64_t reach = p + endsize + le16(data + p + 20);
    if (reach == size) {
      if (found >= 0) {
        error = "the archive comment holds a second end of central directory record";
        return -1;
      }
      found = p;
    } else if (found < 0 && error.empty()) {
      // The signature nearest the end names the likeliest damage.
      error = reach < size ? "bytes after the end of the archive (behind the archive comment)"
                           : "truncated (the archive comment runs past the end of the file)";
    }
  }
  if (found >= 0) {
    error.clear();
  } else if (error.empty()) {
    error = "not a ZIP archive, or truncated (no end of central directory record)";
  }
  return found;
}

// Reads the central header at pos (which must end by end) into e and moves
// pos behind it. False with error set when it does not parse or asks for
// what this reader refuses.
bool readcentral(const uint8_t *data, int64_t &pos, int64_t end, size_t index, zipinentry &e, std::string &error) {
  const std::string record = "central directory record " + std::to_string(index + 1);
  if (!within(pos, centralsize, end) || le32(data + pos) != centralsig) {
    error = record + " is damaged (no central header signature)";
    return false;
  }
  const uint8_t *c = data + pos;
  e.madeby = le16(c + 4);
  e.needed = le16(c + 6);
  e.flags = le16(c + 8);
  e.method = le16(c + 10);
  e.time = le16(c + 12);
  e.date = le16(c + 14);
  e.crc = le32(c + 16);
  e.compressed = le32(c + 20);
  e.size = le32(c + 24);
  const int64_t namelen = le16(c + 28), extralen = le16(c + 30), commentlen = le16(c + 32);
  uint64_t disk = le16(c + 34), headoff = le32(c + 42);
  e.internalattr = le16(c + 36);
  e.externalattr = le32(c + 38);
  if (!within(pos + centralsize, namelen + extralen + commentlen, end)) {
    error = record + " runs past the end of the central directory";
    return false;
  }
  const char *v = (const char *)c + centralsize;
  e.name.assign(v, namelen);
  e.centralextra.assign(v + namelen, extralen);
  e.comment.assign(v + namelen + extralen, commentlen);
  pos += centralsize + namelen + extralen + commentlen;
  // A field that holds its placeholder has its value in the ZIP64 field,
  // which gives those values alone, in this order.
  size_t len = 0;
  const uint8_t *x = zip64field(e.centralextra, len);
  zip64reader z(x, len);
  if (!z.next(e.size == zip64value, e.size) || !z.next(e.compressed == zip64value, e.compressed) ||
      !z.next(headoff == zip64value, headoff) || !z.next(disk == zip64count, disk, 4)) {
    error = entrylabel(e) + ": its ZIP64 field is missing or too short";
    return false;
  }
  // Offsets beyond what a file can hold are refused before any arithmetic.
  if (headoff > (uint64_t)end || e.compressed > (uint64_t)end) {
    error = entrylabel(e) + ": offset or size beyond the end of the archive";
    return false;
  }
  e.headoff = (int64_t)headoff;
  if (disk != 0) {
    error = entrylabel(e) + " starts on another disk (split or spanned archive)";
    return false;
  }
  return true;
}

// Checks e's local header, data and data descriptor, all of which must end
// by cdoff, and sets localextra, datoff, endoff and the descriptor's form.
bool readlocal(const uint8_t *data, int64_t cdoff, zipinentry &e, std::string &error) {
  const std::string label = entrylabel(e);
  if (!within(e.headoff, localsize, cdoff) || le32(data + e.headoff) != localsig) {
    error = label + ": no local header at its offset";
    return false;
  }
  const uint8_t *l = data + e.headoff;
  const int64_t namelen = le16(l + 26), extralen = le16(l + 28);
  if (!within(e.headoff + localsize, namelen + extralen, cdoff)) {
    error = label + ": local header runs into the central directory";
    return false;
  }
  e.descriptor = (e.flags & flagdescriptor) != 0;
  e.localextra.assign((const char *)l + localsize + namelen, extralen);
  const uint32_t lcrc = le32(l + 14);
  uint64_t lcompressed = le32(l + 18), lsize = le32(l + 22);
  // A local ZIP64 field holds both sizes, the uncompressed one first.
  size_t len = 0;
  const uint8_t *x = zip64field(e.localextra, len);
  e.localzip64 = x != nullptr;
  if (e.localzip64) {
    if (len < 16) {
      error = label + ": its local ZIP64 field is too short";
      return false;
    }
    if (lsize == zip64value) lsize = le64(x);
    if (lcompressed == zip64value) lcompressed = le64(x + 8);
  }
  // Behind a data descriptor the local header may hold zeros where the
  // values were not known yet; the values it does hold must be the right ones.
  auto agrees = [&](uint64_t local, uint64_t central) { return local == central || (e.descriptor && local == 0); };
  const struct {
    bool same;
    const char *field;
  } fields[] = {
      {namelen == (int64_t)e.name.size() && memcmp(l + localsize, e.name.data(), e.name.size()) == 0, "name"},
      // A writer may raise the local header's version to ZIP64's alone.
      {le16(l + 4) == e.needed || e.localzip64, "version needed"},
      {le16(l + 6) == e.flags, "flags"},
      {le16(l + 8) == e.method, "method"},
      {le16(l + 10) == e.time && le16(l + 12) == e.date, "time"},
      {agrees(lcrc, e.crc), "CRC-32"},
      {agrees(lcompressed, e.compressed) && agrees(lsize, e.size), "sizes"},
  };
  for (const auto &f : fields) {
    if (f.same) continue;
    error = label + ": local header disagrees with the central directory (" + f.field + ")";
    return false;
  }
  e.datoff = e.headoff + localsize + namelen + extralen;
  if (!within(e.datoff, (int64_t)e.compressed, cdoff)) {
    error = label + ": data run into the central directory or past the end of the file";
    return false;
  }
  e.endoff = e.datoff + e.compressed;
  if (!e.descriptor) return true;
  // Which form the descriptor has is told by its values: the signature
  // form when the signature is there and the values behind it match. Its
  // sizes take 8 bytes each behind a local header with a ZIP64 field.
  const int64_t size = e.localzip64 ? descriptor64size : descriptorsize;
  auto matches = [&](int64_t at) {
    if (!within(at, size, cdoff) || le32(data + at) != e.crc) return false;
    return e.localzip64 ? le64(data + at + 4) == e.compressed && le64(data + at + 12) == e.size
                        : le32(data + at + 4) == e.compressed && le32(data + at + 8) == e.size;
  };
  const int64_t at = e.endoff;
  e.descriptorsig = within(at, descriptorsigsize, cdoff) && le32(data + at) == descriptorsig &&
                    matches(at + descriptorsigsize);
  if (e.descriptorsig) {
    e.endoff = at + descriptorsigsize + size;
  } else if (matches(at)) {
    e.endoff = at + size;
  } else {
    error = label + ": no data descriptor matching the central directory behind its data";
    return false;
  }
  return true;
}

// The entries, in the order of their offsets, must tile [0, cdoff) exactly.
bool checktiling(const std::vector<zipinentry> &entries, int64_t cdoff, std::string &error) {
  std::vector<size_t> order(entries.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](size_t x, size_t y) { return entries[x].headoff < entries[y].headoff; });
  int64_t next = 0;
  for (size_t k : order) {
    const zipinentry &e = entries[k];
    if (e.headoff < next) {
      error = entrylabel(e) + " overlaps the entry in front of it";
      return false;
    }
    if (e.headoff > next) {
      error = next == 0 ? "bytes before the first entry (a self-extractor stub or a signature block?)"
                        : "bytes between entries, in front of " + entrylabel(e);
      return false;
    }
    next = e.endoff;
  }
  if (next != cdoff) {
    error = entries.empty() ? "bytes in front of an empty central directory"
                            : "bytes between the last entry and the central directory";
    return false;
  }
  return true;
}

}  // namespace

std::string entrylabel(const zipinentry &e) {
  std::string name = e.name.substr(0, messagenamebytes);
  for (char &ch : name)
    if ((uint8_t)ch < 0x20 || ch == 0x7f) ch = '?';
  if (e.name.size() > messagenamebytes) name += "...";
  return "entry \"" + name + "\"";
}

bool readarchive(const uint8_t *data, size_t size, zipinarchive &a, std::string &error) {
  a = zipinarchive();
  const int64_t n = (int64_t)size;
  const int64_t end = findendrecord(data, n, error);
  if (end < 0) return refused(a);
  const uint8_t *r = data + end;
  uint64_t disk = le16(r + 4), centraldisk = le16(r + 6), diskentries = le16(r + 8), entries = le16(r + 10);
  uint64_t cdsize = le32(r + 12), cdoff = le32(r + 16);
  // The ZIP64 end record and its locator stand between the central
  // directory and the end record when a field holds its placeholder (or a
  // writer added them all the same); the central directory must then end
  // exactly at the ZIP64 end record. A locator's signature by chance in the
  // last central header's bytes does not count where the central directory
  // reaches the end record.
  const bool placeholders = disk == zip64count || centraldisk == zip64count || diskentries == zip64count ||
                            entries == zip64count || cdsize == zip64value || cdoff == zip64value;
  int64_t cdend = end;
  if (placeholders || cdoff + cdsize != (uint64_t)end) {
    const int64_t locator = end - zip64locatorsize, record = locator - zip64endsize;
    if (record < 0 || le32(data + locator) != zip64locatorsig) {
      if (placeholders) return refuse(a, error, "ZIP64 placeholders in the end record, but no ZIP64 end locator");
      return refuse(a, error, "the end record's central directory offset and size do not lead to the end record");
    }
    const uint8_t *z = data + record, *l = data + locator;
    if (le32(l + 4) != 0 || le32(l + 16) > 1) return refuse(a, error, "split or spanned archive (more than one disk)");
    if (le64(l + 8) != (uint64_t)record || le32(z) != zip64endsig || le64(z + 4) != zip64endsize - 12)
      return refuse(a, error, "no ZIP64 end record in front of its locator, or one with an extensible data sector");
    const uint64_t values[6] = {le32(z + 16), le32(z + 20), le64(z + 24), le64(z + 32), le64(z + 40), le64(z + 48)};
    uint64_t *fields[6] = {&disk, &centraldisk, &diskentries, &entries, &cdsize, &cdoff};
    const uint64_t placeholder[6] = {zip64count, zip64count, zip64count, zip64count, zip64value, zip64value};
    // A field of the end record holds its placeholder or the same value.
    for (int k = 0; k < 6; k++) {
      if (*fields[k] != placeholder[k] && *fields[k] != values[k])
        return refuse(a, error, "the end record and the ZIP64 end record disagree");
      *fields[k] = values[k];
    }
    cdend = record;
  }
  if (disk != 0 || centraldisk != 0 || diskentries != entries)
    return refuse(a, error, "split or spanned archive (more than one disk)");
  if (cdoff > (uint64_t)cdend || cdsize != (uint64_t)cdend - cdoff)
    return refuse(a, error, "the end record's central directory offset and size do not lead to the end record");
  // Every central header takes at least its fixed-size fields, so the count is
  // checked before anything is allocated for it.
  if (entries > cdsize / centralsize)
    return refuse(a, error, "the central directory is too small for its " + std::to_string(entries) + " entries");
  a.comment.assign((const char *)r + endsize, le16(r + 20));
  a.centraloffset = (int64_t)cdoff;
  a.entries.resize(entries);
  int64_t pos = (int64_t)cdoff;
  for (size_t k = 0; k < a.entries.size(); k++)
    if (!readcentral(data, pos, cdend, k, a.entries[k], error) || !readlocal(data, (int64_t)cdoff, a.entries[k], error))
      return refused(a);
  if (pos != cdend)
    return refuse(a, error, "the central directory holds more than its " + std::to_string(entries) + " entries");
  if (!checktiling(a.entries, (int64_t)cdoff, error)) return refused(a);
  return true;
}
