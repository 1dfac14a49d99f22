// The length and distance codes of Deflate (RFC 1951, 3.2.5) in one row
// numbering: rows 0..29 are the distance codes 0..29, rows 30..58 the length
// symbols 257..285 (row = symbol - 227). The match search and the parse look
// a code up for every candidate and every match they write, so both mappings
// are plain byte tables indexed by length - 3 and distance - 1. They are
// constants, computed when the program is compiled.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

struct coderow {
  int32_t extrabits;   // bits that follow the code
  int32_t base;        // the smallest length or distance the code stands for
};

constexpr int32_t coderowcount = 59;
constexpr int32_t firstlengthrow = 30;    // row of length symbol 257
constexpr int32_t lengthsymbolbase = 227; // length symbol = row + 227
constexpr int32_t distcodecount = 30;

struct codetablesdata {
  std::array<coderow, coderowcount> rows{};
  std::array<uint8_t, 256> lengthrow{};     // [l - 3]: row of length l (30..58); 258 -> 58
  std::array<uint8_t, 32768> distcode{};    // [d - 1]: distance code of distance d (0..29)
};

constexpr codetablesdata buildcodetables() {
  codetablesdata t;
  // Distance codes: two codes per extra-bit count from code 4 on; each code
  // starts where the previous one's range ends.
  int32_t base = 1, extra = 0;
  for (int32_t r = 0; r < 30; r++) {
    t.rows[(size_t)r] = {extra, base};
    base += 1 << extra;
    if ((r & 1) && r > 1) extra++;
  }
  // Length symbols 257..284: four symbols per extra-bit count from 265 on.
  base = 3, extra = 0;
  for (int32_t s = 257; s <= 284; s++) {
    t.rows[(size_t)(s - lengthsymbolbase)] = {extra, base};
    base += 1 << extra;
    if ((s & 3) == 0 && s > 263) extra++;
  }
  // Symbol 285 stands for 258 alone. Symbol 284 with its 5 extra bits could
  // also spell 258, but RFC 1951 gives it only 227..257, and strict
  // decoders refuse 284 + 31.
  t.rows[58] = {0, 258};
  // Walking down from the top, each value gets the highest row whose base
  // does not exceed it; so 258 maps to row 58, never to row 57.
  int32_t row = 58;
  for (int32_t l = 258; l >= 3; l--) {
    t.lengthrow[(size_t)(l - 3)] = (uint8_t)row;
    if (l - 1 < t.rows[(size_t)row].base) row--;
  }
  row = 29;
  for (int32_t d = 32768; d >= 1; d--) {
    t.distcode[(size_t)(d - 1)] = (uint8_t)row;
    if (d - 1 < t.rows[(size_t)row].base) row--;
  }
  return t;
}

inline constexpr codetablesdata codetables = buildcodetables();
static_assert(codetables.lengthrow[0] == 30 && codetables.lengthrow[255] == 58 && codetables.lengthrow[254] == 57);
static_assert(codetables.distcode[0] == 0 && codetables.distcode[32767] == 29 && codetables.rows[29].base == 24577);
