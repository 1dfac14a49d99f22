// One run from the command line to the exit status.
#include <fcntl.h>
#if __has_include(<malloc.h>)
#include <malloc.h>
#endif
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
#include "driver/update.h"
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

// --help: every option, one line each, as typed.
void help() {
  static const char *const lines[] = {
      "Usage: vorpak [options] [-u] archive[.zip] [@listfile | filespec ...]",
      "       vorpak -z [options] archive|file.gz ... [@listfile]",
      "       vorpak --gzip [options] filespec ... [@listfile]",
      "Writes a ZIP archive whose files are as small as Deflate allows; with no",
      "filespec, every file of the current directory. Options may stand anywhere.",
      "",
      "  -r               recurse into directories; stored names keep their paths",
      "  -v               verbose: block boundaries, every pass, the elapsed ticks",
      "  -q               quiet: print nothing, errors included; never ask",
      "  -y               replace an existing archive without asking",
      "  -s#              strategy: 0 Xtreme (default), 1 Intense, 2 Longest Match, 3 Huffman Only, 4 Uncompressed",
      "  -b#              block split threshold in bytes (default 256; lower: more blocks; 0: one block; try -b128, -b512, -b1024)",
      "  -n#              exact number of Huffman blocks per file, at most 1024 (overrides -b# given before it)",
      "  -rn              randomised starting tables, for many trials with the same options",
      "  -ns              never store a file because it did not shrink",
      "  -zl121           give an unused code-length table one code (for inflaters that reject empty tables)",
      "  -j#              threads (default: one per processor); the same archive for every number",
      "  -x#              extra effort: # rounds of trials (-x alone: 3); never larger, the same on every run",
      "  -z               make existing archives smaller in place (every name is an archive)",
      "  -zs              as -z, and code stored entries too",
      "  -u               update: copy the entries of files the archive already holds, code the rest; entries not selected are dropped",
      "  -@               read file names from standard input, one per line",
      "  --exclude=PAT    leave out files and directories whose stored name or any part of it matches PAT",
      "  --symlinks       store symbolic links as links (default: archive what they point to)",
      "  --dos-attributes record MS-DOS attributes only (default: Unix modes too)",
      "  -g, --gzip       write NAME.gz beside every file named (the file is kept), no archive; -z remakes .gz files too",
      "  --no-name        --gzip: no name and no time in the header (as gzip -n)",
      "  --help           print this text",
      "  --version        print the version",
      "",
      "The archive name - writes the archive to standard output. SOURCE_DATE_EPOCH, when",
      "set, is the latest modification time stored. Exit status 1 after any failure,",
      "or when a file named without wildcards was not found.",
  };
  for (const char *l : lines) myprintf("%s\n", l);
}

}  // namespace

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
      warn("Operation cancelled.\n");
      exit(1);
    }
    if (ch == 0) ch = getch();
    if (ch == 'Y' || ch == 'y') return;
  }
}

void sourcedateepoch(selectoptions &s) {
  const char *v = getenv("SOURCE_DATE_EPOCH");
  if (!v) return;
  char *end = nullptr;
  errno = 0;
  long long t = strtoll(v, &end, 10);
  if (!*v || *end || errno || t < 0 || v[0] == '+' || v[0] == '-' || v[0] == ' ')
    fatal("Error: SOURCE_DATE_EPOCH=%s is not a count of seconds since 1970\n", v);
  s.clamptime = true;
  s.latesttime = (time_t)t;
}

