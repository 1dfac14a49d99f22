// Deflate encoder: turns one file's bytes into a stream of dynamic-Huffman
// blocks (RFC 1951, BTYPE 2).
//
// How the parts meet. The block splitter (blocksplit) cuts the file into
// blocks once, by an order-0 entropy estimate. Each compression pass then
// parses the file anew (parse): a shortest-path LZ77 parse over the byte
// positions, in which every literal and every match the search offers
// (matchsearch) is a step priced by its exact size in bits under the current
// block's code lengths (blocktable's bitot). Whenever a stretch of the path
// can no longer change it is written through the bit writer (bitwriter) with
// the block's canonical codes (huffman) and counted. At each block end the
// block table derives from the block's own counts the lengths that the next
// pass will use, predicts the saving, and writes the next block's header
// (blockheader). The length and distance code tables (codetables) are built
// once per process.
//
// All state is process-wide and fixed-size; one file and one pass are coded
// at a time.
#pragma once

#include <cstdint>

#include "zipout/zipout.h"

// ---- Bit writer --------------------------------------------------------------

extern uint32_t zipdat;   // pending bits, oldest at bit 0; bits >= zipbit are zero
extern int32_t zipbit;    // pending bit count, 0..7 between calls

// Appends the low n bits of v (0 <= n <= 25, v < 2^n), bit 0 first; full
// bytes go to the archive at once.
inline void fputbits(int32_t v, int32_t n) {
  zipdat |= (uint32_t)v << zipbit;
  zipbit += n;
  while (zipbit >= 8) {
    voputc((int32_t)(zipdat & 0xff));
    zipdat >>= 8;
    zipbit -= 8;
  }
}

// ---- Length and distance code tables -------------------------------------

// Rows 0..29: distance codes 0..29; rows 30..58: length symbols 257..285
// (row = symbol - 227). Column 0: extra bits; column 1: base value.
extern int32_t hxbit[59][2];
extern uint8_t huflind[256];     // huflind[l-3]: row of length l (30..58); 258 -> 58
extern uint8_t hufdind[32768];   // hufdind[d-1]: distance code of distance d (0..29)
extern int32_t wlz77init1stime;  // 1 once the tables are built

// Builds hxbit, huflind and hufdind (the first wlz77init calls it).
void initcodetables();

// ---- Huffman code lengths and canonical codes ----------------------------

extern int32_t hpfrq[576];    // node weights while building, then depths; 575 is the sentinel
extern int32_t hppnode[576];  // parent of each node
extern int32_t heapbuf[290];  // 1-based heap of node numbers; slot 0 holds the sentinel
extern int32_t heapcnt;       // nodes in the heap

void heapinit();
void heapinsert(int32_t num);
int32_t heapremovetop();

// Code lengths for inum frequencies, every length below maxbitsiz; weights
// are coarsened until the longest code fits. Ties are resolved by fixed rules
// on which the output depends.
void hufrq2bit(const int32_t *frqbuf, int32_t inum, int32_t *bitbuf, int32_t maxbitsiz);
// Bit-reversed canonical codes for inum lengths; symbols of length 0 keep
// their old sybuf entries.
void hufgensym(const int32_t *inbuf, int32_t inum, int32_t *sybuf);

// ---- Dynamic block header -----------------------------------------------

// Writes HLIT, HDIST, HCLEN, the code-length code and the run-length coded
// lengths of one block's 320-slot table (after BFINAL and BTYPE).
void storehuftables(const int32_t *dahufbit);

// ---- Huffman block table ----------------------------------------------------

// Symbol slots of every 320-entry table: 0-255 literals, 256 end of block,
// 257-285 length codes, 288-317 distance codes 0-29; 286, 287, 318, 319 unused.
constexpr int32_t hufslots = 320;
constexpr int32_t hufmaxblocks = 1024;
constexpr int32_t hufdistslot = 288;
// Price of a code without a length: more than the 258 x 15 bits of the
// longest match spelled out in literals, so the parse avoids such codes.
constexpr int32_t hufnocost = 4096;
// Occurrence flag in frq: the parse weighed this byte value as a literal.
constexpr uint32_t hufseenflag = 0x80000000u;

struct huftree {
  int32_t frq[hufslots];   // counts of this pass; bit 31 is the occurrence flag
  int32_t bit[hufslots];   // code lengths this pass codes with; after nexthuf, those for the next pass
  int32_t x;               // splitter: best cut inside the block (absolute)
  int32_t x0;              // splitter: first byte of the block
  int32_t x1;              // end of the block (exclusive); the last block's is 0x7fffffff during a pass
  int32_t prev;            // splitter: block this one was cut from, -1 for block 0
  double thresh;           // splitter: saving of the cut at x, in bytes
};

extern huftree huf[hufmaxblocks];
extern int32_t hufnum;              // blocks of the current file, 1..1024
extern int32_t hufcur;              // block being coded; hufnum when all are finished
extern int32_t hufsym[hufslots];    // bit-reversed codes of the current block
extern int32_t nhufbit[hufslots];   // scratch: derived lengths
extern int32_t bitot[59];           // parser cost (length + extra bits, or hufnocost) by code row
extern uint8_t resetleng[32];       // strategy 0: next distance code with a strictly lower cost, or 30
// Predicted saving in bits of the pass so far (64-bit: a large file's
// saving can exceed 2^31 bits).
extern int64_t ghufsave;

