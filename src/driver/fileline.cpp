#include "driver/fileline.h"

#include <cstdarg>
#include <cstdio>

#include "console/console.h"

void fileline::say(const char *f, ...) {
  va_list ap;
  va_start(ap, f);
  if (capture_) {
    char buf[256];
    int n = vsnprintf(buf, sizeof buf, f, ap);
    if (n > 0) capture_->append(buf, (size_t)(n < (int)sizeof buf ? n : (int)sizeof buf - 1));
  } else if (messagestream) {
    vfprintf(messagestream, f, ap);
  }
  va_end(ap);
}

int32_t showpass(int32_t pass, int32_t shown) {
  erasepass(shown);
  int32_t n = myprintf("pass %d", pass);
  fflush(stdout);
  return n > 0 ? n : 0;
}

void erasepass(int32_t shown) {
  if (shown <= 0) return;
  for (int32_t k = 0; k < shown; k++) myprintf("\b");
  myprintf("%*s", (int)shown, "");
  for (int32_t k = 0; k < shown; k++) myprintf("\b");
}

std::string figures(int64_t compressed, int64_t original) {
  int32_t p = original ? (int32_t)(100 - (compressed * 100) / original) : 0;
  char buf[64];
  snprintf(buf, sizeof buf, "%9lld/%9lld bytes (%2d%c)", (long long)compressed, (long long)original, p, 37);
  return buf;
}

void beginline(const std::string &name) { myprintf("  Adding: %-12s %s", name.c_str(), progressword); }

void fileline::blocklayout(const int64_t *ends, int32_t count) {
  if (verbose_) {
    say("   \nBlock boundaries: ");
    if (count == 1) say("none");
    for (int32_t b = 0; b < count - 1; b++) say(b ? ",%llx" : "%llx", (long long)ends[b]);
    say(" (%d block", count);
    if (count > 1) say("s");
    say(")\n\n");
    say("\n");
  } else if (!capture_) {
    // The progress word is visible while the passes run.
    fflush(stdout);
  }
}

// Progress on a terminal: the number of the pass that is running, shown
// after the progress word and erased (backed over, blanked, backed over
// again) before the pass's figures, so that the line ends as it would
// without it and the stored text's count of characters to back over still
// holds.
void fileline::passbegins(int32_t pass) {
  if (pass_) pass_->store(pass, std::memory_order_relaxed);
  if (progress_) progressshown_ = showpass(pass, 0);
}

void fileline::eraseprogress() {
  if (!progress_) return;
  erasepass(progressshown_);
  progressshown_ = 0;
}

void fileline::passends(int64_t length, int64_t predictedsaving, bool finalpass) {
  eraseprogress();
  status_.clear();
  if (verbose_) {
    say("    Fileleng: %7lld bytes", (long long)length);
    if (predictedsaving > 0 && !finalpass) {
      // Bits shown as bytes with three decimals (thousandths in steps of 125).
      int64_t g = predictedsaving;
      int64_t next = length * 8 - g;
      say(" -%7lld.%03d -> %7lld.%03d\n", (long long)(g >> 3), (int)((g & 7) * 125), (long long)(next >> 3),
               (int)((next & 7) * 125));
    }
  } else if (predictedsaving <= 0) {
    status_ = figures(length, size_);
    say("%s", status_.c_str());
    shown_ += status_;
  }
}

void fileline::trialends(int32_t trial, int64_t length, int32_t won, int32_t blocks) {
  if (verbose_) say("\n    Trial %3d: %7lld bytes, best in %d of %d blocks", trial, (long long)length, won, blocks);
}

void fileline::stored() {
  char text[64];
  snprintf(text, sizeof text, "Stored :( %9lld/%9lld bytes ( 0%c)  ", (long long)size_, (long long)size_, 37);
  if (verbose_) {
    say("\n    Stored :(%8lld bytes (0%c) ", (long long)size_, 37);
  } else {
    // Back up over the status and the progress word, to just behind the
    // name, and print the stored text there.
    for (size_t k = 0; k < status_.size() + progresswordlen; k++) say("\b");
    say("%s", text);
  }
}

void fileline::reused(int64_t length) {
  if (verbose_) {
    say("    Reused: %s", figures(length, size_).c_str());
    return;
  }
  for (int32_t k = 0; k < progresswordlen; k++) say("\b");
  say("%-*s%s", (int)progresswordlen, "Reused", figures(length, size_).c_str());
}

void fileline::kept(int64_t length) {
  if (verbose_) return;
  std::string want = figures(length, size_);
  if (shown_ == want) return;
  for (size_t k = 0; k < shown_.size(); k++) say("%c", 8);
  say("%s", want.c_str());
  for (size_t k = want.size(); k < shown_.size(); k++) say(" ");
}
