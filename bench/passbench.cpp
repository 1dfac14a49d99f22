// Throughput of one compression pass, without the driver around it.
//
// A pass is what the driver repeats for every file: zipoutopenfile, the
// file's bytes through fputbuf in 65536-byte pieces, zipoutclose. Here the
// file is read into memory once, so the figure is the encoder's own speed
// (parse, match search, Huffman coding, the archive ring) and not the disk's.
//
// Two passes are measured for each file, both over a single block and from
// the fixed starting lengths the driver gives the first pass:
//   strategy 3 (Huffman Only): a literal pass, no match search at all;
//   strategy 0 (Xtreme): the full search, the most expensive pass there is.
//
// Each measurement repeats the pass until a second has gone by
// (CLOCK_MONOTONIC), after one untimed pass that builds the code tables and
// touches the tables' memory. The starting lengths are set anew before every
// pass, so every repetition does exactly the same work. MB = 1,048,576 bytes.
//
//   passbench [-t seconds] [file ...]     (default: every file of the corpus)
#include <dirent.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "deflate/deflate.h"
#include "driver/driver.h"
#include "files/files.h"
#include "zipout/zipout.h"

#ifndef VORPAK_CORPUS
#define VORPAK_CORPUS "."
#endif

constexpr double mbbytes = 1048576.0;
constexpr int32_t maxbenchfiles = 256;

static double targetsecs = 1.0;   // how long one measurement runs

static uint8_t *filedata = nullptr;   // the file being measured, in memory
static int32_t fileleng = 0;

struct benchresult {
  int32_t passes;     // timed passes
  double wallsecs;    // CLOCK_MONOTONIC
  double cpusecs;     // CLOCK_PROCESS_CPUTIME_ID, less noisy on a busy machine
  int32_t compleng;   // Deflate bytes one pass wrote
};

// Totals per strategy over all files: bytes fed and seconds taken.
static double totalbytes[2];
static double totalwall[2];
static double totalcpu[2];

