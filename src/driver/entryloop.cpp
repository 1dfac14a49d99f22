#include "driver/entryloop.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "console/console.h"
#include "driver/compressfile.h"
#include "driver/fileline.h"

int32_t nextfile(filelist &files, int32_t &cursor, std::string &name, std::string &path, std::string &error) {
  for (; cursor < files.count(); cursor++) {
    if (!files.storedname(cursor, name) || !files.path(cursor, path)) {
      error = files.error();
      return -2;
    }
    if (!(files[cursor].attr & 0x10)) return cursor++;
    if (files.walk(path.c_str()) && !files.add((path + "/*").c_str())) {
      error = files.error();
      return -2;
    }
  }
  return -1;
}

namespace {

// Opens a file of the loop; the message when that fails.
std::string openinput(inputfile &in, const std::string &path) {
  switch (in.open(path)) {
    case inputfile::notfound:
      return "Error: " + path + " not found\n";
    case inputfile::unreadable:
      return "Error: " + path + " could not be read\n";
    case inputfile::opened:
      break;
  }
  return "";
}

}  // namespace

int64_t serialloop(const runoptions &o, filelist &files, archivefile &archive, std::vector<ziprecord> &records,
                   uint64_t seed) {
  // One encoder, or with extra effort one per thread for the trials.
  std::vector<std::unique_ptr<encoder>> owned;
  std::vector<encoder *> encs;
  for (int32_t k = 0; k < (o.effort > 0 ? o.threads : 1); k++) {
    owned.emplace_back(new encoder);
    encs.push_back(owned.back().get());
  }
  runoptions fo = o;
  int64_t total = 0;
  std::string name, path, error;
  for (int32_t cursor = 0, i; (i = nextfile(files, cursor, name, path, error)) != -1;) {
    if (i == -2) fatal("%s", error.c_str());
    total += files[i].size;
    fo.encode.randomseed = fileseed(seed, i);
    beginline(name);
    inputfile in;
    std::string failed = openinput(in, path);
    if (!failed.empty()) fatal("%s", failed.c_str());
    records.push_back(compressfile(fo, encs, archive, in, path, name, files[i]));
    myprintf("\n");
  }
  return total;
}

namespace {

// Files above this size are coded on the writing thread, straight into the
// archive, when their turn comes: a worker would hold the whole coded file
// in memory until then.
constexpr int64_t largefile = (int64_t)64 << 20;
// Input bytes of the files coded ahead and not yet written: the workers wait
// rather than hold more in memory (one file always goes ahead); and how many
// files, so that the workers can choose the longest among them.
constexpr int64_t aheadbytes = (int64_t)256 << 20;
constexpr size_t aheadfiles = 64;
// How often the line of the file whose turn it is shows its pass.
constexpr auto progressevery = std::chrono::milliseconds(200);

struct filejob {
  int32_t index;
  std::string name, path;
  // A copy: the list grows (and moves) while the workers run.
  fileentry entry;
  bool large;
  std::atomic<int32_t> pass{0};
  // Set by the worker:
  bool done = false;
  std::string openfailed;
  inputfile in;
  bytesink coded;
  codedfile result;
  std::unique_ptr<fileline> line;
};

}  // namespace

