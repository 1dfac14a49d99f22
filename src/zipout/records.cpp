#include "zipout/records.h"

#include <algorithm>

namespace {

// Record signatures and sizes of the fixed parts.
constexpr uint32_t localsig = 0x04034b50;     // "PK", 3, 4
constexpr uint32_t centralsig = 0x02014b50;   // "PK", 1, 2
constexpr uint32_t endsig = 0x06054b50;       // "PK", 5, 6
constexpr uint32_t zip64endsig = 0x06064b50;       // "PK", 6, 6
constexpr uint32_t zip64locatorsig = 0x07064b50;   // "PK", 6, 7
constexpr uint16_t zip64extraid = 0x0001;
constexpr uint64_t zip64endrest = 44;   // the ZIP64 end record's size field counts the bytes behind it
// "Made by" Unix (high byte 3): the file mode is then in the high 16 bits of
// the external attributes. The low byte keeps the MS-DOS attribute for
// readers that look there.
constexpr uint16_t madebyunix = 3 * 256 + zipversion;
constexpr uint32_t unixplainfile = 0100644, unixplaindirectory = 0040755;
// The mode's file type bits, and the types and the owner's write bit that
// the MS-DOS attributes reflect.
constexpr uint32_t modetype = 0170000, modedirectory = 0040000, modelink = 0120000, modeownerwrite = 0200;
constexpr uint32_t dosreadonly = 0x01, dosdirectory = 0x10, dosarchive = 0x20;

void le16(bytesink &out, uint32_t v) {
  out.put((uint8_t)v);
  out.put((uint8_t)(v >> 8));
}
void le32(bytesink &out, uint32_t v) {
  le16(out, v & 0xffff);
  le16(out, v >> 16);
}
void le64(bytesink &out, uint64_t v) {
  le32(out, (uint32_t)v);
  le32(out, (uint32_t)(v >> 32));
}
void bytes(bytesink &out, const std::string &s) { out.write(s.data(), s.size()); }

// A 32-bit field's value: the value itself, or the placeholder when the
// value goes to a ZIP64 field.
uint32_t field32(uint64_t v, bool in64) { return in64 ? (uint32_t)zip64limit : (uint32_t)v; }

// The ZIP64 field of a central header: the values that pass 32 bits, in
// the order sizes, compressed size, offset.
std::string centralzip64(const ziprecord &r) {
  std::string x;
  auto add = [&](uint64_t v) {
    for (int k = 0; k < 8; k++) x += (char)(v >> (8 * k));
  };
  if (r.size >= zip64limit) add(r.size);
  if (r.compressed >= zip64limit) add(r.compressed);
  if ((uint64_t)r.headoff >= zip64limit) add((uint64_t)r.headoff);
  if (x.empty()) return x;
  return std::string{(char)zip64extraid, 0, (char)x.size(), 0} + x;
}

}  // namespace

