#include "zipout/records.h"

namespace {

// Record signatures and sizes of the fixed parts.
constexpr uint32_t localsig = 0x04034b50;     // "PK", 3, 4
constexpr uint32_t centralsig = 0x02014b50;   // "PK", 1, 2
constexpr uint32_t endsig = 0x06054b50;       // "PK", 5, 6
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
void bytes(bytesink &out, const std::string &s) { out.write(s.data(), s.size()); }

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

// The fields from version needed to the uncompressed size, which both
// headers hold in the same order.
static void sharedfields(bytesink &out, const ziprecord &r) {
  le16(out, r.needed);
  le16(out, r.flags);
  le16(out, r.method);
  le16(out, r.time);
  le16(out, r.date);
  le32(out, r.crc);
  le32(out, r.compressed);
  le32(out, r.size);
}

void writelocalheader(bytesink &out, ziprecord &r) {
  r.headoff = out.tell();
  le32(out, localsig);
  sharedfields(out, r);
  le16(out, (uint32_t)r.name.size());
  le16(out, (uint32_t)r.localextra.size());
  bytes(out, r.name);
  bytes(out, r.localextra);
  r.datoff = out.tell();
}

void patchlocalheader(bytesink &out, const ziprecord &r) {
  out.seek(r.headoff + 14);
  le32(out, r.crc);
  le32(out, r.compressed);
  le32(out, r.size);
  out.seek(r.datoff + r.compressed);
}

bool writecentraldirectory(bytesink &out, const std::vector<ziprecord> &records, const std::string &comment) {
  if (records.size() > (size_t)zipmaxentries) return false;
  const int64_t start = out.tell();
  for (const ziprecord &r : records) {
    le32(out, centralsig);
    le16(out, r.madeby);
    sharedfields(out, r);
    le16(out, (uint32_t)r.name.size());
    le16(out, (uint32_t)r.centralextra.size());
    le16(out, (uint32_t)r.comment.size());
    le16(out, 0);   // disk number start
    le16(out, r.internalattr);
    le32(out, r.externalattr);
    le32(out, (uint32_t)r.headoff);
    bytes(out, r.name);
    bytes(out, r.centralextra);
    bytes(out, r.comment);
  }
  const int64_t size = out.tell() - start;
  le32(out, endsig);
  le16(out, 0);   // this disk
  le16(out, 0);   // disk of the central directory
  le16(out, (uint32_t)records.size());
  le16(out, (uint32_t)records.size());
  le32(out, (uint32_t)size);
  le32(out, (uint32_t)start);
  le16(out, (uint32_t)comment.size());
  bytes(out, comment);
  return true;
}
