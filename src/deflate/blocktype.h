// The type of each block of a coding, chosen by its bits, and the writing of
// a coding. A block of a few hundred symbols may lose more to a dynamic
// header than the fixed code loses on its symbols, and a stretch that does
// not compress is shorter stored; so every block is written as the cheapest
// of the three types of RFC 1951: stored (BTYPE 0), the fixed code (BTYPE 1),
// or dynamic codes (BTYPE 2), whose lengths and header are themselves chosen
// for the fewest bits.
#pragma once

#include <array>
#include <cstdint>

#include "deflate/coding.h"
#include "deflate/dynamiccode.h"

// The fixed code of RFC 1951 (3.2.6) in the 320 symbol slots: literals
// 0-143 8 bits, 144-255 9, end of block and length symbols 256-279 7,
// 280-287 8, every distance code 5. The code has 288 literal/length
// symbols: 286 and 287, never used, still take two of the 8-bit codes, and
// so shift every 9-bit code; its canonical codes come from all 288.
constexpr int32_t fixedlitlencount = 288;
constexpr std::array<int32_t, slotcount> buildfixedcode() {
  std::array<int32_t, slotcount> l{};
  for (int32_t s = 0; s < fixedlitlencount; s++) l[(size_t)s] = s <= 143 ? 8 : s <= 255 ? 9 : s <= 279 ? 7 : 8;
  for (int32_t c = 0; c < distcodecount; c++) l[(size_t)(distslot + c)] = 5;
  return l;
}
inline constexpr std::array<int32_t, slotcount> fixedcode = buildfixedcode();

// The most bytes one stored block holds (LEN is 16 bits).
constexpr int64_t storedmax = 65535;
// The bits of bytes stored from a block start at bit position (mod 8) of
// the stream: for every 65535 bytes or part of them BFINAL and BTYPE, the
// padding to a byte, LEN and NLEN, then the bytes.
int64_t storedbits(int64_t bytes, int64_t position);
// Where a stored block is priced while its position is not known: its
// header then needs 4 bits of padding, about the average.
constexpr int64_t typicalposition = 1;

// The block as its cheapest dynamic coding, when that is shorter than what
// it is.
void recodeblock(codedblock &b, huffmanscratch &s, bool onecode);

// Sets the type of every block of c to the cheapest, in order (a stored
// block's padding depends on where it begins): stored; the fixed or the
// dynamic codes of its own steps; and, when fixedparse is not null (a
// coding with the same layout parsed with the fixed code's costs), the
// fixed or dynamic codes of that parse's steps.
void choosetypes(coding &c, const coding *fixedparse, huffmanscratch &s, bool onecode);

// Writes the blocks into out, BFINAL set on the last only; returns the
// bytes written.
int64_t writecoding(const coding &c, const uint8_t *data, bytesink &out, huffmanscratch &s, bool onecode);
