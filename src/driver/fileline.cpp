#include "driver/fileline.h"

#include <cstdio>

#include "console/console.h"

std::string figures(int64_t compressed, int64_t original) {
  int32_t p = original ? (int32_t)(100 - (compressed * 100) / original) : 0;
  char buf[64];
  snprintf(buf, sizeof buf, "%9d/%9d bytes (%2d%c)", (int32_t)compressed, (int32_t)original, p, 37);
  return buf;
}

void beginline(const std::string &name) { myprintf("  Adding: %-12s %s", name.c_str(), progressword); }

void fileline::blocklayout(const int32_t *ends, int32_t count) {
  if (verbose_) {
    myprintf("   \nBlock boundaries: ");
    if (count == 1) myprintf("none");
    for (int32_t b = 0; b < count - 1; b++) myprintf(b ? ",%x" : "%x", ends[b]);
    myprintf(" (%d block", count);
    if (count > 1) myprintf("s");
    myprintf(")\n\n");
    myprintf("\n");
  } else {
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
  if (!progress_) return;
  progressshown_ = myprintf("pass %d", pass);
  fflush(stdout);
}

void fileline::eraseprogress() {
  if (!progress_ || progressshown_ <= 0) return;
  for (int32_t k = 0; k < progressshown_; k++) myprintf("\b");
  myprintf("%*s", (int)progressshown_, "");
  for (int32_t k = 0; k < progressshown_; k++) myprintf("\b");
  progressshown_ = 0;
}

void fileline::passends(int64_t length, int64_t predictedsaving, bool finalpass) {
  eraseprogress();
  status_.clear();
  if (verbose_) {
    myprintf("    Fileleng: %7d bytes", (int32_t)length);
    if (predictedsaving > 0 && !finalpass) {
      // Bits shown as bytes with three decimals (thousandths in steps of 125).
      int64_t g = predictedsaving;
      int64_t next = length * 8 - g;
      myprintf(" -%7lld.%03d -> %7lld.%03d\n", (long long)(g >> 3), (int)((g & 7) * 125), (long long)(next >> 3),
               (int)((next & 7) * 125));
    }
  } else if (predictedsaving <= 0) {
    status_ = figures(length, size_);
    myprintf("%s", status_.c_str());
    shown_ += status_;
  }
}

void fileline::stored() {
  char text[64];
  snprintf(text, sizeof text, "Stored :( %9d/%9d bytes ( 0%c)  ", (int32_t)size_, (int32_t)size_, 37);
  if (verbose_) {
    myprintf("\n    Stored :(%8d bytes (0%c) ", (int32_t)size_, 37);
  } else {
    // Back up over the status and the progress word, to just behind the
    // name, and print the stored text there.
    for (size_t k = 0; k < status_.size() + progresswordlen; k++) myprintf("\b");
    myprintf("%s", text);
  }
}

void fileline::kept(int64_t length) {
  if (verbose_) return;
  std::string want = figures(length, size_);
  if (shown_ == want) return;
  for (size_t k = 0; k < shown_.size(); k++) myprintf("%c", 8);
  myprintf("%s", want.c_str());
  for (size_t k = want.size(); k < shown_.size(); k++) myprintf(" ");
}
