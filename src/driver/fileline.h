// The console line of one file: "  Adding: name         VOflating ", then
// what the passes report, and at the end the figures of the entry kept or
// the stored text, which backs up over the status and the progress word.
#pragma once

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

  void blocklayout(const int32_t *ends, int32_t count) override;
  void passbegins(int32_t pass) override;
  void passends(int64_t length, int64_t predictedsaving, bool finalpass) override;

  // The entry was stored: the stored text replaces the status and the
  // progress word.
  void stored();
  // The entry kept is length bytes: a loop that ended by a cycle, the cap or
  // a re-created best pass may have printed no figures, or those of a
  // longer pass, so the line ends with the right ones.
  void kept(int64_t length);

 private:
  void eraseprogress();

  bool verbose_, progress_;
  int64_t size_;
  std::string status_;   // the status the last pass printed (empty when none)
  std::string shown_;    // everything the passes printed after the progress word
  int32_t progressshown_ = 0;
};

// "%9d/%9d bytes (%2d%c)": an entry's compressed and original size and the
// saving in percent (0 for an empty file).
std::string figures(int64_t compressed, int64_t original);
