#include "driver/rezip.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "console/console.h"
#include "deflate/deflate.h"
#include "driver/compressfile.h"
#include "driver/entryloop.h"
#include "driver/fileline.h"
#include "driver/mappedfile.h"
#include "files/files.h"
#include "zipin/zipin.h"
#include "zipout/zipout.h"

namespace {

// One entry of the archive being rewritten.
struct entrywork {
  bool recode = false;   // inflated and coded again (else copied as it is)
  bool done = false;     // coded, or refused
  bool smaller = false;  // the new coding replaces the original data
  std::string error;     // the entry could not be inflated and checked
  std::string detail;    // -v: the encoder's report
  bytesink coded;
  int64_t length = 0;
};

bool isdirectory(const zipinentry &e) { return !e.name.empty() && e.name.back() == '/'; }

// Codes the entries marked recode, o.threads at a time, each worker with an
// encoder of its own; done tells the caller which are finished.
class entrycoder {
 public:
  entrycoder(const runoptions &o, const mappedfile &f, const zipinarchive &a, std::vector<entrywork> &w)
      : o_(o), f_(f), a_(a), w_(w) {
    for (int32_t k = 0; k < o.threads; k++) threads_.emplace_back([this] { work(); });
  }
  ~entrycoder() {
    stop_ = true;
    for (auto &t : threads_) t.join();
  }
  // Waits until entry k is done.
  void wait(size_t k) {
    std::unique_lock<std::mutex> lock(m_);
    done_.wait(lock, [&] { return w_[k].done; });
  }

 private:
  void work() {
    std::unique_ptr<encoder> enc(new encoder);
    std::vector<uint8_t> data;
    for (size_t k; !stop_ && (k = next_++) < w_.size();) {
      entrywork &w = w_[k];
      const zipinentry &e = a_.entries[k];
      if (w.recode) extractentry(f_.data, f_.size, e, data, w.error);   // a refusal names the entry
      if (w.recode && w.error.empty()) {
        runoptions eo = o_;
        eo.encode.randomseed = fileseed(0, (int32_t)k);
        fileline line(true, (int64_t)data.size(), nullptr);
        encoderesult r = codebytes(eo, {enc.get()}, data.data(), (int64_t)data.size(), w.coded, o_.verbose ? &line : nullptr);
        w.detail = line.release();
        w.smaller = r.result == encoderesult::compressed && r.length < (int64_t)e.compressed;
        w.length = r.length;
        if (r.result == encoderesult::nomemory) w.error = "entry \"" + e.name + "\": out of memory";
      }
      std::lock_guard<std::mutex> lock(m_);
      w.done = true;
      done_.notify_all();
    }
  }

