#include "driver/entryloop.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "console/console.h"
#include "driver/compressfile.h"
#include "driver/encoderpool.h"
#include "driver/fileline.h"

namespace {

// Opens a file of the loop; the message when that fails.
std::string openinput(inputfile &in, const std::string &path) {
  switch (in.open(path)) {
    case inputfile::notfound:
      return "Error: " + path + " not found\n";
    case inputfile::unopenable:
      return "Error: " + path + " could not be opened: " + strerror(in.openerror()) + "\n";
    case inputfile::unreadable:
      return "Error: " + path + " could not be read\n";
    case inputfile::opened:
      break;
  }
  return "";
}

}  // namespace

loopcount serialloop(const runoptions &o, const filelist &files, const std::vector<member> &members, entrywriter &out,
                     uint64_t seed) {
  // One encoder, or with extra effort one per thread for the trials.
  std::vector<std::unique_ptr<encoder>> owned;
  std::vector<encoder *> encs;
  for (int32_t k = 0; k < (o.effort > 0 ? o.threads : 1); k++) {
    owned.emplace_back(new encoder);
    encs.push_back(owned.back().get());
  }
  runoptions fo = o;
  loopcount count;
  for (const member &m : members) {
    const fileentry &f = files[m.index];
    beginline(m.name);
    if (f.kind != entrykind::file) {
      count.input += out.plain(m, f);
      myprintf("\n");
      continue;
    }
    count.input += f.size;
    fo.encode.randomseed = fileseed(seed, m.index);
    inputfile in;
    std::string failed = openinput(in, m.path);
    if (!failed.empty()) fatal("%s", failed.c_str());
    (out.code(fo, encs, nullptr, in, {f, m.name, m.path}) == codedfile::reused ? count.reused : count.coded)++;
    myprintf("\n");
  }
  return count;
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
  const member *m;
  const fileentry *entry;
  bool large;   // or not a file: written by the loop's own thread
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

loopcount parallelloop(const runoptions &o, const filelist &files, const std::vector<member> &members, entrywriter &out,
                       uint64_t seed) {
  std::mutex m;
  std::condition_variable wake;       // a worker may take a job, or the loop ends
  std::condition_variable finished;   // a job is done
  std::deque<filejob *> todo;         // jobs no worker has taken, in list order
  bool ending = false;

  encoderpool encoders(o.threads);
  auto work = [&]() {
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
                                        [](filejob *x, filejob *y) { return x->entry->size < y->entry->size; });
        j = *largest;
        todo.erase(largest);
      }
      const fileentry &f = *j->entry;
      fo.encode.randomseed = fileseed(seed, j->m->index);
      j->line = std::make_unique<fileline>(o.verbose, f.size, &j->pass);
      j->openfailed = openinput(j->in, j->m->path);
      const filetocode file{f, j->m->name, j->m->path};
      if (j->openfailed.empty()) {
        encoder *enc = encoders.take();
        j->result = codefile(fo, {enc}, &encoders, j->in, file, out.previous(), j->coded, *j->line, out.outputname(file));
        encoders.giveback(enc);
      }
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
  int64_t aheadsize = 0;
  loopcount count;
  size_t next = 0;   // the next member to take
  for (;;) {
    // Take entries while the workers may run ahead.
    while (next < members.size() && (ahead.empty() || (aheadsize < aheadbytes && ahead.size() < aheadfiles + (size_t)o.threads))) {
      auto j = std::make_unique<filejob>();
      j->m = &members[next++];
      const fileentry &f = *(j->entry = &files[j->m->index]);
      j->large = f.kind != entrykind::file || f.size > largefile;
      if (!j->large) {
        aheadsize += f.size;
        std::lock_guard<std::mutex> lock(m);
        todo.push_back(j.get());
        wake.notify_one();
      }
      ahead.push_back(std::move(j));
    }
    if (ahead.empty()) break;

    // The entry whose turn it is: its line, then its entry.
    filejob &j = *ahead.front();
    const fileentry &f = *j.entry;
    const member &mb = *j.m;
    beginline(mb.name);
    if (f.kind != entrykind::file) {
      count.input += out.plain(mb, f);
    } else if (j.large) {
      count.input += f.size;
      runoptions fo = o;
      fo.encode.randomseed = fileseed(seed, mb.index);
      std::string failed = openinput(j.in, mb.path);
      if (!failed.empty()) stop(), fatal("%s", failed.c_str());
      encoder *enc = encoders.take();
      const codedfile::outcome r = out.code(fo, {enc}, &encoders, j.in, {f, mb.name, mb.path});
      encoders.giveback(enc);
      (r == codedfile::reused ? count.reused : count.coded)++;
    } else {
      count.input += f.size;
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
      (out.coded(j.result, j.coded, j.in, {f, mb.name, mb.path}, *j.line) == codedfile::reused ? count.reused : count.coded)++;
      aheadsize -= f.size;
    }
    myprintf("\n");
    ahead.pop_front();
  }
  stop();
  return count;
}
