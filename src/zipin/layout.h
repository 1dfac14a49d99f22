// The record layouts this subsystem reads, and how its messages name an
// entry. Only the subsystem's own sources include this: the short names are
// for its record parsing alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "zipin/zipin.h"

// Record signatures: "PK" and two bytes.
constexpr uint32_t localsig = 0x04034b50;
constexpr uint32_t centralsig = 0x02014b50;
constexpr uint32_t endsig = 0x06054b50;
constexpr uint32_t descriptorsig = 0x08074b50;
constexpr uint32_t zip64endsig = 0x06064b50;
constexpr uint32_t zip64locatorsig = 0x07064b50;

// Sizes of the records up to their variable-length fields.
constexpr int64_t localsize = 30;
constexpr int64_t centralsize = 46;
constexpr int64_t endsize = 22;
// The end record's comment length has 16 bits, so the record starts within
// this many bytes of the end of the file.
constexpr int64_t maxcomment = 65535;
// The ZIP64 end locator sits right in front of the end record, the ZIP64 end
// record (without an extensible data sector) in front of the locator.
constexpr int64_t zip64locatorsize = 20;
constexpr int64_t zip64endsize = 56;
// A data descriptor holds CRC-32, compressed and uncompressed size; the
// signature in front of it is optional.
constexpr int64_t descriptorsize = 12;
constexpr int64_t descriptor64size = 20;   // behind a local header with a ZIP64 field
constexpr int64_t descriptorsigsize = 4;

// Values that mean "the real one is in a ZIP64 record".
constexpr uint16_t zip64count = 0xffff;
constexpr uint32_t zip64value = 0xffffffff;
// The extra field that carries ZIP64 sizes and offsets.
constexpr uint16_t zip64extraid = 0x0001;

// General purpose flag bits: 0 encrypted, 3 sizes and CRC in a data
// descriptor behind the data.
constexpr uint16_t flagencrypted = 0x0001;
constexpr uint16_t flagdescriptor = 0x0008;

// Reads little-endian fields of a buffer whose every access the caller has
// already checked against the buffer's size.
inline uint16_t le16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }
inline uint32_t le32(const uint8_t *p) { return (uint32_t)le16(p) | (uint32_t)le16(p + 2) << 16; }
inline uint64_t le64(const uint8_t *p) { return (uint64_t)le32(p) | (uint64_t)le32(p + 4) << 32; }

// The entry as a message names it: 'entry "NAME"', the name fit for a
// terminal (control bytes become '?', a very long name is cut).
std::string entrylabel(const zipinentry &e);