static double nowsecs(clockid_t c) {
  timespec ts;
  clock_gettime(c, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

// The lengths the driver gives a single block before the first pass.
static void startinglengths() { fixedlengths(huf[0].bit); }

// One pass over entry 0, written at the start of the archive over the pass
// before; returns its Deflate bytes.
static int32_t onepass() {
  hufnum = 1;
  startinglengths();
  voseek(0);
  zipoutopenfile(0);
  for (int32_t o = 0; o < fileleng; o += infilbufsiz) {
    int32_t n = std::min(fileleng - o, infilbufsiz);
    fputbuf(filedata + o, n);
  }
  zipoutclose();
  return zfil[0].endoff - zfil[0].datoff;
}

static benchresult measure(int32_t st) {
  strategy = st;
  benchresult r;
  r.compleng = onepass();
  r.passes = 0;
  double w0 = nowsecs(CLOCK_MONOTONIC);
  double c0 = nowsecs(CLOCK_PROCESS_CPUTIME_ID);
  do {
    onepass();
    r.passes++;
    r.wallsecs = nowsecs(CLOCK_MONOTONIC) - w0;
  } while (r.wallsecs < targetsecs);
  r.cpusecs = nowsecs(CLOCK_PROCESS_CPUTIME_ID) - c0;
  return r;
}

static void loadfile(const char *path) {
  FILE *f = fopen(path, "rb");
  if (!f) {
    fprintf(stderr, "passbench: cannot open %s\n", path);
    exit(1);
  }
  fseek(f, 0, SEEK_END);
  long n = ftell(f);
  fseek(f, 0, SEEK_SET);
  if (n < 0 || n > 0x7fffffffL - infilbufsiz) {
    fprintf(stderr, "passbench: %s is too large\n", path);
    exit(1);
  }
  free(filedata);
  fileleng = (int32_t)n;
  filedata = (uint8_t *)malloc(fileleng ? (size_t)fileleng : 1);
  if (!filedata || fread(filedata, 1, (size_t)fileleng, f) != (size_t)fileleng) {
    fprintf(stderr, "passbench: cannot read %s\n", path);
    exit(1);
  }
  fclose(f);
}

static void printrow(const char *name, const char *what, const benchresult &r) {
  double mb = (double)fileleng * r.passes / mbbytes;
  printf("%-14s %10d  %-13s %7d %7.3f %9.2f %9.2f %10d\n", name, fileleng, what, r.passes, r.wallsecs,
         r.wallsecs > 0.0 ? mb / r.wallsecs : 0.0, r.cpusecs > 0.0 ? mb / r.cpusecs : 0.0, r.compleng);
}

static void benchfile(const char *path, const char *archive) {
  loadfile(path);

  // The file table: entry 0 is the file, as the driver would have listed it.
  messagestream = stdout;
  findfilesinit();
  findfiles(path);
  if (numfiles != 1 || (zfil[0].attr & 0x10)) {
    fprintf(stderr, "passbench: %s does not name one file\n", path);
    exit(1);
  }
  zfil[0].leng = fileleng;
  if (!voopen(archive)) {
    fprintf(stderr, "passbench: cannot create an archive beside %s\n", archive);
    exit(1);
  }

  // The pass reports would fill the table; quiet mode silences them.
  messagestream = nullptr;
  benchresult lit = measure(3);
  benchresult xtr = measure(0);
  messagestream = stdout;
  zipoutfinish();
  unlink(archive);

  const char *name = strrchr(path, '/') ? strrchr(path, '/') + 1 : path;
  printrow(name, "literal (-s3)", lit);
  printrow(name, "Xtreme (-s0)", xtr);
  fflush(stdout);
  const benchresult *rs[2] = {&lit, &xtr};
  for (int32_t k = 0; k < 2; k++) {
    totalbytes[k] += (double)fileleng * rs[k]->passes;
    totalwall[k] += rs[k]->wallsecs;
    totalcpu[k] += rs[k]->cpusecs;
  }
}

static int comparenames(const void *a, const void *b) {
  return strcmp(*(char *const *)a, *(char *const *)b);
}

// Every regular file of the corpus directory, sorted by name.
static int32_t corpusfiles(char **paths) {
  DIR *d = opendir(VORPAK_CORPUS);
  if (!d) {
    fprintf(stderr, "passbench: no corpus at %s; name the files to measure\n", VORPAK_CORPUS);
    exit(1);
  }
  int32_t n = 0;
  while (dirent *e = readdir(d)) {
    if (n >= maxbenchfiles) break;
    char buf[4096];
    snprintf(buf, sizeof buf, "%s/%s", VORPAK_CORPUS, e->d_name);
    struct stat st;
    if (stat(buf, &st) != 0 || !S_ISREG(st.st_mode)) continue;
    paths[n++] = strdup(buf);
  }
  closedir(d);
  qsort(paths, (size_t)n, sizeof *paths, comparenames);
  return n;
}

int main(int argc, char **argv) {
  char *paths[maxbenchfiles];
  int32_t n = 0;
  for (int k = 1; k < argc; k++) {
    if (!strcmp(argv[k], "-t") && k + 1 < argc) {
      targetsecs = atof(argv[++k]);
      if (targetsecs <= 0.0) targetsecs = 1.0;
    } else if (argv[k][0] == '-') {
      fprintf(stderr, "usage: passbench [-t seconds] [file ...]\n");
      return 1;
    } else if (n < maxbenchfiles) {
      paths[n++] = argv[k];
    }
  }
  if (!n) n = corpusfiles(paths);

  char dir[] = "/tmp/vorpak-passbench-XXXXXX";
  if (!mkdtemp(dir)) {
    fprintf(stderr, "passbench: cannot create a temporary directory\n");
    return 1;
  }
  char archive[sizeof dir + 16];
  snprintf(archive, sizeof archive, "%s/pass.zip", dir);

  resetsettings();
  initcrc();
  printf("One pass, one block, fixed starting lengths; MB = 1,048,576 bytes.\n");
  printf("%-14s %10s  %-13s %7s %7s %9s %9s %10s\n", "file", "bytes", "pass", "passes", "secs", "MB/s",
         "CPU MB/s", "deflated");
  for (int32_t k = 0; k < n; k++) benchfile(paths[k], archive);
  rmdir(dir);

  if (n > 1) {
    const char *what[2] = {"literal (-s3)", "Xtreme (-s0)"};
    for (int32_t k = 0; k < 2; k++)
      printf("%-14s %10s  %-13s %7s %7.3f %9.2f %9.2f\n", "all files", "", what[k], "", totalwall[k],
             totalbytes[k] / mbbytes / totalwall[k], totalbytes[k] / mbbytes / totalcpu[k]);
  }
  return 0;
}