  const runoptions &o_;
  const mappedfile &f_;
  const zipinarchive &a_;
  std::vector<entrywork> &w_;
  std::atomic<size_t> next_{0};
  std::atomic<bool> stop_{false};
  std::mutex m_;
  std::condition_variable done_;
  std::vector<std::thread> threads_;
};

// The central record of entry e at its new offset.
ziprecord recordof(const zipinentry &e) {
  ziprecord r;
  r.name = e.name;
  r.madeby = e.madeby, r.needed = e.needed, r.flags = e.flags, r.method = e.method;
  r.time = e.time, r.date = e.date, r.crc = e.crc, r.compressed = e.compressed, r.size = e.size;
  r.internalattr = e.internalattr, r.externalattr = e.externalattr;
  // The ZIP64 fields are the writer's to make, for the sizes and offset
  // the entry has where it is written now.
  r.localextra = withoutzip64(e.localextra), r.centralextra = withoutzip64(e.centralextra), r.comment = e.comment;
  return r;
}

bool rezipone(const runoptions &o, const std::string &path) {
  mappedfile f;
  if (!f.open(path)) return warn("Error: %s could not be read\n", path.c_str()), false;
  if (f.size >= 2 && f.data[0] == 0x1f && f.data[1] == 0x8b) return regzip(o, path, f);
  myprintf("Optimizing ZIP: %s\n", path.c_str());
  zipinarchive a;
  std::string error;
  if (!readarchive(f.data, f.size, a, error)) return warn("Error: %s: %s\n", path.c_str(), error.c_str()), false;

  std::vector<entrywork> work(a.entries.size());
  for (size_t k = 0; k < a.entries.size(); k++) {
    const zipinentry &e = a.entries[k];
    work[k].recode = o.encode.strategy != strategystored && !isdirectory(e) && !(e.flags & 1) &&
                     e.size < (uint64_t)effortmaxlength &&
                     (e.method == methoddeflated || (e.method == methodstored && o.rezipstored && e.size > 0));
  }
  archivefile out;
  if (!out.create(path)) return warn("Error: %s could not be written\n", path.c_str()), false;
  std::vector<ziprecord> records(a.entries.size());
  {
    entrycoder coder(o, f, a, work);
    // The entries' lines in the archive's order, each when its entry is done.
    for (size_t k = 0; k < a.entries.size(); k++) {
      coder.wait(k);
      const zipinentry &e = a.entries[k];
      entrywork &w = work[k];
      if (!w.error.empty()) return warn("Error: %s: %s\n", path.c_str(), w.error.c_str()), false;
      myprintf("%s", w.detail.c_str());
      if (w.smaller) {
        int32_t p = e.compressed ? (int32_t)(100 - w.length * 100 / e.compressed) : 0;
        myprintf("  Entry: %-12s %9llu -> %9lld bytes (%2d%c)\n", e.name.c_str(), (unsigned long long)e.compressed, (long long)w.length, p, 37);
      } else {
        myprintf("  Entry: %-12s %9llu bytes, %s\n", e.name.c_str(), (unsigned long long)e.compressed, w.recode ? "kept" : "copied");
      }
    }
  }
  // The entries in the order their data lie, each at its new offset.
  std::vector<size_t> order(a.entries.size());
  for (size_t k = 0; k < order.size(); k++) order[k] = k;
  std::sort(order.begin(), order.end(), [&](size_t x, size_t y) { return a.entries[x].headoff < a.entries[y].headoff; });
  bytesink &sink = out.sink();
  for (size_t k : order) {
    const zipinentry &e = a.entries[k];
    ziprecord &r = records[k] = recordof(e);
    if (!work[k].smaller) {
      r.headoff = sink.tell();
      sink.write(f.data + e.headoff, (size_t)(e.endoff - e.headoff));
      continue;
    }
    // Coded anew: sizes in the local header, no data descriptor.
    r.method = methoddeflated;
    r.flags = (uint16_t)((e.flags & ~(zipflagmax | 0x0004 | zipflagdescriptor)) | zipflagmax);
    if (r.needed < zipversion) r.needed = zipversion;
    r.compressed = (uint64_t)work[k].length;
    r.localzip64 = r.size >= zip64localfrom;
    writelocalheader(sink, r);
    sink.write(work[k].coded.bytes(), (size_t)work[k].length);
  }
  writecentraldirectory(sink, records, a.comment);
  sink.flush();
  const int64_t before = (int64_t)f.size, after = sink.tell();
  if (sink.failed()) return warn("%s", writeerror(path).c_str()), false;
  if (after >= before) {
    myprintf("      Total: %9lld bytes, unchanged\n", (long long)before);
    return true;   // the temporary file goes with out
  }
  if (chmod(out.temporaryname().c_str(), f.st.st_mode & 07777) != 0 || !out.finish())
    return warn("Error: %s could not be written\n", path.c_str()), false;
  myprintf("      Total: %9lld -> %9lld bytes, %lld saved (%2d%c)\n", (long long)before, (long long)after,
           (long long)(before - after), (int32_t)(100 - after * 100 / before), 37);
  return true;
}

}  // namespace

int rezip(const runoptions &o, const std::vector<std::string> &names) {
  filelist files(o.select);
  std::vector<member> archives;
  int status = selectfiles(files, names, archives);
  if (archives.empty()) {
    warn("No files found\n");
    return 1;
  }
  for (const member &m : archives) {
    if (files[m.index].kind != entrykind::file) continue;
    fatalcleanup = abortarchive;
    if (!rezipone(o, m.path)) status = 1;
    fatalcleanup = nullptr;
  }
  return status;
}
