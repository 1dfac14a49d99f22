// The file list, its name pool, directory scanning and the names of an
// entry: the one stored in the archive and the one opened.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <cassert>
#include <cstring>

#include "files/files.h"

namespace {

// MS-DOS date and time of a modification time, in local time. The format
// counts years from 1980 in 7 bits, so it holds 1980-01-01 00:00:00 to
// 2107-12-31 23:59:58 (seconds are halved); a time outside that range is
// stored as the nearer end rather than wrapped into another century.
void dostime(time_t t, uint16_t *time, uint16_t *date) {
  struct tm lt;
  int32_t d, h;
  if (!localtime_r(&t, &lt) || lt.tm_year < 80) {
    d = 1 + 0 * 512 + 1 * 32;   // 1 January 1980
    h = 0;
  } else if (lt.tm_year > 207) {
    d = 31 + 127 * 512 + 12 * 32;   // 31 December 2107
    h = 23 * 2048 + 59 * 32 + 29;   // 23:59:58
  } else {
    d = lt.tm_mday + (lt.tm_year - 80) * 512 + (lt.tm_mon + 1) * 32;
    h = lt.tm_hour * 2048 + lt.tm_min * 32 + lt.tm_sec / 2;
  }
  *date = (uint16_t)d;
  *time = (uint16_t)h;
}

bool isdotname(const char *s) { return s[0] == '.' && (s[1] == 0 || (s[1] == '.' && s[2] == 0)); }

// The path of an entry: its directory part, a "/" unless that part is empty
// or already ends in one (the root directory "/"), its name.
bool pathsep(const char *dir) {
  size_t l = strlen(dir);
  return l > 0 && dir[l - 1] != '/';
}

std::string joinpath(const char *dir, const char *name) {
  std::string p = dir;
  if (pathsep(dir)) p += '/';
  return p + name;
}

}  // namespace

bool filelist::excluded(fileid id) const {
  for (const fileid &e : excluded_)
    if (e == id) return true;
  return false;
}

void filelist::exclude(const char *path) {
  struct stat st;
  // A path that does not exist cannot be selected by mistake.
  if (stat(path, &st) != 0) return;
  if (!excluded({st.st_dev, st.st_ino})) excluded_.push_back({st.st_dev, st.st_ino});
}

bool filelist::walk(const char *path) {
  struct stat st;
  // Nothing to mark; opening it will fail in the same way and add nothing.
  if (stat(path, &st) != 0) return true;
  return walked_.insert({st.st_dev, st.st_ino}).second;
}

// The path does not fit the name buffers of the archive; it is named in full.
bool filelist::pathtoolong(const char *dir, const char *name) {
  error_ = "Error: " + joinpath(dir, name) + ": path too long\n";
  return false;
}

bool filelist::add(const char *spec) {
  // Directory part: everything before the last separator. A separator that
  // is the first character makes it the root directory "/".
  int32_t lastsep = -1;
  for (int32_t k = 0; spec[k]; k++)
    if (spec[k] == '/' || spec[k] == '\\') lastsep = k;
  int32_t pathlen = lastsep > 0 ? lastsep : lastsep == 0 ? 1 : 0;
  const char *pattern = spec + lastsep + 1;

  const int32_t dirpart = (int32_t)pool_.size();
  for (int32_t k = 0; k < pathlen; k++) pool_.push_back(spec[k] == '\\' ? '/' : spec[k]);
  pool_.push_back(0);
  const std::string dir(pool_.data() + dirpart);
  if (pathlen > maxpathleng) {
    error_ = "Error: " + dir + ": path too long\n";
    return false;
  }

  // A relative directory part is opened below the current directory; an
  // absolute one as written.
  DIR *d = opendir(dir[0] == '/' ? dir.c_str() : ("./" + dir).c_str());
  if (!d) return true;
  int dfd = dirfd(d);

  // Under recursion the directory being listed counts as walked, so that a
  // link inside it back to it (or to a directory above) is not entered again.
  if (recurse_) {
    struct stat st;
    if (fstat(dfd, &st) == 0) walked_.insert({st.st_dev, st.st_ino});
  }

  bool ok = true;
  struct dirent *de;
  while ((de = readdir(d)) != nullptr) {
    const char *name = de->d_name;
    if (!wildmatch(name, pattern)) continue;

    // Status through the open directory, following symbolic links. An entry
    // whose status cannot be read (a dangling link) is kept as an empty file
    // of time 0: opening it fails later with a message naming it.
    struct stat st;
    uint8_t attr = 0x20;
    int64_t size = 0;
    time_t mtime = 0;
    if (fstatat(dfd, name, &st, 0) == 0) {
      if (excluded({st.st_dev, st.st_ino})) continue;
      if (S_ISDIR(st.st_mode)) {
        if (!recurse_ || isdotname(name)) continue;
        if (walked_.count({st.st_dev, st.st_ino})) continue;
        attr = 0x30;
      } else if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
        // Reading these would hang (a FIFO without writer) or never end.
        continue;
      }
      size = st.st_size;
      mtime = st.st_mtime;
    }

    if (dir.size() + pathsep(dir.c_str()) + strlen(name) > (size_t)maxpathleng) {
      ok = pathtoolong(dir.c_str(), name);
      break;
    }
    if (size >= toolarge) {
      error_ = "Error: " + joinpath(dir.c_str(), name) + " is too large (2 GiB or more)\n";
      ok = false;
      break;
    }

    fileentry e;
    e.dirpart = dirpart;
    e.name = (int32_t)pool_.size();
    e.size = size;
    e.attr = attr;
    dostime(mtime, &e.time, &e.date);
    pool_.insert(pool_.end(), name, name + strlen(name) + 1);
    entries_.push_back(e);
  }
  closedir(d);
  return ok;
}

// Appends the components of s to the stored name in out, joined by "/".
// Both separators divide components, since an archive made under MS-DOS
// conventions has its "\" read as a separator by extractors. Empty, "." and
// ".." components are left out: a stored name must not climb out of the
// directory it is extracted into.
bool filelist::appendcomponents(std::string &out, const char *s, int32_t i) {
  while (*s) {
    while (*s == '/' || *s == '\\') s++;
    const char *e = s;
    while (*e && *e != '/' && *e != '\\') e++;
    size_t len = (size_t)(e - s);
    bool dots = (len == 1 && s[0] == '.') || (len == 2 && s[0] == '.' && s[1] == '.');
    if (len > 0 && !dots) {
      size_t sep = out.empty() ? 0 : 1;
      if (out.size() + sep + len > (size_t)maxpathleng) return pathtoolong(dirpart(i), name(i));
      if (sep) out += '/';
      out.append(s, len);
    }
    s = e;
  }
  return true;
}

bool filelist::storedname(int32_t i, std::string &out) {
  assert(i >= 0 && i < count());
  out.clear();
  if (recurse_ && !appendcomponents(out, dirpart(i), i)) return false;
  if (!appendcomponents(out, name(i), i)) return false;
  // Only a name made of separators and dots leaves nothing; an archive entry
  // still needs a name.
  if (out.empty()) out.push_back('_');
  return true;
}

bool filelist::path(int32_t i, std::string &out) {
  assert(i >= 0 && i < count());
  const char *dir = dirpart(i);
  if (strlen(dir) + pathsep(dir) + strlen(name(i)) > (size_t)maxpathleng) return pathtoolong(dir, name(i));
  out = joinpath(dir, name(i));
  return true;
}
