// The file list, its name pool, directory scanning and the names of an
// entry: the one stored in the archive and the one opened.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <unordered_map>

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

// Appends the components of s to the stored name in out, joined by "/".
// Both separators divide components, since an archive made under MS-DOS
// conventions has its "\" read as a separator by extractors. Empty, "." and
// ".." components are left out: a stored name must not climb out of the
// directory it is extracted into. False when the name would pass limit.
bool appendcomponents(std::string &out, const char *s, size_t limit) {
  while (*s) {
    while (*s == '/' || *s == '\\') s++;
    const char *e = s;
    while (*e && *e != '/' && *e != '\\') e++;
    size_t len = (size_t)(e - s);
    bool dots = (len == 1 && s[0] == '.') || (len == 2 && s[0] == '.' && s[1] == '.');
    if (len > 0 && !dots) {
      size_t sep = out.empty() ? 0 : 1;
      if (out.size() + sep + len > limit) return false;
      if (sep) out += '/';
      out.append(s, len);
    }
    s = e;
  }
  return true;
}

// The stored name of an entry: without recursion the bare name, with it the
// directory part's components too. Only a name made of separators and dots
// leaves nothing; an archive entry still needs a name.
bool storedform(bool recurse, const char *dir, const char *name, std::string &out, size_t limit) {
  out.clear();
  if ((recurse && !appendcomponents(out, dir, limit)) || !appendcomponents(out, name, limit)) return false;
  if (out.empty()) out.push_back('_');
  return true;
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

// An exclusion pattern leaves out an entry when it matches the whole stored
// name or any one component of it: "*.o" and ".git" work at every depth,
// "build/*" under one path.
bool filelist::excludedname(const char *dir, const char *name) const {
  if (o_.excludes.empty()) return false;
  std::string stored;
  storedform(o_.recurse || o_.pathnames, dir, name, stored, SIZE_MAX);
  for (const std::string &p : o_.excludes) {
    if (wildmatch(stored.c_str(), p.c_str())) return true;
    for (size_t s = 0; s < stored.size();) {
      size_t e = stored.find('/', s);
      if (e == std::string::npos) e = stored.size();
      if (wildmatch(stored.substr(s, e - s).c_str(), p.c_str())) return true;
      s = e + 1;
    }
  }
  return false;
}

// The path does not fit the name buffers of the archive; it is named in full.
bool filelist::pathtoolong(const char *dir, const char *name) {
  error_ = "Error: " + joinpath(dir, name) + ": path too long\n";
  return false;
}

bool filelist::add(const char *spec, found *f) {
  found local;
  if (!f) f = &local;
  *f = found();
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

  if (!list(dir, f)) return true;
  f->opened = true;
  const int dfd = listing_.fd;
  std::vector<std::string> names;
  for (const std::string &n : listing_.names)
    if (wildmatch(n.c_str(), pattern)) names.push_back(n);
  f->matched = (int32_t)names.size();

  bool ok = true;
  for (const std::string &n : names) {
    const char *name = n.c_str();
    // Status through the open directory, following symbolic links unless
    // links are entries of their own. An entry whose status cannot be read
    // (a dangling link) is kept as an empty file of time 0: opening it
    // fails later with a message naming it.
    struct stat st;
    fileentry e;
    e.kind = entrykind::file;
    e.size = 0;
    e.mode = 0;
    time_t mtime = 0;
    bool status = fstatat(dfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (status && S_ISLNK(st.st_mode) && !o_.symlinks) status = fstatat(dfd, name, &st, 0) == 0;
    if (status) {
      if (excluded({st.st_dev, st.st_ino})) continue;
      if (S_ISDIR(st.st_mode)) {
        if (isdotname(name)) {
          f->matched--;
          continue;
        }
        if (!o_.recurse) {
          f->directories++;
          continue;
        }
        if (walked_.count({st.st_dev, st.st_ino})) continue;
        e.kind = entrykind::directory;
      } else if (S_ISLNK(st.st_mode)) {
        e.kind = entrykind::link;
      } else if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
        // Reading these would hang (a FIFO without writer) or never end.
        f->special++;
        continue;
      }
      e.size = e.kind == entrykind::directory ? 0 : st.st_size;
      e.mode = st.st_mode;
      e.dev = st.st_dev;
      e.ino = st.st_ino;
      mtime = st.st_mtime;
    }
    if (o_.clamptime && mtime > o_.latesttime) mtime = o_.latesttime;

    if (excludedname(dir.c_str(), name)) {
      f->excluded++;
      continue;
    }
    if (dir.size() + pathsep(dir.c_str()) + strlen(name) > (size_t)maxpathleng) {
      ok = pathtoolong(dir.c_str(), name);
      break;
    }

    e.dirpart = dirpart;
    e.name = (int32_t)pool_.size();
    e.mtime = mtime;
    dostime(mtime, &e.time, &e.date);
    pool_.insert(pool_.end(), name, name + strlen(name) + 1);
    entries_.push_back(e);
    f->taken++;
  }
  return ok;
}

bool filelist::list(const std::string &dir, found *f) {
  if (listing_.fd >= 0 && listing_.dir == dir) return true;
  listing_.close();
  // A relative directory part is opened below the current directory; an
  // absolute one as written.
  DIR *d = opendir(dir[0] == '/' ? dir.c_str() : ("./" + dir).c_str());
  if (!d) {
    f->error = errno;
    return false;
  }
  // Under recursion the directory being listed counts as walked, so that a
  // link inside it back to it (or to a directory above) is not entered again.
  struct stat st;
  if (o_.recurse && fstat(dirfd(d), &st) == 0) walked_.insert({st.st_dev, st.st_ino});
  // The names in byte order: the archive must not depend on the order in
  // which a file system happens to list a directory.
  for (struct dirent *de; (de = readdir(d)) != nullptr;) listing_.names.push_back(de->d_name);
  std::sort(listing_.names.begin(), listing_.names.end());
  listing_.fd = dup(dirfd(d));
  closedir(d);
  if (listing_.fd < 0) {
    f->error = errno;
    listing_.close();
    return false;
  }
  listing_.dir = dir;
  return true;
}

void filelist::listing::close() {
  if (fd >= 0) ::close(fd);
  fd = -1;
  dir.clear();
  names.clear();
}

bool filelist::expand(std::vector<std::string> &unlistable) {
  std::string p;
  for (int32_t i = 0; i < count(); i++) {
    if (entries_[(size_t)i].kind != entrykind::directory) continue;
    if (!path(i, p)) return false;
    // A second name for a directory walked already: its files come under
    // the first.
    struct stat st;
    if (stat(p.c_str(), &st) == 0 && !walked_.insert({st.st_dev, st.st_ino}).second) continue;
    int32_t before = count();
    found f;
    if (!add((p + "/*").c_str(), &f)) return false;
    if (!f.opened) {
      unlistable.push_back(p + ": " + strerror(f.error));
      continue;
    }
    entries_[(size_t)i].empty = count() == before;
  }
  return true;
}

bool filelist::members(std::vector<member> &out) {
  out.clear();
  std::unordered_map<std::string, size_t> byname;
  for (int32_t i = 0; i < count(); i++) {
    const fileentry &e = entries_[(size_t)i];
    if (e.kind == entrykind::directory && !e.empty) continue;
    member m;
    m.index = i;
    if (!storedname(i, m.name) || !path(i, m.path)) return false;
    if (e.kind == entrykind::directory) m.name += '/';
    auto [at, fresh] = byname.emplace(m.name, out.size());
    if (!fresh) {
      const member &first = out[at->second];
      const fileentry &f = entries_[(size_t)first.index];
      // The same file named twice (two patterns, "a" and "./a"): once is enough.
      if (f.mode != 0 && f.dev == e.dev && f.ino == e.ino && f.kind == e.kind) continue;
      error_ = "Error: " + first.path + " and " + m.path + " would both be stored as " + m.name + "\n";
      return false;
    }
    out.push_back(std::move(m));
  }
  return true;
}

bool filelist::makestoredname(const char *dir, const char *name, std::string &out) {
  return storedform(o_.recurse || o_.pathnames, dir, name, out, (size_t)maxpathleng) || pathtoolong(dir, name);
}

bool filelist::storedname(int32_t i, std::string &out) {
  assert(i >= 0 && i < count());
  return makestoredname(dirpart(i), name(i), out);
}

bool filelist::path(int32_t i, std::string &out) {
  assert(i >= 0 && i < count());
  const char *dir = dirpart(i);
  if (strlen(dir) + pathsep(dir) + strlen(name(i)) > (size_t)maxpathleng) return pathtoolong(dir, name(i));
  out = joinpath(dir, name(i));
  return true;
}
