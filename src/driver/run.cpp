// One run from the command line to the exit status.
#include <fcntl.h>
#if __has_include(<malloc.h>)
#include <malloc.h>
#endif
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "console/console.h"
#include "deflate/deflate.h"
#include "driver/compressfile.h"
#include "driver/driver.h"
#include "driver/entryloop.h"
#include "driver/rezip.h"
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

uint64_t runseed() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  uint64_t s = (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
  return s ^ ((uint64_t)getpid() << 40) ^ readtics();
}

namespace {

void usage() {
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

// Asks before an existing archive is replaced; quiet mode never asks.
void overwriteprompt(const runoptions &o, const std::string &name) {
  if (o.overwriteyes || o.quiet) return;
  int fd = open(name.c_str(), O_RDONLY);
  if (fd < 0) return;
  close(fd);
  myprintf("%s already exists. Overwrite? (y/n)\n", name.c_str());
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

}  // namespace

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
#ifdef M_MMAP_THRESHOLD
  // The C library raises the size above which it maps a block on its own
  // to the size of every such block freed, so the steps of a large file
  // (made, freed and made again by every trial of the extra effort) would
  // come from its heaps, where freed space stays with the process. A fixed
  // size hands every large block back to the system when it is freed.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif

  runoptions o;
  int32_t ai = parseoptions(argc, argv, o);
  if (o.quiet) messagestream = nullptr;
  o.progress = !o.quiet && !o.verbose && isatty(1);
  if (o.threads <= 0) o.threads = (int32_t)std::min(sysconf(_SC_NPROCESSORS_ONLN), (long)maxthreads);
  if (o.threads <= 0) o.threads = 1;
  if (!ai) {
    myprintf("Need a .ZIP filename!\n");
    return 1;
  }
  if (o.rezip) {
    std::vector<std::string> names;
    for (int32_t k = ai; k < argc; k++)
      if (argv[k][0] != '-') names.push_back(argv[k]);
    return rezip(o, names);
  }
  std::string zipname;
  if (!completename(zipname, argv[ai])) fatal("Error: %s: name too long\n", argv[ai]);

  filelist files(o.recurse);
  try {
    files.exclude(zipname.c_str());
    bool ok = true;
    if (ai == argc - 1) ok = files.add("*");
    for (int32_t k = ai + 1; ok && k < argc; k++) ok = addnames(files, argv[k]);
    if (!ok) fatal("%s", files.error().c_str());
  } catch (const std::bad_alloc &) {
    fatal("Error: malloc failed\n");
  }
  if (files.count() <= 0) {
    myprintf("No files found\n");
    return 1;
  }

  overwriteprompt(o, zipname);

  archivefile archive;
  if (!archive.create(zipname)) fatal("Error: %s could not be opened\n", zipname.c_str());
  fatalcleanup = abortarchive;
  files.exclude(archive.temporaryname().c_str());
  myprintf("Creating ZIP: %s\n", zipname.c_str());
  uint64_t bt0 = o.verbose ? readtics() : 0;

  std::vector<ziprecord> records;
  const uint64_t seed = runseed();
  // Extra effort spends the threads on one file's trials.
  int64_t total = o.threads > 1 && o.effort == 0 ? parallelloop(o, files, archive, records, seed)
                                : serialloop(o, files, archive, records, seed);

  uint64_t bt1 = o.verbose ? readtics() : 0;
  if (!writecentraldirectory(archive.sink(), records)) fatal("Error: more than 65535 files for one archive\n");
  checkwritten(archive);
  int64_t size = archive.sink().tell();
  if (!archive.finish()) fatal("Error: %s could not be written\n", zipname.c_str());
  fatalcleanup = nullptr;

  int32_t pct = total ? (int32_t)(100 - (size * 100) / total) : 0;
  myprintf("      Total (including headers): %9lld/%9lld bytes (%2d%c)", (long long)size, (long long)total, pct, 37);
  if (o.verbose) myprintf("\nTook %lld tics\n", (long long)(bt1 - bt0));
  myprintf("\n");
  return 0;
}
