// Multi-pass compression of one file. The blocks are laid out once; then
// the whole file is compressed again and again, each pass coding every block
// with the code lengths derived from that block's own counts in the pass
// before, overwriting the entry in place. The loop stops when another pass
// is predicted to save nothing, when the sequence of tables repeats, or at
// the pass cap; the best pass is re-created when the last is not the best,
// and a file that does not shrink is stored.
#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "deflate/deflate.h"
#include "driver/driver.h"
#include "files/files.h"
#include "zipout/zipout.h"

int32_t passcnt = 0;
int32_t lastpass = 0;
int32_t bestleng = 0x7fffffff;
int32_t passleng[maxpasses];
uint32_t passcrc[maxpasses];
uint8_t oldhufbit[1024][320];
uint8_t besthufbit[1024][320];

uint32_t passfingerprint() {
  // The rows read as one sequence, taken in pairs from the last to the
  // first, each pair packed into one byte (lengths are at most 15).
  const uint8_t *seq = &oldhufbit[0][0];
  uint32_t r = 0xffffffff;
  for (int32_t k = hufnum * hufslots - 2; k >= 0; k -= 2) r = crcstep(r, (uint32_t)seq[k + 1] * 16 + seq[k]);
  return r;
}

void fixedlengths(int32_t *bit) {
  if (strategy == 3) {
    for (int32_t s = 0; s < hufslots; s++) bit[s] = 0;
    for (int32_t s = 0; s <= 255; s++) bit[s] = 8;
    bit[128] = 9;
    bit[256] = 9;
    return;
  }
  for (int32_t s = 0; s < hufslots; s++) {
    int32_t v;
    if (s <= 143) v = 8;
    else if (s <= 255) v = 9;
    else if (s <= 281) v = 7;
    else if (s <= 285) v = 8;
    else if (s <= 287) v = 0;
    else if (s <= 289) v = 4;
    else if (s <= 317) v = 5;
    else v = 0;
    bit[s] = v;
  }
}

uint64_t rndstate = 0;

