// -z on a .gz file: the member's Deflate data coded again; the header (name,
// time, comment, extra field, OS, header CRC) and the trailer stay byte for
// byte, and the file is replaced only when the result is smaller.
#include <sys/stat.h>

#include <memory>

#include "console/console.h"
#include "driver/compressfile.h"
#include "driver/rezip.h"
#include "gzip/gzip.h"
#include "zipout/zipout.h"

bool regzip(const runoptions &o, const std::string &path, const mappedfile &f) {
  myprintf("Optimizing gzip: %s\n", path.c_str());
  gzipmember m;
  std::vector<uint8_t> data;
  std::string error;
  if (!readgzip(f.data, f.size, m, data, error)) return warn("Error: %s: %s\n", path.c_str(), error.c_str()), false;
  const int64_t before = (int64_t)f.size;
  if ((int64_t)data.size() >= effortmaxlength || o.encode.strategy == strategystored) {
    myprintf("      Total: %9lld bytes, unchanged\n", (long long)before);
    return true;
  }
  std::vector<std::unique_ptr<encoder>> owned;
  std::vector<encoder *> encs;
  for (int32_t k = 0; k < (o.effort > 0 ? o.threads : 1); k++) {
    owned.emplace_back(new encoder);
    encs.push_back(owned.back().get());
  }
  bytesink coded;
  fileline line(true, (int64_t)data.size(), nullptr);
  encoderesult r = codebytes(o, encs, data.data(), (int64_t)data.size(), coded, o.verbose ? &line : nullptr);
  if (r.result == encoderesult::nomemory) return warn("Error: %s: out of memory\n", path.c_str()), false;
  myprintf("%s", line.release().c_str());
  if (r.result != encoderesult::compressed || r.length >= (int64_t)m.datalength) {
    myprintf("  Data: %9llu bytes, kept\n      Total: %9lld bytes, unchanged\n", (unsigned long long)m.datalength,
             (long long)before);
    return true;
  }
  int32_t p = (int32_t)(100 - r.length * 100 / (int64_t)m.datalength);
  myprintf("  Data: %9llu -> %9lld bytes (%2d%c)\n", (unsigned long long)m.datalength, (long long)r.length, p, 37);
  archivefile out;
  if (!out.create(path)) return warn("Error: %s could not be written\n", path.c_str()), false;
  bytesink &sink = out.sink();
  sink.write(f.data, m.headerlength);
  sink.write(coded.bytes(), (size_t)r.length);
  sink.write(f.data + m.headerlength + m.datalength, f.size - m.headerlength - m.datalength);
  const int64_t after = sink.tell();
  if (sink.failed() || chmod(out.temporaryname().c_str(), f.st.st_mode & 07777) != 0 || !out.finish())
    return warn("Error: %s could not be written\n", path.c_str()), false;
  myprintf("      Total: %9lld -> %9lld bytes, %lld saved (%2d%c)\n", (long long)before, (long long)after,
           (long long)(before - after), (int32_t)(100 - after * 100 / before), 37);
  return true;
}
