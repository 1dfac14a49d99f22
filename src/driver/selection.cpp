// The files of a run: every file specification and list file of the command
// line into the file list, the directories walked, and the entries to write,
// with a warning for every name that selects nothing.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "console/console.h"
#include "driver/driver.h"

namespace {

// One specification: its matches join the list. A name without wildcards
// that finds nothing fails the run (after the archive is written); a
// pattern that matches nothing is only pointed out.
int addspec(filelist &files, const std::string &spec) {
  found f;
  if (!files.add(spec.c_str(), &f)) fatal("%s", files.error().c_str());
  const bool pattern = haswildcard(spec.c_str());
  if (f.matched == 0) {
    warn("Warning: %s matches no file\n", spec.c_str());
    return pattern ? 0 : 1;
  }
  if (!pattern && f.taken == 0 && f.excluded == 0) {
    if (f.directories) warn("Warning: %s is a directory, archived only with -r\n", spec.c_str());
    else if (f.special) warn("Warning: %s is not a regular file, not archived\n", spec.c_str());
  }
  return 0;
}

// A list of names: "@path" (separated by blanks and line ends) or "-@"
// (standard input, one name per line).
int addlist(filelist &files, const std::string &arg) {
  const bool fromstdin = arg == "-@";
  const std::string listpath = fromstdin ? "standard input" : arg.substr(1);
  int fd = fromstdin ? 0 : open(listpath.c_str(), O_RDONLY | O_CLOEXEC);
  std::string text;
  bool read = fd >= 0 && readall(fd, text);
  int error = errno;
  if (fd > 0) close(fd);
  if (!read) {
    warn("Warning: list file %s could not be read: %s\n", listpath.c_str(), strerror(error));
    return 1;
  }
  int status = 0;
  auto add = [&](const std::string &name) { status |= addspec(files, name); };
  if (fromstdin) listlines(text.data(), text.size(), add);
  else listfilenames(text.data(), text.size(), add);
  return status;
}

}  // namespace

int selectfiles(filelist &files, const std::vector<std::string> &specs, std::vector<member> &out) {
  int status = 0;
  try {
    // No specification at all: every file of the current directory.
    if (specs.empty()) status |= addspec(files, "*");
    for (const std::string &s : specs) status |= s[0] == '@' || s == "-@" ? addlist(files, s) : addspec(files, s);
    std::vector<std::string> unlistable;
    if (!files.expand(unlistable)) fatal("%s", files.error().c_str());
    for (const std::string &u : unlistable) warn("Warning: %s, its files not archived\n", u.c_str());
    if (!unlistable.empty()) status = 1;
    if (!files.members(out)) fatal("%s", files.error().c_str());
  } catch (const std::bad_alloc &) {
    fatal("Error: malloc failed\n");
  }
  return status;
}