uint64_t rndnext(uint64_t *state) {
  // splitmix64: every seed gives a full-period sequence of well-mixed words.
  uint64_t z = (*state += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

void randomlengths(uint64_t *state, int32_t *frq, int32_t *bit) {
  // Every weight positive and their sum within 32 bits: each draw is reduced
  // to 0..32767, giving weights 16384..49151.
  for (int32_t s = 0; s <= 285; s++) frq[s] = (int32_t)(rndnext(state) & 32767) + 16384;
  frq[286] = frq[287] = 0;
  for (int32_t s = 288; s <= 317; s++) frq[s] = (int32_t)(rndnext(state) & 32767) + 16384;
  frq[318] = frq[319] = 0;
  hufrq2bit(frq, 286, bit, 16);
  hufrq2bit(frq + hufdistslot, 30, bit + hufdistslot, 16);
}

// Starting lengths: fixed tables that are complete prefix codes, or random
// ones for trials, drawn afresh for every block from the run's generator.
static void startinglengths() {
  for (int32_t b = 0; b < hufnum; b++) {
    if (strategy == 3 || !rndinitabs) fixedlengths(huf[b].bit);
    else randomlengths(&rndstate, huf[b].frq, huf[b].bit);
  }
}

static void layoutblocks(int32_t i, FILE *fil) {
  int32_t leng = zfil[i].leng;
  if (gpohufthresh > 0.0) {
    hufbuf = (uint8_t *)malloc(leng > 0 ? (size_t)leng : 1);
    if (!hufbuf) fatal("malloc failed\n");
    freadall(hufbuf, leng, fil, i);
    fseek(fil, 0, SEEK_SET);
    hufnum = 0;
    hufsplit(0, leng);
    free(hufbuf);
    hufbuf = nullptr;
  } else {
    hufnum = 1;
  }

  if (verbosemode) {
    myprintf("   \nBlock boundaries: ");
    if (hufnum == 1) myprintf("none");
    for (int32_t b = 0; b < hufnum - 1; b++) myprintf(b ? ",%x" : "%x", huf[b].x1);
    myprintf(" (%d block", hufnum);
    if (hufnum > 1) myprintf("s");
    myprintf(")\n\n");
    myprintf("\n");
  } else {
    fflush(stdout);
  }
}

// Progress on a terminal: the number of the pass that is running, shown
// after the progress word and erased (backed over, blanked, backed over
// again) before the pass's figures, so that the line ends as it would
// without it and the stored fallback's count of characters to back over
// still holds.
static int32_t progressshown = 0;

static void showprogress(int32_t pass) {
  if (!progressmode) return;
  progressshown = myprintf("pass %d", pass);
  fflush(stdout);
}

static void eraseprogress() {
  if (!progressmode || progressshown <= 0) return;
  for (int32_t k = 0; k < progressshown; k++) myprintf("\b");
  myprintf("%*s", (int)progressshown, "");
  for (int32_t k = 0; k < progressshown; k++) myprintf("\b");
  progressshown = 0;
}

static void savebits(uint8_t (*rows)[320]) {
  for (int32_t b = 0; b < hufnum; b++)
    for (int32_t s = 0; s < hufslots; s++) rows[b][s] = (uint8_t)huf[b].bit[s];
}

static void restorebest() {
  for (int32_t b = 0; b < hufnum; b++)
    for (int32_t s = 0; s < hufslots; s++) huf[b].bit[s] = besthufbit[b][s];
  lastpass = 1;
}

bool recordpass(int32_t len) {
  if (passcnt > maxpasses - 1) return true;
  passleng[passcnt] = len;
  if (len < bestleng) {
    bestleng = len;
    memcpy(besthufbit, oldhufbit, (size_t)hufnum * 320);
  }
  passcrc[passcnt] = passfingerprint();
  // The same tables give the same pass: once a pass repeats an earlier
  // one, every pass after it would repeat the ones between.
  int32_t k = passcnt - 1;
  while (k >= 0 && !(passcrc[k] == passcrc[passcnt] && passleng[k] == len)) k--;
  if (k < 0) return false;
  if (len <= bestleng) return true;
  restorebest();
  return false;
}

void compressfile(int32_t i, FILE *fil) {
  if (strategy == 4) {
    zfil[i].headoff = votell();
    zipbuf[0] = 0;
    storefile(i, fil);
    return;
  }

  layoutblocks(i, fil);
  startinglengths();

  lastpass = 0;
  passcnt = 0;
  bestleng = 0x7fffffff;
  const int32_t leng = zfil[i].leng;
  // What the passes have printed on the file's line after the progress
  // word, so that the line can end with the figures of the entry kept.
  char shown[2 * zipbufsiz];
  shown[0] = 0;
  bool stored = false;

  for (;;) {
    savebits(oldhufbit);
    zipoutopenfile(i);
    showprogress(passcnt + 1);
    for (int32_t o = 0; o < leng; o += infilbufsiz) {
      int32_t n = leng - o < infilbufsiz ? leng - o : infilbufsiz;
      freadall(infilbuf, n, fil, i);
      fputbuf(infilbuf, n);
    }
    eraseprogress();
    zipoutclose();
    if (strlen(shown) + strlen(zipbuf) < sizeof shown) strcat(shown, zipbuf);
    const int32_t len = zfil[i].endoff - zfil[i].datoff;

    if (lastpass) break;

    if (ghufsave <= 0) {
      if (!nostore && leng < (bestleng < len ? bestleng : len)) {
        storefile(i, fil);
        stored = true;
      }
      if (zfil[i].endoff - zfil[i].datoff <= bestleng) break;
      restorebest();
    }

    if (!lastpass && recordpass(len)) break;

    fseek(fil, 0, SEEK_SET);
    voseek(zfil[i].headoff);
    passcnt++;
  }

  // The line ends with the figures of the entry kept. A loop that ended by
  // a cycle, the cap or a re-created best pass may have printed none, or
  // those of a longer pass.
  if (!verbosemode && !stored) {
    zfiltyp &z = zfil[i];
    int32_t fsiz = z.endoff - z.datoff;
    int32_t p = leng ? (int32_t)(100 - ((int64_t)fsiz * 100) / leng) : 0;
    char want[zipbufsiz];
    snprintf(want, sizeof want, "%9d/%9d bytes (%2d%c)", fsiz, leng, p, 37);
    if (strcmp(shown, want) != 0) {
      size_t old = strlen(shown);
      for (size_t k = 0; k < old; k++) myprintf("%c", 8);
      myprintf("%s", want);
      for (size_t k = strlen(want); k < old; k++) myprintf(" ");
      snprintf(zipbuf, zipbufsiz, "%s", want);
    }
  }
}