// Makes block dacur current: clears its counts, prices its codes, builds its
// canonical codes.
void inithuf(int32_t dacur);
// Ends block hufcur (end-of-block, next-pass lengths, predicted saving) and
// starts the next one with its header, if there is one.
void nexthuf();

// ---- Block splitting --------------------------------------------------------

extern uint8_t *hufbuf;       // the whole file while blocks are laid out (owned by the driver)
extern int32_t frq0[256];     // byte counts of the first part
extern int32_t frq1[256];     // byte counts of the whole range
extern double lrq0[256];      // running log term of the first part
extern double lrq1[256];      // running log term of the second part
extern double lrq[256];       // current cost term

// Best cut of num bytes (1..num-1) by the entropy estimate; stores the
// saving in bytes in *thresh. num < 2: returns 0 and stores nothing.
int32_t findsplit(const uint8_t *buf, int32_t num, double *thresh);
// Cuts hufbuf[x0..x1) into blocks; sets hufnum and every block's x1.
int32_t hufsplit(int32_t x0, int32_t x1);

// ---- LZ77 window and match search ---------------------------------------

constexpr int32_t wlzsiz = 65536;          // window ring
constexpr int32_t wlzmask = wlzsiz - 1;
constexpr int32_t wlzmaxdist = 32768;
constexpr int32_t wlzmaxchunk = 32256;     // most bytes one wlz77 call accepts
constexpr int32_t wlzlookahead = 260;      // bytes that must follow a position before it is processed
// The list store: each searched position stores up to 256 distances. Lists
// of the 32767 positions a search can still follow must never be
// overwritten; with sharing, the live part of the ring is at most
// 32769 x 256 entries plus one wrap gap of 255, so this size always holds it.
constexpr int32_t patbufsiz = (1 << 23) + (1 << 16);

extern uint8_t wlz[wlzsiz + 4];        // window; wlz[65536..65539] repeat wlz[0..3]
// Hash heads. The search only ever uses the nearest earlier position whose
// first three bytes are equal, so the hash decides speed, not output: 2^16
// heads keep chains of unequal strings short even in data made of a few
// byte values.
constexpr int32_t ffhsiz = 65536;
extern int16_t ffh[ffhsiz];            // hash heads (position & 32767)
extern int16_t ffn[32768];             // hash chain links
extern int32_t solval;                 // byte value of the current run
extern int32_t soleftc;                // equal bytes before the current position, capped at 32767
extern uint16_t soleft[65536];         // soleftc as it stood at each position
extern int32_t solrig;                 // end of the run from the last searched position
extern int32_t soleng;                 // run length from the current position
extern uint16_t patbuf[patbufsiz];     // the list store, a ring
extern int32_t pat0[32768];            // start of each position's list
extern int32_t pat10[32768];           // entries in each position's list, 0..256
extern int32_t patplc;                 // next free index in patbuf
extern int32_t opat1;                  // end of the previous position's list
extern int32_t opat10;                 // entries in the previous position's list
extern int32_t dbitol[256];            // strategy 0: cheapest distance cost offered per length

// Searches position p (reached at cost sc) and offers every candidate.
void wlzsearch(int32_t p, int32_t sc);
// Inserts a position the parse does not search.
void wlzskip(int32_t q);

// ---- Optimal parse and symbol emission ---------------------------------

struct bjtyp {
  uint16_t l;   // 1: literal of byte d; 3..258: match of length l at distance d
  uint16_t d;
};

constexpr int32_t bjsiz = 262144;   // step ring; the forced cut keeps a path inside it
constexpr int32_t bjsmask = 511;    // cost ring: no step is longer than 258
constexpr int32_t bjunreached = 0x7fffffff;
constexpr int32_t bjstart = (int32_t)0x80000000;

extern bjtyp bj[bjsiz];       // last step of the cheapest known path to each position
extern int32_t bjs[bjsmask + 1];   // cost of the cheapest known path, or bjunreached
extern int32_t wlzend;        // bytes of the entry received
extern int32_t wlzplc;        // next position to process
extern int32_t wlzmini;       // last cut point: everything before it is written
extern int32_t wlzmaxi;       // furthest position any recorded step reaches
extern int32_t dawlzend2;     // no step may end beyond this (block end or data end)

// Per-entry reset: builds the code tables on the first call, clears the
// parse and search state, makes block 0 current.
void wlz77init();
// Parses and writes a chunk of at most wlzmaxchunk bytes; leng 0 ends the data.
void wlz77(const uint8_t *buf, int32_t leng);

// Records the step (l, d) from p when it is the cheapest known way to p + l
// and p + l does not pass the block end or the data received.
inline void wlzoffer(int32_t p, int32_t l, int32_t d, int32_t nsc) {
  int32_t t = p + l;
  if (nsc < bjs[t & bjsmask] && t <= dawlzend2) {
    if (t > wlzmaxi) wlzmaxi = t;
    bjs[t & bjsmask] = nsc;
    bj[t & (bjsiz - 1)] = bjtyp{(uint16_t)l, (uint16_t)d};
  }
}
