// Input file selection: wildcard matching, the file list with its name pool,
// directory scanning, and the names of an entry (the one stored in the
// archive and the one it is opened by).
//
// The driver adds every file specification to the list, and during its
// entry loop (with recursion) every directory entry's contents. Entries
// refer to the pool by offsets, since the pool moves when it grows. Nothing
// here prints or ends the process: an operation that fails returns false
// and leaves the whole message in error().
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

// 1 when name matches pattern: "*" any run, "?" any one character, letters
// without regard to case, "/" and "\" equal. An empty pattern matches every
// name.
bool wildmatch(const char *name, const char *pattern);

constexpr int32_t maxpathleng = 259;   // longest path or stored name, without its NUL
// Sizes from here on do not fit the 32-bit size fields of the archive.
constexpr int64_t toolarge = (int64_t)1 << 31;

// One selected file or directory.
struct fileentry {
  int32_t dirpart;   // pool offset of the directory part (may be empty), shared by one add
  int32_t name;      // pool offset of the entry's own name
  int64_t size;      // bytes when listed (below 2 GiB)
  uint16_t time;     // modification time, MS-DOS form
  uint16_t date;     // modification date, MS-DOS form
  uint8_t attr;      // 0x20 file, 0x30 directory (bit 0x10 marks a directory)
};

class filelist {
 public:
  explicit filelist(bool recurse) : recurse_(recurse) {}

  // Appends the entries of one directory that match the last component of
  // spec. A directory that cannot be opened adds nothing. FIFOs, sockets and
  // devices are never taken (opening a FIFO would hang the run), nor an
  // excluded file. False (with error() set) for a file of 2 GiB or more, or a
  // path longer than maxpathleng.
  bool add(const char *spec);

  int32_t count() const { return (int32_t)entries_.size(); }
  const fileentry &operator[](int32_t i) const { return entries_[(size_t)i]; }
  const char *dirpart(int32_t i) const { return pool_.data() + entries_[(size_t)i].dirpart; }
  const char *name(int32_t i) const { return pool_.data() + entries_[(size_t)i].name; }

  // The name under which entry i is stored and shown: without recursion the
  // bare name; with it the directory part, "/", the name. Never starts with
  // "/" and has no ".", ".." or empty components, so that extracting it
  // cannot write outside the target.
  bool storedname(int32_t i, std::string &out);
  // The path by which entry i is opened: its directory part as written, "/"
  // when that part is not empty, its name.
  bool path(int32_t i, std::string &out);

  // A path never to be selected (the archive being replaced, the temporary
  // archive), under whatever name it is reached.
  void exclude(const char *path);
  // Recursion: true when the directory at path has not been walked in this
  // run (and marks it walked), false when it has (a second name for it, or
  // a symbolic link back to a directory above it).
  bool walk(const char *path);

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
  bool excluded(fileid id) const;
  bool pathtoolong(const char *dir, const char *name);
  bool appendcomponents(std::string &out, const char *s, int32_t i);

  bool recurse_;
  std::vector<fileentry> entries_;
  std::vector<char> pool_;   // NUL-terminated strings one after the other
  std::vector<fileid> excluded_;
  std::unordered_set<fileid, fileidhash> walked_;   // directories walked under recursion
  std::string error_;
};
