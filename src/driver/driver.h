// Driver: the command line and the run. A run reads the options into the
// run options, completes the archive name, fills the file list, asks before
// replacing an existing archive, creates the archive, compresses every file
// (the encoder of deflate/ into the archive of zipout/), writes the central
// directory and prints the totals line.
//
// The driver alone decides that a run ends: the layers below report their
// failures, and the driver prints the one message and exits with status 1,
// removing the temporary archive.
#pragma once

#include <cstdint>
#include <string>

#include "deflate/options.h"

struct runoptions {
  bool recurse = false;        // -r: recurse into directories, store paths
  bool verbose = false;        // -v: block report, pass lines, tick count
  bool quiet = false;          // -q: print nothing, never ask
  bool overwriteyes = false;   // -y: no question before replacing an archive
  // -s# (strategy 4, Uncompressed, never reaches the encoder), -b#, -n#,
  // -rn, -ns, -zl121.
  encodeoptions encode;
  // -z: every name is an existing archive, rewritten in place with its
  // entries coded again; -zs codes its stored entries too.
  bool rezip = false;
  bool rezipstored = false;
  // -x#: extra effort, # rounds of trials (0: none; -x alone: 2).
  int32_t effort = 0;
  // -b# or -n# was given: extra effort keeps the layout they ask for.
  bool layoutgiven = false;
  // -j#: threads that code files (0 or less: one per online processor).
  int32_t threads = 0;
  // Standard output is a terminal and neither -q nor -v was given: the
  // file's line shows which pass is running.
  bool progress = false;
};

constexpr int32_t maxthreads = 256;
constexpr int32_t defaulteffort = 3;
constexpr int32_t maxeffort = 100;

constexpr int32_t strategystored = 4;   // -s4: every file stored

// Reads every argument from argv[1] on: options set o. Returns the index of
// the first argument that is not an option (the archive name), or 0 when
// there is none.
int32_t parseoptions(int argc, char **argv, runoptions &o);
// name with ".zip" or ".ZIP" appended when its base name has no "."; false
// when the result is longer than a name may be.
bool completename(std::string &out, const char *name);
// The names of an "@" list file: a byte of 32 or less separates them, and
// each is handed to add.
template <class add>
void listfilenames(const char *buf, int32_t n, add &&f) {
  int32_t k = 0;
  while (k < n) {
    while (k < n && (uint8_t)buf[k] <= 32) k++;
    if (k >= n) break;
    int32_t start = k;
    while (k < n && (uint8_t)buf[k] > 32) k++;
    f(std::string(buf + start, (size_t)(k - start)));
  }
}

// The names of one argument: "@" and a list file's path (the file's first
// listfilemax bytes, separated by blanks, tabs and line ends; a file that
// cannot be opened adds nothing), or a file specification. False, with the
// list's error set, when adding a name ends the run.
constexpr int32_t listfilemax = 65536;
class filelist;
bool addnames(filelist &files, const std::string &arg);

// A free-running 64-bit tick count for the verbose timing line.
uint64_t readtics();
// A seed that differs between runs: the clock in nanoseconds and the process.
uint64_t runseed();

// The whole run; returns the exit status.
int vorpak(int argc, char **argv);
