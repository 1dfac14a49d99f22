// Driver: the command line and run control (vorpak, the body of main), and
// the multi-pass compression of one file (compressfile).
//
// A run: options into the run settings, the archive name completed, the file
// table filled, the overwrite prompt, the archive created, every entry
// compressed in passes until another pass cannot help, the central
// directory, the totals line.
#pragma once

#include <cstdint>
#include <cstdio>

// ---- Run settings, set once from the command line ----------------------

extern int32_t lookdirmode;       // -r: recurse into directories, store paths
extern int32_t verbosemode;       // -v: block report, pass lines, tick count
extern int32_t overwriteyesmode;  // -y: no overwrite prompt
extern int32_t strategy;          // -s#: 0 Xtreme, 1 Intense, 2 Longest Match, 3 Huffman Only, 4 Uncompressed
extern int32_t nostore;           // -ns: keep the compressed entry even when it is larger
extern int32_t fixzlib121;        // -zl121: a code-length table with no used symbol gets one code
extern double gpohufthresh;       // -b#: block split threshold in bytes; 0 or less: one block
extern int32_t gpohufnum;         // -n#: exact block count (0: the threshold decides)
extern int32_t rndinitabs;        // -rn: random starting tables
// Standard output is a terminal and neither -q nor -v was given: the file's
// line shows which pass is running.
extern int32_t progressmode;

constexpr int32_t infilbufsiz = 65536;
// Input buffer shared by the "@" list reader, the passes and stored entries.
extern uint8_t infilbuf[infilbufsiz];

constexpr int32_t namebufsiz = 260;   // archive name, stored names and paths, with NUL
extern char zipfilnam[namebufsiz];
extern char tmpfilnam[namebufsiz];

// Resets every setting to its default.
void resetsettings();
// Reads every argument from argv[1] on: options set the run settings.
// Returns the index of the first argument that is not an option (the
// archive name), or 0 when there is none.
int32_t parseoptions(int argc, char **argv);
// Copies name to dst (namebufsiz bytes) and appends ".zip" or ".ZIP" when
// its base name has no "."; returns 0 when the result does not fit.
int32_t completename(char *dst, const char *name);
// Splits the bytes of an "@" list file into names (a byte of 32 or less
// separates) and hands each one to findfiles. buf must have room for n + 1
// bytes: names are terminated in place.
void listfilenames(char *buf, int32_t n);

// The whole run; returns the exit status.
int vorpak(int argc, char **argv);

// A free-running 64-bit tick count for the verbose timing line.
uint64_t readtics();

// ---- Multi-pass file compression ---------------------------------------

constexpr int32_t maxpasses = 1024;   // passes recorded; the 1025th stands without comparison

extern int32_t passcnt;                               // current pass of the current file, from 0
extern int32_t lastpass;                              // 1 while the final, re-creating pass runs
extern int32_t bestleng;                              // shortest recorded pass of the current file
extern int32_t passleng[maxpasses];                   // compressed length of each recorded pass
extern uint32_t passcrc[maxpasses];                   // fingerprint of each recorded pass's lengths
extern uint8_t oldhufbit[1024][320];                  // lengths the current pass codes with
extern uint8_t besthufbit[1024][320];                 // lengths of the best pass so far

// The fixed starting lengths of one block's 320 slots: complete prefix codes
// over literals, end of block, lengths and distances, or over literals and
// end of block alone under Huffman Only.
void fixedlengths(int32_t *bit);

// The generator of random starting tables (-rn): seeded once per run, so
// that runs started together still differ, and drawn from for every block.
extern uint64_t rndstate;
// The next 64-bit word of the generator whose state is *state.
uint64_t rndnext(uint64_t *state);
// Random starting lengths for one block: positive random weights in frq for
// every literal, length and distance slot, turned into code lengths in bit.
void randomlengths(uint64_t *state, int32_t *frq, int32_t *bit);
// A seed that differs between runs: the clock in nanoseconds and the process.
uint64_t runseed();

// Fingerprint of the hufnum rows of oldhufbit.
uint32_t passfingerprint();

// Records the search pass just ended, of length len, which coded with the
// lengths in oldhufbit, and decides what follows it. True: stop, this pass's
// entry stands (the pass cap, or a repeated pass that is the best). False:
// go on, with lastpass set to 1 and the best pass's lengths back in every
// block when a repeated pass is longer than the best.
bool recordpass(int32_t len);

// Writes entry i from the open input fil: stored under strategy 4, else
// block layout, starting lengths and passes until another pass cannot help;
// the best pass is kept, and a file that does not shrink is stored.
void compressfile(int32_t i, FILE *fil);
