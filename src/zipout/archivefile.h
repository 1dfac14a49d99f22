// The archive file: created as a new temporary file beside the archive's
// name and renamed over it only when complete, or (an archive for a stream)
// in a directory for temporary files and copied to the stream when
// complete. A failed run (abort) or SIGINT, SIGTERM, SIGHUP or SIGPIPE removes the
// temporary file, so an existing archive of that name survives a failed or
// interrupted run unchanged and a stream receives nothing. A signal that was
// ignored when the archive was created stays ignored.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "stream/bytesink.h"

class archivefile {
 public:
  archivefile() = default;
  archivefile(const archivefile &) = delete;
  archivefile &operator=(const archivefile &) = delete;
  ~archivefile() { abort(); }

  // Creates the temporary file beside name (permission bits 0666 less the
  // umask) and registers its removal on the signals above. False on
  // failure (errno tells why). Only one archive file is open at a time.
  bool create(const std::string &name);
  // The same for an archive that goes to the open descriptor fd (standard
  // output): the temporary file lies in tmpdir, and name only names the
  // archive in messages.
  bool createforstream(const std::string &name, const std::string &tmpdir, int fd);
  const std::string &name() const { return name_; }
  const std::string &temporaryname() const { return tmpname_; }
  bytesink &sink() { return *sink_; }
  // Flushes, truncates the file to the current position, closes it and
  // renames it over the archive's name (or copies it to the stream and
  // removes it). False on failure (the temporary file is then still there:
  // abort removes it).
  bool finish();
  // The archive written so far (up to the sink's position) is exactly the
  // size bytes at data.
  bool sameas(const uint8_t *data, size_t size);
  // Closes and removes the temporary file, if any. Safe to call twice.
  void abort();

 private:
  bool createtemporary(const std::string &dir);
  bool copytostream();

  std::string name_, tmpname_;
  int fd_ = -1;
  int streamfd_ = -1;
  std::unique_ptr<bytesink> sink_;
};

// Removes the temporary file of the open archive, if any: for a failure
// that ends the process where no object is at hand.
void abortarchive();
