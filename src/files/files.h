// Input file selection: wildcard matching, the file list with its name pool,
// directory scanning, and the names of an entry (the one stored in the
// archive and the one it is opened by).
//
// The driver adds every file specification to the list, then has it walk
// the directories found (with recursion) and turn the list into the
// entries to write, before anything is coded: every name clash and every
// limit is known before the work starts. Entries refer to the pool by
// offsets, since the pool moves when it grows. Nothing here prints or ends
// the process: an operation that fails returns false and leaves the whole
// message in error().
#pragma once

#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

// 1 when name matches pattern: "*" any run, "?" any one character, letters
// without regard to case, "/" and "\" equal. An empty pattern matches every
// name.
bool wildmatch(const char *name, const char *pattern);
// The last component of spec holds a wildcard ("*" or "?").
bool haswildcard(const char *spec);

constexpr int32_t maxpathleng = 259;   // longest path or stored name, without its NUL

// What the selection takes and how it describes it.
struct selectoptions {
  bool recurse = false;    // -r: walk directories, store paths
  bool symlinks = false;   // a symbolic link is an entry of its own, not a copy of its target
  // Names keep their directory part even without recursion (each file's
  // output lies beside it, so only the same path is the same name).
  bool pathnames = false;
  std::vector<std::string> excludes;   // patterns of stored names, or of any of their components, to leave out
  // Modification times later than this are taken as this (a reproducible
  // build's fixed time); no clamp when clamptime is false.
  bool clamptime = false;
  time_t latesttime = 0;
};

enum class entrykind : uint8_t { file, directory, link };

// One selected file, directory or (with symlinks) link.
struct fileentry {
  int32_t dirpart;   // pool offset of the directory part (may be empty), shared by one add
  int32_t name;      // pool offset of the entry's own name
  int64_t size;      // bytes when listed; a link's target length; 0 for a directory
  uint32_t mode;     // the file's type and permission bits; 0 when its status could not be read
  int64_t mtime;     // modification time, seconds since 1970 (clamped as selectoptions says)
  uint16_t time;     // the same in MS-DOS form
  uint16_t date;
  entrykind kind;
  // A directory that holds nothing to archive: it is written as an entry of
  // its own, since no file's name implies it.
  bool empty = false;
  dev_t dev = 0;     // the file's identity, whatever name reaches it
  ino_t ino = 0;
};

// One entry to write: its index in the list, the name stored (a directory's
// ending in "/") and the path it is read from.
struct member {
  int32_t index;
  std::string name, path;
};

// What one specification found: the directory entries its pattern matched,
// how many of them were taken, left out by an exclusion, or left out for
// their type (a directory without recursion; a FIFO, socket or device).
struct found {
  int32_t matched = 0, taken = 0, excluded = 0, directories = 0, special = 0;
  bool opened = false;   // its directory could be listed
  int error = 0;         // errno when it could not
};

class filelist {
 public:
  explicit filelist(const selectoptions &o) : o_(o) {}
  filelist(const filelist &) = delete;
  filelist &operator=(const filelist &) = delete;
  ~filelist() { listing_.close(); }

  // Appends, in byte order of their names, the entries of one directory
  // that match the last component of spec. A directory that cannot be
  // opened adds nothing. FIFOs, sockets and devices are never taken
  // (opening a FIFO would hang the run), nor an excluded file. False (with
  // error() set) for a path longer than maxpathleng.
  bool add(const char *spec, found *f = nullptr);
  // Recursion: lists every directory entry's contents behind everything
  // listed so far (so the archive holds a directory's files before those of
  // its subdirectories), a directory reached twice only once, and marks the
  // directories that add nothing as empty. Directories that could not be
  // listed are added to unlistable with the reason. False as for add.
  bool expand(std::vector<std::string> &unlistable);
  // The entries to write, in list order: files, links and empty
  // directories. One file reached twice under one stored name is written
  // once; two files under one stored name end the run (false, error() names
  // both).
  bool members(std::vector<member> &out);

  int32_t count() const { return (int32_t)entries_.size(); }
  const fileentry &operator[](int32_t i) const { return entries_[(size_t)i]; }
  const char *dirpart(int32_t i) const { return pool_.data() + entries_[(size_t)i].dirpart; }
  const char *name(int32_t i) const { return pool_.data() + entries_[(size_t)i].name; }

  // The name under which entry i is stored and shown: without recursion the
  // bare name; with it (or pathnames) the directory part, "/", the name. Never starts with
  // "/" and has no ".", ".." or empty components, so that extracting it
  // cannot write outside the target.
  bool storedname(int32_t i, std::string &out);
  // The path by which entry i is opened: its directory part as written, "/"
  // when that part is not empty, its name.
  bool path(int32_t i, std::string &out);

  // A path never to be selected (the archive being replaced, the temporary
  // archive), under whatever name it is reached.
  void exclude(const char *path);

  const std::string &error() const { return error_; }

 private:
  // A file's identity, independent of the name it is reached by.
  struct fileid {
    dev_t dev;
    ino_t ino;
    bool operator==(const fileid &o) const { return dev == o.dev && ino == o.ino; }
  };
  struct fileidhash {
    size_t operator()(const fileid &f) const { return std::hash<uint64_t>()((uint64_t)f.ino * 31 + (uint64_t)f.dev); }
  };
  // The names of the directory listed last, kept open: a list file names
  // many files of one directory one by one, and each name must be matched
  // against the whole directory (letters match without regard to case).
  struct listing {
    std::string dir;
    int fd = -1;
    std::vector<std::string> names;   // in byte order
    void close();
  };
  // Lists dir into listing_ unless it is listed there already; false (with
  // f->error) when it cannot be opened.
  bool list(const std::string &dir, found *f);
  bool excluded(fileid id) const;
  bool excludedname(const char *dir, const char *name) const;
  bool pathtoolong(const char *dir, const char *name);
  bool makestoredname(const char *dir, const char *name, std::string &out);

  selectoptions o_;
  std::vector<fileentry> entries_;
  std::vector<char> pool_;   // NUL-terminated strings one after the other
  std::vector<fileid> excluded_;
  std::unordered_set<fileid, fileidhash> walked_;   // directories walked under recursion
  listing listing_;
  std::string error_;
};
