// ZIP archive input: reads an existing archive held in memory, so that its
// entries can be rewritten one by one and the archive put back together with
// nothing lost and nothing moved that other readers depend on.
//
// readarchive finds the end record (searching back from the end of the
// file), walks the central directory it points to, and checks every entry's
// local header, data and data descriptor against its central header. It
// accepts only an archive whose every byte is accounted for: the entries lie
// back to back from offset 0 up to the central directory, which runs exactly
// to the end record (or to the ZIP64 end record and its locator in front of
// it), whose comment runs exactly to the end of the file. ZIP64 sizes,
// offsets and counts are read wherever a 32-bit or 16-bit field holds its
// placeholder. Anything else - split archives, a self-extractor stub or
// signature block in front, gaps, overlaps, headers that disagree, data in
// the ZIP64 end record's extensible sector - is refused with a short
// message, because a rewrite could not keep such bytes where whoever put
// them there expects them. Entries that are encrypted or use a method
// other than stored (0) and Deflate (8) are accepted: the caller copies them
// byte for byte.
//
// extractentry gives one accepted entry's uncompressed bytes, inflated with
// zlib, checked against the entry's CRC-32 and both its sizes; readentry
// hands them on in pieces, so an entry of any size needs little memory.
//
// Nothing in an archive is trusted: every offset and length is checked
// against the buffer before a byte is read there, no allocation exceeds an
// entry's declared size, and a declared size is refused outright when its
// compressed size could not inflate to it. Both functions only read the
// buffer; they print nothing and keep no state between calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One entry as the archive describes it.
struct zipinentry {
  // From the central directory header:
  std::string name;   // the name's bytes as stored
  uint16_t madeby = 0, needed = 0, flags = 0, method = 0;
  uint16_t time = 0, date = 0;   // MS-DOS form
  uint32_t crc = 0;
  uint64_t compressed = 0;   // bytes of data in the archive
  uint64_t size = 0;         // uncompressed size
  uint16_t internalattr = 0;
  uint32_t externalattr = 0;
  std::string centralextra, comment;
  // From the local header:
  std::string localextra;
  int64_t headoff = 0;       // offset of the local header
  int64_t datoff = 0;        // offset of the data, behind the local header, name and extra
  int64_t endoff = 0;        // end of the entry: behind the data and the data descriptor, if any
  bool descriptor = false;   // flag bit 3: a data descriptor follows the data
  bool descriptorsig = false;   // that descriptor starts with its optional signature
  bool localzip64 = false;      // the local header holds a ZIP64 field (a descriptor then has 8-byte sizes)
};

struct zipinarchive {
  std::vector<zipinentry> entries;   // in central directory order
  std::string comment;               // the archive comment
  int64_t centraloffset = 0;         // where the central directory starts
};

// Parses the whole archive of size bytes at data. On refusal returns false,
// leaves a cleared archive, and sets error to a short message naming the
// problem in plain words, for the caller to print after the archive's name.
bool readarchive(const uint8_t *data, size_t size, zipinarchive &a, std::string &error);

// Hands the uncompressed bytes of entry e of the archive at data to piece,
// in pieces of at most 64 KiB, in order; piece returns false to stop early
// (readentry then returns false with an empty error). False, with a message
// in error, for the reasons extractentry gives; pieces already handed on
// are then not to be used.
bool readentry(const uint8_t *data, size_t size, const zipinentry &e,
               const std::function<bool(const uint8_t *, size_t)> &piece, std::string &error);
// Puts the uncompressed bytes of entry e of the archive at data into out:
// method 0 copied, method 8 inflated. False, with a message in error, when
// the entry is encrypted, uses another method, or its data do not give
// exactly its declared size with its CRC-32, or its Deflate stream does not
// end exactly at its compressed size.
bool extractentry(const uint8_t *data, size_t size, const zipinentry &e, std::vector<uint8_t> &out,
                  std::string &error);
