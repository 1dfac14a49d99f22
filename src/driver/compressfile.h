// One file into the archive, with its console line: coded straight into the
// archive by the thread that writes it, or coded by a worker into a sink of
// its own and copied into the archive when its turn comes.
#pragma once

#include <string>
#include <vector>

#include "deflate/deflate.h"
#include "deflate/effort.h"
#include "driver/driver.h"
#include "driver/fileline.h"
#include "driver/inputfile.h"
#include "driver/update.h"
#include "files/files.h"
#include "zipout/zipout.h"

// What coding one file came to.
struct codedfile {
  enum outcome { deflated, stored, reused, failed } result = failed;
  std::string message;   // failed: the whole error message
  uint32_t crc = 0;      // deflated: CRC-32 of the data
  int64_t length = 0;    // deflated: bytes of Deflate data in the sink
  const zipinentry *entry = nullptr;   // reused: the previous archive's entry that holds the file's bytes
};

// The file to code: its entry, its stored name and the path it is read by.
struct filetocode {
  const fileentry &f;
  const std::string &name, &path;
};

// Codes the file, open as in, into out from out's position; the line shows
// the passes. With a lender (the run's idle encoders), the passes of a file
// large enough code ranges of its blocks on the encoders they can borrow.
// A file that does not shrink (or every file under -s4) comes back as
// stored, for the caller to store from in; with -u, a file whose bytes prev
// holds comes back as reused, coded not at all. archivename names the
// archive in a message about a sink or an entry that failed.
codedfile codefile(const runoptions &o, const std::vector<encoder *> &encs, encoderlender *lender, inputfile &in,
                   const filetocode &file, const previousarchive *prev, bytesink &out, fileline &line,
                   const std::string &archivename);

// The length from which a file is too large to code in the mode o asks for
// (extra effort holds a whole file, and has a lower limit), and the error
// that says so; both are checked before any file is coded.
int64_t maxcodedlength(const runoptions &o);
std::string toolarge(const runoptions &o, const std::string &path);

// Codes size bytes in memory into out: in passes, or with -x# with extra
// effort on all the encoders given (one per thread).
encoderesult codebytes(const runoptions &o, const std::vector<encoder *> &encs, const uint8_t *data, int64_t size,
                       bytesink &out, encodewatcher *watcher);

// Where the entry loop puts each entry: the ZIP archive (zipwriter), or
// with --gzip a .gz file beside each file. Every method ends the run on
// failure, with its message.
class entrywriter {
 public:
  virtual ~entrywriter() = default;
  // A symbolic link or an empty directory, with its line; returns the input
  // bytes it stands for.
  virtual int64_t plain(const member &m, const fileentry &f) = 0;
  // Codes the file, open as in, straight into its place, with its line
  // (lender: see codefile).
  virtual codedfile::outcome code(const runoptions &o, const std::vector<encoder *> &encs, encoderlender *lender,
                                  inputfile &in, const filetocode &file) = 0;
  // Writes what a worker coded (c, the data in coded from position 0, or
  // stored from in), then the line as the worker captured it.
  virtual codedfile::outcome coded(const codedfile &c, const bytesink &coded, inputfile &in, const filetocode &file,
                                   fileline &line) = 0;
  // What a worker's codefile needs: the archive -u reads (or null), and the
  // name that a message about a failed sink gives.
  virtual const previousarchive *previous() const { return nullptr; }
  virtual std::string outputname(const filetocode &file) const = 0;
};

// The entries into one ZIP archive, their records kept for the central
// directory; prev (-u, or null) is the archive being updated.
class zipwriter : public entrywriter {
 public:
  zipwriter(const runoptions &o, archivefile &archive, std::vector<ziprecord> &records, const previousarchive *prev)
      : o_(o), archive_(archive), records_(records), prev_(prev) {}
  int64_t plain(const member &m, const fileentry &f) override;
  codedfile::outcome code(const runoptions &o, const std::vector<encoder *> &encs, encoderlender *lender,
                          inputfile &in, const filetocode &file) override;
  codedfile::outcome coded(const codedfile &c, const bytesink &coded, inputfile &in, const filetocode &file,
                           fileline &line) override;
  const previousarchive *previous() const override { return prev_; }
  std::string outputname(const filetocode &) const override { return archive_.name(); }

 private:
  const runoptions &o_;
  archivefile &archive_;
  std::vector<ziprecord> &records_;
  const previousarchive *prev_;
};

// Ends the run with the archive's error when its sink has failed.
void checkwritten(archivefile &archive);
// The message for a sink that failed while writing the archive.
std::string writeerror(const std::string &archivename);
