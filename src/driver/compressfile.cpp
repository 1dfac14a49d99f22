// One file into the archive: stored under the Uncompressed strategy, else
// coded by the encoder straight into the archive behind its local header;
// a file that does not shrink is rewritten stored over the attempt.
#include "driver/compressfile.h"

#include "console/console.h"
#include "driver/fileline.h"
#include "zipout/zipout.h"

namespace {

// The message for a sink that failed: the archive would pass what its
// 32-bit offsets hold, or a write failed.
[[noreturn]] void writefailed(archivefile &archive) {
  if (archive.sink().error() == bytesink::toolarge)
    fatal("Error: %s would reach 2 GiB, more than a ZIP archive without extensions can hold\n",
          archive.name().c_str());
  fatal("Error: %s could not be written\n", archive.name().c_str());
}

}  // namespace

void checkwritten(archivefile &archive) {
  if (archive.sink().failed()) writefailed(archive);
}

ziprecord compressfile(const runoptions &o, encoder &enc, archivefile &archive, inputfile &in,
                       const std::string &path, const std::string &name, const fileentry &f) {
  bytesink &out = archive.sink();
  ziprecord rec = filerecord(name, f.time, f.date, f.attr);
  fileline line(o.verbose, o.progress, f.size);

  auto store = [&]() {
    if (!storeentry(out, rec, in, f.size)) fatal("Error: %s could not be read\n", path.c_str());
    checkwritten(archive);
    line.stored();
  };

  if (o.encode.strategy == strategystored) {
    store();
    return rec;
  }

  setmethod(rec, methoddeflated);
  writelocalheader(out, rec);
  encoderesult r = enc.compress(in, f.size, out, o.encode, &line);
  switch (r.result) {
    case encoderesult::readfailed:
      fatal("Error: %s could not be read\n", path.c_str());
    case encoderesult::writefailed:
      writefailed(archive);
    case encoderesult::nomemory:
      fatal("malloc failed\n");
    case encoderesult::store:
      out.seek(rec.headoff);
      store();
      return rec;
    case encoderesult::compressed:
      break;
  }
  rec.crc = in.crc();
  rec.compressed = (uint32_t)r.length;
  rec.size = (uint32_t)f.size;
  patchlocalheader(out, rec);
  checkwritten(archive);
  line.kept(r.length);
  return rec;
}