int vorpak(int argc, char **argv) {
  messagestream = stdout;
  errorstream = stderr;
  if (argc < 2) {
    usage();
    return 1;
  }
  // The conventions of every command-line tool: asked for, help and the
  // version go to standard output and end a successful run.
  for (int k = 1; k < argc && strcmp(argv[k], "--"); k++) {
    if (strcmp(argv[k], "--help") == 0) {
      help();
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
  std::vector<std::string> warnings;
  std::string error;
  std::vector<std::string> names = parseoptions(argc, argv, o, warnings, error);
  const bool tostdout = !names.empty() && names[0] == "-" && !o.rezip && !o.gzip;
  if (o.quiet) messagestream = errorstream = nullptr;
  // The archive on standard output: the messages must not go there.
  else if (tostdout) messagestream = stderr;
  for (const std::string &w : warnings) warn("%s", w.c_str());
  if (!error.empty()) fatal("%s", error.c_str());
  o.progress = !o.quiet && !o.verbose && isatty(fileno(stdout)) && !tostdout;
  if (o.threads <= 0) o.threads = (int32_t)std::min(sysconf(_SC_NPROCESSORS_ONLN), (long)maxthreads);
  if (o.threads <= 0) o.threads = 1;
  if (o.gzip) {
    if (o.rezip || o.update) fatal("Error: --gzip writes .gz files, not with -z or -u\n");
    if (names.empty()) return warn("No files found\n"), 1;
    return gzipfiles(o, names);
  }
  if (names.empty()) {
    warn("Need a .ZIP filename!\n");
    return 1;
  }
  if (o.update && (o.rezip || tostdout)) fatal("Error: -u updates an archive file in place, not with -z or to standard output\n");
  if (o.rezip) return rezip(o, names);
  std::string zipname = "-";
  if (tostdout) {
    if (isatty(1)) fatal("Error: the archive would go to a terminal; redirect standard output or name a file\n");
  } else if (!completename(zipname, names[0].c_str())) {
    fatal("Error: %s: name too long\n", names[0].c_str());
  }
  sourcedateepoch(o.select);

  filelist files(o.select);
  if (!tostdout) files.exclude(zipname.c_str());
  std::vector<member> members;
  int status = selectfiles(files, std::vector<std::string>(names.begin() + 1, names.end()), members);
  if (members.empty()) {
    warn("No files found\n");
    return 1;
  }
  // Every limit is met before any file is coded.
  for (const member &m : members)
    if (o.encode.strategy != strategystored && files[m.index].size >= maxcodedlength(o))
      fatal("%s", toolarge(o, m.path).c_str());

  // -u: the archive there now is read first; one it refuses stays as it is.
  std::unique_ptr<previousarchive> prev;
  if (o.update && !tostdout && access(zipname.c_str(), F_OK) == 0) {
    prev = std::make_unique<previousarchive>();
    std::string why;
    if (!prev->open(zipname, why)) fatal("Error: %s: %s\n", zipname.c_str(), why.c_str());
  }
  if (!tostdout && !o.update) overwriteprompt(o, zipname);

  archivefile archive;
  if (tostdout) {
    // A reader gone away is a write error to report, not a signal to die of.
    signal(SIGPIPE, SIG_IGN);
    const char *tmp = getenv("TMPDIR");
    if (!archive.createforstream(zipname, tmp && *tmp ? tmp : "/tmp", 1))
      fatal("Error: a temporary file for the archive could not be created in %s\n", tmp && *tmp ? tmp : "/tmp");
  } else if (!archive.create(zipname)) {
    fatal("Error: %s could not be opened\n", zipname.c_str());
  }
  fatalcleanup = abortarchive;
  myprintf("%s ZIP: %s\n", prev ? "Updating" : "Creating", zipname.c_str());
  uint64_t bt0 = o.verbose ? readtics() : 0;

  std::vector<ziprecord> records;
  const uint64_t seed = runseed();
  // Extra effort spends the threads on one file's trials.
  zipwriter writer(o, archive, records, prev.get());
  loopcount count = o.threads > 1 && o.effort == 0 ? parallelloop(o, files, members, writer, seed)
                                                   : serialloop(o, files, members, writer, seed);

  uint64_t bt1 = o.verbose ? readtics() : 0;
  writecentraldirectory(archive.sink(), records);
  checkwritten(archive);
  int64_t size = archive.sink().tell();
  // An update that changes nothing leaves the archive as it was, its
  // modification time too.
  if (prev && archive.sameas(prev->bytes(), prev->size())) archive.abort();
  else if (!archive.finish()) fatal("Error: %s could not be written\n", zipname.c_str());
  fatalcleanup = nullptr;

  const int64_t total = count.input;
  int32_t pct = total ? (int32_t)(100 - (size * 100) / total) : 0;
  myprintf("      Total (including headers): %9lld/%9lld bytes (%2d%c)", (long long)size, (long long)total, pct, 37);
  if (o.update) myprintf(", %d coded, %d reused", count.coded, count.reused);
  if (o.verbose) myprintf("\nTook %lld tics\n", (long long)(bt1 - bt0));
  myprintf("\n");
  return status;
}