int64_t parallelloop(const runoptions &o, filelist &files, archivefile &archive, std::vector<ziprecord> &records,
                     uint64_t seed) {
  std::mutex m;
  std::condition_variable wake;       // a worker may take a job, or the loop ends
  std::condition_variable finished;   // a job is done
  std::deque<filejob *> todo;         // jobs no worker has taken, in list order
  bool ending = false;

  auto work = [&]() {
    std::unique_ptr<encoder> enc(new encoder);
    runoptions fo = o;
    fo.progress = false;
    for (;;) {
      filejob *j;
      {
        std::unique_lock<std::mutex> lock(m);
        wake.wait(lock, [&] { return ending || !todo.empty(); });
        if (todo.empty()) return;
        // The largest file first: a long file taken last would keep one
        // thread busy after the others are done.
        auto largest = std::max_element(todo.begin(), todo.end(),
                                        [](filejob *x, filejob *y) { return x->entry.size < y->entry.size; });
        j = *largest;
        todo.erase(largest);
      }
      const fileentry &f = j->entry;
      fo.encode.randomseed = fileseed(seed, j->index);
      j->line = std::make_unique<fileline>(o.verbose, f.size, &j->pass);
      j->openfailed = openinput(j->in, j->path);
      if (j->openfailed.empty()) j->result = codefile(fo, {enc.get()}, j->in, j->path, f, j->coded, *j->line, archive.name());
      std::lock_guard<std::mutex> lock(m);
      j->done = true;
      finished.notify_all();
    }
  };
  std::vector<std::thread> workers;
  for (int32_t k = 0; k < o.threads; k++) workers.emplace_back(work);
  auto stop = [&]() {
    {
      std::lock_guard<std::mutex> lock(m);
      ending = true;
      todo.clear();
    }
    wake.notify_all();
    for (auto &t : workers) t.join();
  };

  std::deque<std::unique_ptr<filejob>> ahead;   // taken from the list, not yet written
  int64_t aheadsize = 0, total = 0;
  int32_t cursor = 0;
  std::string error;
  bool listed = false;   // the walk has reached the end of the list or failed
  std::unique_ptr<encoder> writerenc;
  for (;;) {
    // Take files from the list while the workers may run ahead.
    while (!listed && (ahead.empty() || (aheadsize < aheadbytes && ahead.size() < aheadfiles + (size_t)o.threads))) {
      auto j = std::make_unique<filejob>();
      j->index = nextfile(files, cursor, j->name, j->path, error);
      if (j->index < 0) {
        listed = true;
        break;
      }
      const fileentry &f = j->entry = files[j->index];
      total += f.size;
      j->large = f.size > largefile;
      if (!j->large) {
        aheadsize += f.size;
        std::lock_guard<std::mutex> lock(m);
        todo.push_back(j.get());
        wake.notify_one();
      }
      ahead.push_back(std::move(j));
    }
    if (ahead.empty()) break;

    // The file whose turn it is: its line, then its entry.
    filejob &j = *ahead.front();
    const fileentry &f = j.entry;
    beginline(j.name);
    if (j.large) {
      if (!writerenc) writerenc.reset(new encoder);
      runoptions fo = o;
      fo.encode.randomseed = fileseed(seed, j.index);
      std::string failed = openinput(j.in, j.path);
      if (!failed.empty()) stop(), fatal("%s", failed.c_str());
      records.push_back(compressfile(fo, {writerenc.get()}, archive, j.in, j.path, j.name, f));
    } else {
      // The progress word is visible while the file is coded.
      fflush(stdout);
      int32_t shown = 0, pass = 0;
      std::unique_lock<std::mutex> lock(m);
      while (!j.done) {
        if (o.progress && j.pass.load(std::memory_order_relaxed) != pass)
          shown = showpass(pass = j.pass.load(std::memory_order_relaxed), shown);
        finished.wait_for(lock, progressevery);
      }
      lock.unlock();
      erasepass(shown);
      if (!j.openfailed.empty()) stop(), fatal("%s", j.openfailed.c_str());
      if (j.result.result == codedfile::failed) {
        // What the passes showed before the failure, as one thread shows it.
        myprintf("%s", j.line->release().c_str());
        stop(), fatal("%s", j.result.message.c_str());
      }
      records.push_back(writecoded(archive, j.result, j.coded, j.in, j.path, j.name, f, *j.line));
      aheadsize -= f.size;
    }
    myprintf("\n");
    ahead.pop_front();
  }
  stop();
  if (!error.empty()) fatal("%s", error.c_str());
  return total;
}
