#include "driver/compressfile.h"

#include <new>

#include "console/console.h"
#include "deflate/effort.h"

std::string writeerror(const std::string &archivename, int error) {
  if (error == bytesink::toolarge)
    return "Error: " + archivename + " would reach 2 GiB, more than a ZIP archive without extensions can hold\n";
  return "Error: " + archivename + " could not be written\n";
}

void checkwritten(archivefile &archive) {
  if (archive.sink().failed()) fatal("%s", writeerror(archive.name(), archive.sink().error()).c_str());
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

codedfile codefile(const runoptions &o, const std::vector<encoder *> &encs, inputfile &in, const std::string &path, const fileentry &f,
                   bytesink &out, fileline &line, const std::string &archivename) {
  codedfile c;
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
    r = encs[0]->compress(in, f.size, out, o.encode, &line);
  }
  switch (r.result) {
    case encoderesult::readfailed:
      c.message = "Error: " + path + " could not be read\n";
      break;
    case encoderesult::writefailed:
      c.message = writeerror(archivename, out.error());
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

void store(bytesink &out, archivefile &archive, ziprecord &rec, inputfile &in, const std::string &path,
           const fileentry &f, fileline &line) {
  if (!storeentry(out, rec, in, f.size)) fatal("Error: %s could not be read\n", path.c_str());
  checkwritten(archive);
  line.stored();
}

}  // namespace

ziprecord compressfile(const runoptions &o, const std::vector<encoder *> &encs, archivefile &archive, inputfile &in,
                       const std::string &path, const std::string &name, const fileentry &f) {
  bytesink &out = archive.sink();
  ziprecord rec = filerecord(name, f.time, f.date, f.attr);
  fileline line(o.verbose, o.progress, f.size);
  if (o.encode.strategy != strategystored) {
    setmethod(rec, methoddeflated);
    writelocalheader(out, rec);
  }
  codedfile c = codefile(o, encs, in, path, f, out, line, archive.name());
  if (c.result == codedfile::failed) fatal("%s", c.message.c_str());
  if (c.result == codedfile::stored) {
    // Over the longer attempt, if there was one.
    if (o.encode.strategy != strategystored) out.seek(rec.headoff);
    store(out, archive, rec, in, path, f, line);
    return rec;
  }
  rec.crc = c.crc;
  rec.compressed = (uint32_t)c.length;
  rec.size = (uint32_t)f.size;
  patchlocalheader(out, rec);
  checkwritten(archive);
  line.kept(c.length);
  return rec;
}

ziprecord writecoded(archivefile &archive, const codedfile &c, const bytesink &coded, inputfile &in,
                     const std::string &path, const std::string &name, const fileentry &f, fileline &line) {
  // The entry is written first, then the line that the passes showed: a
  // write that fails ends the line where one thread would have ended it.
  bytesink &out = archive.sink();
  ziprecord rec = filerecord(name, f.time, f.date, f.attr);
  if (c.result == codedfile::stored) {
    if (!storeentry(out, rec, in, f.size)) fatal("Error: %s could not be read\n", path.c_str());
    checkwritten(archive);
    myprintf("%s", line.release().c_str());
    line.stored();
    return rec;
  }
  // The sizes are known: the local header is complete at once.
  setmethod(rec, methoddeflated);
  rec.crc = c.crc;
  rec.compressed = (uint32_t)c.length;
  rec.size = (uint32_t)f.size;
  writelocalheader(out, rec);
  out.write(coded.bytes(), (size_t)c.length);
  out.flush();
  checkwritten(archive);
  myprintf("%s", line.release().c_str());
  line.kept(c.length);
  return rec;
}
