#include "driver/compressfile.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "console/console.h"
#include "deflate/effort.h"

std::string writeerror(const std::string &archivename) { return "Error: " + archivename + " could not be written\n"; }

void checkwritten(archivefile &archive) {
  if (archive.sink().failed()) fatal("%s", writeerror(archive.name()).c_str());
}

int64_t maxcodedlength(const runoptions &o) { return o.effort > 0 ? effortmaxlength : encodermaxlength; }

std::string toolarge(const runoptions &o, const std::string &path) {
  return "Error: " + path + (o.effort > 0 ? " is too large for -x (2 GiB or more)\n" : " is too large (2 TiB or more)\n");
}

encoderesult codebytes(const runoptions &o, const std::vector<encoder *> &encs, const uint8_t *data, int64_t size,
                       bytesink &out, encodewatcher *watcher) {
  // -z without -x: the normal run, its blocks then typed and their headers
  // searched (cheap beside the passes; what makes small entries small).
  if (o.effort > 0 || o.rezip) {
    effortoptions e;
    e.rounds = o.effort;
    if (o.effort == 0) e.layoutrounds = 0;
    e.layoutfixed = o.layoutgiven;
    return compresshard(encs, data, size, out, o.encode, e, watcher);
  }
  memorysource in(data, (size_t)size);
  return encs[0]->compress(in, size, out, o.encode, watcher);
}

codedfile codefile(const runoptions &o, const std::vector<encoder *> &encs, encoderlender *lender, inputfile &in,
                   const filetocode &file, const previousarchive *prev, bytesink &out, fileline &line,
                   const std::string &archivename) {
  codedfile c;
  const fileentry &f = file.f;
  const std::string &path = file.path;
  if (const zipinentry *e = prev ? prev->candidate(file.name, f.size) : nullptr) {
    std::string error;
    switch (prev->compare(*e, in, error)) {
      case previousarchive::same:
        c.result = codedfile::reused;
        c.entry = e;
        return c;
      case previousarchive::damaged:
        c.message = "Error: " + archivename + ": " + error + "\n";
        return c;
      case previousarchive::differs:
        break;
    }
  }
  if (o.encode.strategy == strategystored) {
    c.result = codedfile::stored;
    return c;
  }
  encoderesult r;
  if (o.effort > 0) {
    // Extra effort works on the whole file at once, from several threads.
    std::vector<uint8_t> data;
    try {
      data.resize((size_t)f.size);
    } catch (const std::bad_alloc &) {
      c.message = "malloc failed\n";
      return c;
    }
    if (!in.rewind() || !in.read(data.data(), (int32_t)f.size)) r = {encoderesult::readfailed, 0, 0};
    else r = codebytes(o, encs, data.data(), f.size, out, &line);
  } else {
    r = encs[0]->compress(in, f.size, out, o.encode, &line, lender);
  }
  switch (r.result) {
    case encoderesult::readfailed:
      c.message = "Error: " + path + " could not be read\n";
      break;
    case encoderesult::writefailed:
      c.message = writeerror(archivename);
      break;
    case encoderesult::nomemory:
      c.message = "malloc failed\n";
      break;
    case encoderesult::store:
      c.result = codedfile::stored;
      break;
    case encoderesult::compressed:
      c.result = codedfile::deflated;
      c.crc = in.crc();
      c.length = r.length;
      break;
  }
  return c;
}

namespace {

// The entry of a file whose bytes the previous archive holds: its data
// copied, its line saying so.
void reuse(bytesink &out, archivefile &archive, ziprecord &rec, const codedfile &c, const previousarchive *prev,
           fileline &line) {
  prev->copy(out, rec, *c.entry);
  checkwritten(archive);
  line.reused(rec.compressed);
}

}  // namespace

int64_t zipwriter::plain(const member &m, const fileentry &f) {
  std::string data;
  if (f.kind == entrykind::link) {
    // The target as it reads now; its length may differ from the listing's.
    char target[4096];
    ssize_t n = readlink(m.path.c_str(), target, sizeof target);
    if (n < 0) fatal("Error: %s could not be read: %s\n", m.path.c_str(), strerror(errno));
    data.assign(target, (size_t)n);
  }
  ziprecord rec = filerecord(m.name, f.time, f.date, f.mode, o_.records);
  memorysource in((const uint8_t *)data.data(), data.size());
  storeentry(archive_.sink(), rec, in, (int64_t)data.size());
  checkwritten(archive_);
  fileline line(o_.verbose, false, (int64_t)data.size());
  line.stored();
  records_.push_back(rec);
  return (int64_t)data.size();
}

codedfile::outcome zipwriter::code(const runoptions &o, const std::vector<encoder *> &encs, encoderlender *lender,
                                   inputfile &in, const filetocode &file) {
  bytesink &out = archive_.sink();
  const fileentry &f = file.f;
  ziprecord rec = filerecord(file.name, f.time, f.date, f.mode, o.records);
  rec.localzip64 = (uint64_t)f.size >= zip64localfrom;
  fileline line(o.verbose, o.progress, f.size);
  const int64_t headoff = out.tell();
  if (o.encode.strategy != strategystored) {
    setmethod(rec, methoddeflated);
    writelocalheader(out, rec);
  }
  codedfile c = codefile(o, encs, lender, in, file, prev_, out, line, archive_.name());
  if (c.result == codedfile::failed) fatal("%s", c.message.c_str());
  if (c.result == codedfile::reused || c.result == codedfile::stored) {
    // Over the local header or the longer attempt, if there was one.
    out.seek(headoff);
    if (c.result == codedfile::reused) {
      reuse(out, archive_, rec, c, prev_, line);
    } else {
      if (!storeentry(out, rec, in, f.size)) fatal("Error: %s could not be read\n", file.path.c_str());
      checkwritten(archive_);
      line.stored();
    }
  } else {
    rec.crc = c.crc;
    rec.compressed = (uint64_t)c.length;
    rec.size = (uint64_t)f.size;
    if (!patchlocalheader(out, rec))
      fatal("Error: %s: coded past 4 GiB, with no room for that size in its local header\n", file.path.c_str());
    checkwritten(archive_);
    line.kept(c.length);
  }
  records_.push_back(rec);
  return c.result;
}

codedfile::outcome zipwriter::coded(const codedfile &c, const bytesink &coded, inputfile &in, const filetocode &file,
                                    fileline &line) {
  // The entry is written first, then the line that the passes showed: a
  // write that fails ends the line where one thread would have ended it.
  bytesink &out = archive_.sink();
  const fileentry &f = file.f;
  ziprecord rec = filerecord(file.name, f.time, f.date, f.mode, o_.records);
  if (c.result == codedfile::reused) {
    myprintf("%s", line.release().c_str());
    reuse(out, archive_, rec, c, prev_, line);
  } else if (c.result == codedfile::stored) {
    if (!storeentry(out, rec, in, f.size)) fatal("Error: %s could not be read\n", file.path.c_str());
    checkwritten(archive_);
    myprintf("%s", line.release().c_str());
    line.stored();
  } else {
    // The sizes are known: the local header is complete at once.
    setmethod(rec, methoddeflated);
    rec.crc = c.crc;
    rec.compressed = (uint64_t)c.length;
    rec.size = (uint64_t)f.size;
    rec.localzip64 = rec.size >= zip64localfrom || rec.compressed >= zip64limit;
    writelocalheader(out, rec);
    out.write(coded.bytes(), (size_t)c.length);
    out.flush();
    checkwritten(archive_);
    myprintf("%s", line.release().c_str());
    line.kept(c.length);
  }
  records_.push_back(rec);
  return c.result;
}
