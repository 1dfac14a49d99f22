// One run from the command line to the exit status.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "driver/driver.h"
#include "files/files.h"
#include "zipout/zipout.h"

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

uint64_t readtics() {
#if defined(__x86_64__) || defined(__i386__)
  return __rdtsc();
#else
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
#endif
}

static void usage() {
  myprintf("VORPAK [options] [.ZIP file] [@file or filespec...]\n");
  myprintf("   VORPAK creates .ZIP files that are roughly 1-3%c smaller than \"zip -9 ...\"\n\n", 37);
  myprintf("Available options:\n");
  myprintf("   -r   Recurse sub-directories\n");
  myprintf("   -v,q Verbose,Quiet mode\n");
  myprintf("   -y   Assume Yes at the 'overwrite file?' prompt\n");
  myprintf("   -s#  Select strategy. 0:Xtreme(default), 1:Intense, 2:Longest Match,\n");
  myprintf("        3:Huffman Only, 4:Uncompressed\n");
  myprintf("   -b#  Block split threshold (lower=more blocks, 0=1 block/file, default=256)\n");
  myprintf("        Good values to try (other than default) are: /b128, /b512, /b0, /b1024\n");
  myprintf("   -n#  Exact number of Huffman blocks (overrides /b#)\n");
  myprintf("   -rn  Randomized initial tables (good for many trials with same options)\n");
  myprintf("\nExample: \"vorpak save *\" will compress the current directory into save.zip\n");
  myprintf("Compiled: %s\n", __DATE__);
}

// The names of an "@" list file: one read of at most infilbufsiz bytes.
static char listbuf[infilbufsiz + 1];

static void readlistfile(const char *path) {
  int fd = open(path, O_RDONLY);
  if (fd < 0) return;
  ssize_t n = read(fd, listbuf, infilbufsiz);
  close(fd);
  if (n > 0) listfilenames(listbuf, (int32_t)n);
}

// Asks before an existing archive is replaced; quiet mode never asks.
static void overwriteprompt() {
  if (overwriteyesmode || !messagestream) return;
  int fd = open(zipfilnam, O_RDONLY);
  if (fd < 0) return;
  close(fd);
  myprintf("%s already exists. Overwrite? (y/n)\n", zipfilnam);
  fflush(stdout);
  for (;;) {
    int ch = getch();
    if (ch == 27 || ch == 'N' || ch == 'n') {
      myprintf("Operation cancelled.\n");
      exit(1);
    }
    if (ch == 0) ch = getch();
    if (ch == 'Y' || ch == 'y') return;
  }
}

// Opens an input file for reading. The listing skipped FIFOs and devices,
// but the entry may have been replaced since: the open does not wait for a
// writer, and anything but a regular file is refused.
static FILE *openinput(const char *path) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) fatal("Error: %s not found\n", path);
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
    close(fd);
    fatal("Error: %s could not be read\n", path);
  }
  FILE *fil = fdopen(fd, "rb");
  if (!fil) {
    close(fd);
    fatal("Error: %s could not be read\n", path);
  }
  return fil;
}

uint64_t runseed() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  uint64_t s = (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
  return s ^ ((uint64_t)getpid() << 40) ^ readtics();
}

int vorpak(int argc, char **argv) {
  messagestream = stdout;
  if (argc < 2) {
    usage();
    return 1;
  }
  // The conventions of every command-line tool: asked for, help and the
  // version go to standard output and end a successful run.
  for (int k = 1; k < argc; k++) {
    if (strcmp(argv[k], "--help") == 0) {
      usage();
      return 0;
    }
    if (strcmp(argv[k], "--version") == 0) {
      myprintf("vorpak %s\n", VORPAK_VERSION);
      return 0;
    }
  }
  // A write past a file size limit (ulimit -f) then fails with EFBIG and
  // takes the ordinary error path, which removes the temporary archive,
  // instead of ending the process on the spot.
  signal(SIGXFSZ, SIG_IGN);
  setbuf(stdin, nullptr);
  resetsettings();
  rndstate = runseed();

  int32_t ai = parseoptions(argc, argv);
  progressmode = messagestream && !verbosemode && isatty(1);
  if (!ai) {
    myprintf("Need a .ZIP filename!\n");
    return 1;
  }
  if (!completename(zipfilnam, argv[ai])) fatal("Error: %s: name too long\n", argv[ai]);

  findfilesinit();
  excludefile(zipfilnam);
  if (ai == argc - 1) findfiles("*");
  for (int32_t k = ai + 1; k < argc; k++) {
    if (argv[k][0] == '@') readlistfile(argv[k] + 1);
    else findfiles(argv[k]);
  }
  if (numfiles <= 0) {
    myprintf("No files found\n");
    return 1;
  }
  initcrc();

  overwriteprompt();

  if (!voopen(zipfilnam)) fatal("Error: %s could not be opened\n", zipfilnam);
  excludefile(votmpnam);
  myprintf("Creating ZIP: %s\n", zipfilnam);
  uint64_t bt0 = verbosemode ? readtics() : 0;

  for (int32_t i = 0; i < numfiles; i++) {
    genfilnam(tmpfilnam, i);
    char path[namebufsiz + 2];
    genfilpath(path, i);

    if (zfil[i].attr & 0x10) {
      // A directory found under recursion: its contents join the table
      // behind everything listed so far; it gets no entry of its own.
      if (!walkdir(path)) continue;
      strcat(path, "/*");
      findfiles(path);
      continue;
    }

    myprintf("  Adding: %-12s VOflating ", tmpfilnam);
    FILE *fil = openinput(path);
    compressfile(i, fil);
    fclose(fil);
    myprintf("\n");
  }

  uint64_t bt1 = verbosemode ? readtics() : 0;
  zipoutfinish();

  int64_t total = 0;
  for (int32_t i = 0; i < numfiles; i++)
    if (!(zfil[i].attr & 0x10)) total += zfil[i].leng;
  int64_t size = vobufpos1;
  int32_t pct = total ? (int32_t)(100 - (size * 100) / total) : 0;
  myprintf("      Total (including headers): %9lld/%9lld bytes (%2d%c)", (long long)size,
           (long long)total, pct, 37);
  if (verbosemode) myprintf("\nTook %lld tics\n", (long long)(bt1 - bt0));
  myprintf("\n");
  return 0;
}
