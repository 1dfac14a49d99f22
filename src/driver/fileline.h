// The console line of one file: "  Adding: name         VOflating ", then
// what the passes report, and at the end the figures of the entry kept or
// the stored text, which backs up over the status and the progress word.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "deflate/options.h"

// The progress word and its blank: the stored text backs up this many
// characters more than the status it replaces.
inline constexpr char progressword[] = "VOflating ";
constexpr int32_t progresswordlen = sizeof progressword - 1;

// Prints the start of a file's line, up to and with the progress word.
void beginline(const std::string &name);

class fileline : public encodewatcher {
 public:
  fileline(bool verbose, bool progress, int64_t size) : verbose_(verbose), progress_(progress), size_(size) {}
  // A file coded by a worker while other lines are printed: its text is
  // kept, to be printed when its turn comes, and the running pass is
  // published in pass for whoever shows progress.
  fileline(bool verbose, int64_t size, std::atomic<int32_t> *pass)
      : verbose_(verbose), progress_(false), size_(size), capture_(&text_), pass_(pass) {}

  // The captured text so far; from now on the line prints directly.
  std::string release() {
    capture_ = nullptr;
    return std::move(text_);
  }

  void blocklayout(const int64_t *ends, int32_t count) override;
  void passbegins(int32_t pass) override;
  void passends(int64_t length, int64_t predictedsaving, bool finalpass) override;
  void trialends(int32_t trial, int64_t length, int32_t won, int32_t blocks) override;

  // The entry was stored: the stored text replaces the status and the
  // progress word.
  void stored();
  // -u: the entry's data were copied from the archive being updated, length
  // bytes: "Reused" and the figures replace the progress word.
  void reused(int64_t length);
  // The entry kept is length bytes: a loop that ended by a cycle, the cap or
  // a re-created best pass may have printed no figures, or those of a
  // longer pass, so the line ends with the right ones.
  void kept(int64_t length);

 private:
  void eraseprogress();
  void say(const char *f, ...) __attribute__((format(printf, 2, 3)));

  bool verbose_, progress_;
  int64_t size_;
  std::string status_;   // the status the last pass printed (empty when none)
  std::string shown_;    // everything the passes printed after the progress word
  int32_t progressshown_ = 0;
  std::string text_;
  std::string *capture_ = nullptr;
  std::atomic<int32_t> *pass_ = nullptr;
};

// Progress on a terminal, for a line whose pass is published elsewhere:
// shows "pass n" after what the line holds, erasing the previous count.
// Returns the characters now shown.
int32_t showpass(int32_t pass, int32_t shown);
// Backs over, blanks and backs over again the shown characters.
void erasepass(int32_t shown);

// "%9d/%9d bytes (%2d%c)": an entry's compressed and original size and the
// saving in percent (0 for an empty file).
std::string figures(int64_t compressed, int64_t original);
