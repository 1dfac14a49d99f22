// --gzip: every selected file coded into NAME.gz beside it, the file itself
// kept, through the same loops, workers and console lines as an archive.
// Each .gz is written to a temporary file and renamed into place when it is
// complete, so an interrupted run leaves no half file.
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>

#include "console/console.h"
#include "deflate/storedblocks.h"
#include "driver/compressfile.h"
#include "driver/driver.h"
#include "driver/entryloop.h"
#include "gzip/gzip.h"

namespace {

// Each file's .gz: its header (the file's name and time unless --no-name),
// the Deflate data, the trailer.
class gzipwriter : public entrywriter {
 public:
  explicit gzipwriter(const runoptions &o) : o_(o) {}
  int64_t written() const { return written_; }

  int64_t plain(const member &, const fileentry &) override { return 0; }   // only files reach it

  codedfile::outcome code(const runoptions &o, const std::vector<encoder *> &encs, encoderlender *lender,
                          inputfile &in, const filetocode &file) override {
    fileline line(o.verbose, o.progress, file.f.size);
    archivefile gz;
    begin(gz, file);
    const int64_t dataoff = gz.sink().tell();
    codedfile c = codefile(o, encs, lender, in, file, nullptr, gz.sink(), line, outputname(file));
    if (c.result == codedfile::failed) fatal("%s", c.message.c_str());
    if (c.result == codedfile::stored) gz.sink().seek(dataoff);   // over the longer attempt, if there was one
    end(gz, c, in, file, line);
    return c.result;
  }

  codedfile::outcome coded(const codedfile &c, const bytesink &coded, inputfile &in, const filetocode &file,
                           fileline &line) override {
    archivefile gz;
    begin(gz, file);
    if (c.result == codedfile::deflated) gz.sink().write(coded.bytes(), (size_t)c.length);
    myprintf("%s", line.release().c_str());
    end(gz, c, in, file, line);
    return c.result;
  }

  std::string outputname(const filetocode &file) const override { return file.path + ".gz"; }

 private:
  // The temporary file and the header.
  void begin(archivefile &gz, const filetocode &file) {
    if (!gz.create(outputname(file))) fatal("Error: %s could not be opened\n", outputname(file).c_str());
    const fileentry &f = file.f;
    const std::string &p = file.path;
    const std::string name = o_.gzipname ? p.substr(p.rfind('/') == std::string::npos ? 0 : p.rfind('/') + 1) : "";
    writegzipheader(gz.sink(), o_.gzipname ? (uint32_t)f.mtime : 0, name);
  }

  // Stored blocks where the file did not shrink, the trailer, the file's
  // permissions and time, and the rename into place.
  void end(archivefile &gz, const codedfile &c, inputfile &in, const filetocode &file, fileline &line) {
    const fileentry &f = file.f;
    uint32_t crc = c.crc;
    if (c.result == codedfile::stored) {
      if (!writestoredblocks(gz.sink(), in, f.size)) fatal("Error: %s could not be read\n", file.path.c_str());
      crc = in.crc();
      line.stored();
    } else {
      line.kept(c.length);
    }
    writegziptrailer(gz.sink(), crc, (uint64_t)f.size);
    checkwritten(gz);
    written_ += gz.sink().tell();
    const std::string name = outputname(file);
    if (chmod(gz.temporaryname().c_str(), f.mode & 07777) != 0 || !gz.finish())
      fatal("Error: %s could not be written\n", name.c_str());
    // The .gz is as old as its file, as gzip leaves it.
    const timespec times[2] = {{(time_t)f.mtime, 0}, {(time_t)f.mtime, 0}};
    utimensat(AT_FDCWD, name.c_str(), times, 0);
  }

  const runoptions &o_;
  int64_t written_ = 0;
};

bool endsingz(const std::string &name) { return name.size() >= 3 && strcasecmp(name.c_str() + name.size() - 3, ".gz") == 0; }

}  // namespace

int gzipfiles(const runoptions &o, const std::vector<std::string> &specs) {
  runoptions go = o;
  go.select.pathnames = true;
  sourcedateepoch(go.select);
  filelist files(go.select);
  std::vector<member> all, members;
  int status = selectfiles(files, specs, all);
  for (const member &m : all) {
    if (files[m.index].kind != entrykind::file) continue;   // directories have no .gz; links are followed or skipped
    if (endsingz(m.path)) myprintf("  Skipping: %s (already gzip)\n", m.path.c_str());
    else members.push_back(m);
  }
  if (members.empty()) return warn("No files found\n"), 1;
  // Every limit is met and every question answered before any file is coded.
  for (const member &m : members) {
    if (go.encode.strategy != strategystored && files[m.index].size >= maxcodedlength(go))
      fatal("%s", toolarge(go, m.path).c_str());
    overwriteprompt(go, m.path + ".gz");
  }
  // The line shows the path, which the .gz lies beside.
  for (member &m : members) m.name = m.path;
  fatalcleanup = abortarchive;
  gzipwriter writer(go);
  const uint64_t seed = runseed();
  loopcount count = go.threads > 1 && go.effort == 0 ? parallelloop(go, files, members, writer, seed)
                                                     : serialloop(go, files, members, writer, seed);
  fatalcleanup = nullptr;
  const int64_t size = writer.written(), total = count.input;
  int32_t pct = total ? (int32_t)(100 - (size * 100) / total) : 0;
  myprintf("      Total (including headers): %9lld/%9lld bytes (%2d%c)\n", (long long)size, (long long)total, pct, 37);
  return status;
}
