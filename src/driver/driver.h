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
#include <vector>

#include "deflate/options.h"
#include "files/files.h"
#include "zipout/records.h"

struct runoptions {
  // -r (recurse into directories, store paths), --exclude, --symlinks, and
  // the clamp of SOURCE_DATE_EPOCH.
  selectoptions select;
  // --dos-attributes: the records of the MS-DOS conventions, no Unix modes.
  recordstyle records = recordstyle::unix;
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
  // -u: an existing archive is updated: files whose bytes it holds under
  // their stored names are copied from it, not coded again.
  bool update = false;
  // --gzip (-g): NAME.gz beside every selected file instead of an archive;
  // --no-name leaves the name and the time out of its header.
  bool gzip = false;
  bool gzipname = true;
  // -x#: extra effort, # rounds of trials (0: none; -x alone: 3).
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

// Reads every argument from argv[1] on: options set o, and the other
// arguments (the archive name first, then file specifications, "@" list
// files, and "-@" for the list on standard input) come back in order. An
// argument that starts with "-" is an option, except "-" alone, which is a
// name (as the archive: standard output); after "--" every argument is a
// name. warnings receives a line for every option that has no effect, and
// error the message of a command line that must not run (a bare "-x" before
// a wildcard pattern, which other archivers read as an exclusion).
std::vector<std::string> parseoptions(int argc, char **argv, runoptions &o, std::vector<std::string> &warnings,
                                      std::string &error);
// name with ".zip" or ".ZIP" appended when its base name has no "."; false
// when the result is longer than a name may be.
bool completename(std::string &out, const char *name);
// The names of an "@" list file: a byte of 32 or less separates them, and
// each is handed to add.
template <class add>
void listfilenames(const char *buf, size_t n, add &&f) {
  size_t k = 0;
  while (k < n) {
    while (k < n && (uint8_t)buf[k] <= 32) k++;
    if (k >= n) break;
    size_t start = k;
    while (k < n && (uint8_t)buf[k] > 32) k++;
    f(std::string(buf + start, k - start));
  }
}
// The names of the list read by "-@": one per line, blanks kept; a carriage
// return before the line end and empty lines are dropped.
template <class add>
void listlines(const char *buf, size_t n, add &&f) {
  for (size_t k = 0; k < n;) {
    size_t e = k;
    while (e < n && buf[e] != '\n') e++;
    size_t end = e > k && buf[e - 1] == '\r' ? e - 1 : e;
    if (end > k) f(std::string(buf + k, end - k));
    k = e + 1;
  }
}
// The whole of what descriptor fd delivers, to its end (a regular file or a
// pipe alike); false on a read error.
bool readall(int fd, std::string &out);

// Adds every file specification of the names (after the archive name: "@"
// list files, "-@", patterns) to files, and prints a warning for each that
// selects nothing, for a list file that cannot be read, and for a directory
// that cannot be listed. Returns 1 when a name without wildcards found no
// file or a list or directory could not be read (the run then ends with
// status 1 after writing what it found), else 0. Ends the run when the list
// cannot be made (a limit, a name clash).
int selectfiles(filelist &files, const std::vector<std::string> &specs, std::vector<member> &out);

// A free-running 64-bit tick count for the verbose timing line.
uint64_t readtics();
// A seed that differs between runs: the clock in nanoseconds and the process.
uint64_t runseed();

// The latest modification time to store, from SOURCE_DATE_EPOCH (seconds
// since 1970), the reproducible-builds convention: no clamp when it is
// unset; a value that is not a count of seconds ends the run.
void sourcedateepoch(selectoptions &s);
// Asks before an existing file is replaced; quiet mode and -y never ask.
// A refusal ends the run.
void overwriteprompt(const runoptions &o, const std::string &name);

// --gzip: every file the names select coded into NAME.gz beside it; returns
// the exit status.
int gzipfiles(const runoptions &o, const std::vector<std::string> &specs);

// The whole run; returns the exit status.
int vorpak(int argc, char **argv);
