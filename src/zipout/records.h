// ZIP records: the local file header in front of each entry, the patch that
// puts CRC and sizes into it once the entry's data are written, and the
// central directory with the end record. Every field is little-endian,
// whatever the host's order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "stream/bytesink.h"

// Version 2.0 in the version fields; 4.5 in those of an entry with a ZIP64
// field.
constexpr uint16_t zipversion = 20;
constexpr uint16_t zip64version = 45;
// General purpose flag bits: 1 (with 2) the Deflate option used; 3 a data
// descriptor follows the data; 11 the name is UTF-8.
constexpr uint16_t zipflagmax = 0x0002;
constexpr uint16_t zipflagdescriptor = 0x0008;
constexpr uint16_t zipflagutf8 = 0x0800;
constexpr uint16_t methodstored = 0;
constexpr uint16_t methoddeflated = 8;
// Sizes and offsets from here on take a ZIP64 field (the 32-bit field then
// holds this value as a placeholder); so do entry counts from zip64count.
constexpr uint64_t zip64limit = 0xffffffff;
constexpr uint64_t zip64count = 0xffff;
// A file of this size or more gets a ZIP64 field in its local header before
// its data are written: its compressed size may pass 32 bits even where the
// file's does not quite (-ns keeps a coding a little larger than the file).
constexpr uint64_t zip64localfrom = zip64limit - (zip64limit >> 5);

// One entry's fields as its local and central headers carry them.
struct ziprecord {
  std::string name;           // the name's bytes as stored
  uint16_t madeby = zipversion;
  uint16_t needed = zipversion;
  uint16_t flags = 0;
  uint16_t method = methodstored;
  uint16_t time = 0, date = 0;   // MS-DOS form
  uint32_t crc = 0;
  uint64_t compressed = 0;       // size of the data in the archive
  uint64_t size = 0;             // uncompressed size
  uint16_t internalattr = 0;
  uint32_t externalattr = 0;
  // Extra fields other than ZIP64, which the writer adds where needed.
  std::string localextra, centralextra, comment;
  // The local header carries both sizes in a ZIP64 field: set before the
  // local header is written, for a file that may pass 32 bits.
  bool localzip64 = false;
  int64_t headoff = 0;           // offset of the local header
  int64_t datoff = 0;            // offset of the data, behind the local header
};

// 1 when name is valid UTF-8 with at least one byte above 127.
bool isutf8name(const std::string &name);

// How the records of a new entry describe the file. Unix: "made by Unix",
// the file's type and permission bits in the upper 16 bits of the external
// attributes, the MS-DOS attribute byte in the lower ones (0x20 a file,
// 0x10 a directory, plus 0x01 when the owner cannot write). MS-DOS: the
// attribute byte alone (0x20, or 0x10 for a directory), except that a name
// that is UTF-8 and not plain ASCII, and a symbolic link, still take the
// Unix form (mode rw-r--r-- for the name): Info-ZIP's UnZip reads every
// name of an MS-DOS-made entry as code page 437, UTF-8 flag or not, and a
// link is a link only in a Unix record.
enum class recordstyle { unix, msdos };
ziprecord filerecord(const std::string &name, uint16_t time, uint16_t date, uint32_t mode, recordstyle style);
// Sets the method and the flags that go with it (the Deflate option bit for
// method 8), keeping the UTF-8 mark.
void setmethod(ziprecord &r, uint16_t method);

// Writes the local header at the sink's position; sets headoff and datoff,
// and version 4.5 where the entry has a ZIP64 field (localzip64, or an
// offset past 32 bits). CRC and sizes are written as they stand
// (placeholders until the patch).
void writelocalheader(bytesink &out, ziprecord &r);
// Puts crc, compressed and size into the local header at headoff and
// returns to the end of the data (datoff + compressed). False, with nothing
// written, when a size passes 32 bits in a local header without a ZIP64
// field.
bool patchlocalheader(bytesink &out, const ziprecord &r);
// Writes the central directory of the records and the end record with the
// archive comment; a ZIP64 field in each central header whose sizes or
// offset pass 32 bits, and the ZIP64 end record and locator in front of the
// end record where a count, the directory's size or its offset do not fit.
// An archive that needs none of it has none.
void writecentraldirectory(bytesink &out, const std::vector<ziprecord> &records, const std::string &comment = "");
// extra without its ZIP64 fields (the writer makes its own).
std::string withoutzip64(const std::string &extra);