bool isutf8name(const std::string &name) {
  const uint8_t *p = (const uint8_t *)name.c_str();
  bool nonascii = false;
  while (*p) {
    uint32_t c = *p;
    if (c < 0x80) {
      p++;
      continue;
    }
    nonascii = true;
    int32_t more;
    uint32_t cp, least;
    if (c >= 0xc2 && c <= 0xdf) {   // 0xc0 and 0xc1 could only start overlong forms
      more = 1, cp = c & 0x1f, least = 0x80;
    } else if ((c & 0xf0) == 0xe0) {
      more = 2, cp = c & 0x0f, least = 0x800;
    } else if (c >= 0xf0 && c <= 0xf4) {
      more = 3, cp = c & 0x07, least = 0x10000;
    } else {
      return false;   // a continuation byte without a lead, or a lead beyond U+10FFFF
    }
    for (int32_t k = 1; k <= more; k++) {
      // The terminating NUL fails this test too, so no byte past it is read.
      if ((p[k] & 0xc0) != 0x80) return false;
      cp = (cp << 6) | (p[k] & 0x3f);
    }
    if (cp < least || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return false;
    p += more + 1;
  }
  return nonascii;
}

ziprecord filerecord(const std::string &name, uint16_t time, uint16_t date, uint32_t mode, recordstyle style) {
  ziprecord r;
  r.name = name;
  r.time = time;
  r.date = date;
  const bool directory = (mode & modetype) == modedirectory, link = (mode & modetype) == modelink;
  const uint32_t dos = directory ? dosdirectory : dosarchive;
  // A plain ASCII name reads the same under every encoding, so it keeps the
  // flags older readers expect.
  const bool utf8 = isutf8name(name);
  if (utf8) r.flags = zipflagutf8;
  if (style == recordstyle::unix || link) {
    r.madeby = madebyunix;
    r.externalattr = (mode & 0xffff) << 16 | dos | (mode & modeownerwrite ? 0 : dosreadonly);
  } else if (utf8) {
    r.madeby = madebyunix;
    r.externalattr = (directory ? unixplaindirectory : unixplainfile) << 16 | dos;
  } else {
    r.externalattr = dos;
  }
  return r;
}

void setmethod(ziprecord &r, uint16_t method) {
  r.method = method;
  r.flags = (uint16_t)((r.flags & zipflagutf8) | (method == methoddeflated ? zipflagmax : 0));
}

std::string withoutzip64(const std::string &extra) {
  std::string kept;
  for (size_t pos = 0; pos < extra.size();) {
    if (pos + 4 > extra.size()) {
      kept += extra.substr(pos);   // a tail too short for a field: kept as it is
      break;
    }
    const size_t len = 4 + ((uint8_t)extra[pos + 2] | (uint8_t)extra[pos + 3] << 8);
    if (!((uint8_t)extra[pos] == zip64extraid && extra[pos + 1] == 0)) kept += extra.substr(pos, len);
    pos += len;
  }
  return kept;
}

// The fields from version needed to the uncompressed size, which both
// headers hold in the same order; the sizes are placeholders where sizes64.
static void sharedfields(bytesink &out, const ziprecord &r, bool sizes64) {
  le16(out, r.needed);
  le16(out, r.flags);
  le16(out, r.method);
  le16(out, r.time);
  le16(out, r.date);
  le32(out, r.crc);
  le32(out, field32(r.compressed, sizes64 || r.compressed >= zip64limit));
  le32(out, field32(r.size, sizes64 || r.size >= zip64limit));
}

void writelocalheader(bytesink &out, ziprecord &r) {
  r.headoff = out.tell();
  if (r.localzip64 || (uint64_t)r.headoff >= zip64limit) {
    r.needed = std::max(r.needed, zip64version);
    r.madeby = (uint16_t)((r.madeby & 0xff00) | std::max<uint16_t>(r.madeby & 0xff, zip64version));
  }
  le32(out, localsig);
  sharedfields(out, r, r.localzip64);
  le16(out, (uint32_t)r.name.size());
  le16(out, (uint32_t)((r.localzip64 ? 20 : 0) + r.localextra.size()));
  bytes(out, r.name);
  if (r.localzip64) {
    // Both sizes, the uncompressed one first.
    le16(out, zip64extraid);
    le16(out, 16);
    le64(out, r.size);
    le64(out, r.compressed);
  }
  bytes(out, r.localextra);
  r.datoff = out.tell();
}

bool patchlocalheader(bytesink &out, const ziprecord &r) {
  if (!r.localzip64 && (r.compressed >= zip64limit || r.size >= zip64limit)) return false;
  out.seek(r.headoff + 14);
  le32(out, r.crc);
  if (r.localzip64) {
    out.seek(r.headoff + 30 + (int64_t)r.name.size() + 4);
    le64(out, r.size);
    le64(out, r.compressed);
  } else {
    le32(out, (uint32_t)r.compressed);
    le32(out, (uint32_t)r.size);
  }
  out.seek(r.datoff + (int64_t)r.compressed);
  return true;
}

void writecentraldirectory(bytesink &out, const std::vector<ziprecord> &records, const std::string &comment) {
  const int64_t start = out.tell();
  for (const ziprecord &r : records) {
    const std::string zip64 = centralzip64(r), extra = zip64 + withoutzip64(r.centralextra);
    le32(out, centralsig);
    le16(out, r.madeby);
    sharedfields(out, r, false);
    le16(out, (uint32_t)r.name.size());
    le16(out, (uint32_t)extra.size());
    le16(out, (uint32_t)r.comment.size());
    le16(out, 0);   // disk number start
    le16(out, r.internalattr);
    le32(out, r.externalattr);
    le32(out, field32((uint64_t)r.headoff, (uint64_t)r.headoff >= zip64limit));
    bytes(out, r.name);
    bytes(out, extra);
    bytes(out, r.comment);
  }
  const int64_t end = out.tell();
  const uint64_t count = records.size(), size = (uint64_t)(end - start), offset = (uint64_t)start;
  const bool count64 = count >= zip64count, size64 = size >= zip64limit, offset64 = offset >= zip64limit;
  if (count64 || size64 || offset64) {
    le32(out, zip64endsig);
    le64(out, zip64endrest);
    le16(out, 3 * 256 + zip64version);   // made by Unix, 4.5
    le16(out, zip64version);
    le32(out, 0);   // this disk
    le32(out, 0);   // disk of the central directory
    le64(out, count);
    le64(out, count);
    le64(out, size);
    le64(out, offset);
    le32(out, zip64locatorsig);
    le32(out, 0);   // disk of the ZIP64 end record
    le64(out, (uint64_t)end);
    le32(out, 1);   // disks in all
  }
  le32(out, endsig);
  le16(out, 0);   // this disk
  le16(out, 0);   // disk of the central directory
  le16(out, count64 ? (uint32_t)zip64count : (uint32_t)count);
  le16(out, count64 ? (uint32_t)zip64count : (uint32_t)count);
  le32(out, field32(size, size64));
  le32(out, field32(offset, offset64));
  le16(out, (uint32_t)comment.size());
  bytes(out, comment);
}
