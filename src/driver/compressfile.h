// One file into the archive, with its console line: coded straight into the
// archive by the thread that writes it, or coded by a worker into a sink of
// its own and copied into the archive when its turn comes.
#pragma once

#include <string>
#include <vector>

#include "deflate/deflate.h"
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
// the passes. A file that does not shrink (or every file under -s4) comes
// back as stored, for the caller to store from in; with -u, a file whose
// bytes prev holds comes back as reused, coded not at all. archivename names
// the archive in a message about a sink or an entry that failed.
codedfile codefile(const runoptions &o, const std::vector<encoder *> &encs, inputfile &in, const filetocode &file,
                   const previousarchive *prev, bytesink &out, fileline &line, const std::string &archivename);

// Codes size bytes in memory into out: in passes, or with -x# with extra
// effort on all the encoders given (one per thread).
encoderesult codebytes(const runoptions &o, const std::vector<encoder *> &encs, const uint8_t *data, int64_t size,
                       bytesink &out, encodewatcher *watcher);

// Writes the file, open as in, at the archive's position: coded straight
// into the archive behind its local header, stored, or (-u) copied from
// prev. Returns its record for the central directory. A failure ends the
// run with its message.
ziprecord compressfile(const runoptions &o, const std::vector<encoder *> &encs, archivefile &archive, inputfile &in,
                       const filetocode &file, const previousarchive *prev, codedfile::outcome *outcome);

// Writes an entry that a worker coded: its local header and the data in
// coded (a memory sink, from position 0), stored from in, or copied from
// prev; then its line as the worker captured it, and its end. Ends the run
// on failure.
ziprecord writecoded(const runoptions &o, archivefile &archive, const codedfile &c, const bytesink &coded, inputfile &in,
                     const filetocode &file, const previousarchive *prev, fileline &line);

// Ends the run with the archive's error when its sink has failed.
void checkwritten(archivefile &archive);
// The message for a sink that failed while writing the archive.
std::string writeerror(const std::string &archivename);
