// The file table zfil, its name pool fnambuf, directory scanning and the
// names of an entry: the one stored in the archive and the one opened.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <cassert>
#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "driver/driver.h"
#include "files/files.h"

zfiltyp *zfil = nullptr;
int32_t numfiles = 0;
int32_t allocfiles = 0;
char *fnambuf = nullptr;
int32_t allocfnambuf = 0;
int32_t fnamptr = 0;

// A file's identity, independent of the name it is reached by.
struct fileid {
  dev_t dev;
  ino_t ino;
  uint8_t used;   // walked set: slot taken
};

// Files never to be selected: the archive being replaced and the temporary
// archive, so a few slots are plenty.
constexpr int32_t maxexcluded = 4;
static fileid excluded[maxexcluded];
static int32_t numexcluded = 0;

// Directories already walked under recursion: an open-addressed hash table
// whose size is a power of two, doubled before it is half full, so that a
// tree of many directories costs constant time per lookup.
constexpr int32_t walkedinit = 64;
static fileid *walked = nullptr;
static int32_t allocwalked = 0;
static int32_t numwalked = 0;

[[noreturn]] static void mallocfailed() { fatal("Error: malloc failed\n"); }

static uint32_t walkedslot(dev_t dev, ino_t ino) {
  uint64_t h = ((uint64_t)ino ^ ((uint64_t)dev << 32) ^ ((uint64_t)dev >> 32)) * 0x9E3779B97F4A7C15ull;
  return (uint32_t)(h >> 32) & (uint32_t)(allocwalked - 1);
}

// Slot holding (dev, ino), or the empty slot where it belongs.
static fileid *walkedfind(dev_t dev, ino_t ino) {
  uint32_t k = walkedslot(dev, ino);
  while (walked[k].used && (walked[k].dev != dev || walked[k].ino != ino))
    k = (k + 1) & (uint32_t)(allocwalked - 1);
  return &walked[k];
}

static int32_t walkedhas(dev_t dev, ino_t ino) {
  return allocwalked && walkedfind(dev, ino)->used;
}

// Adds (dev, ino); returns 0 when it was there already.
static int32_t walkedadd(dev_t dev, ino_t ino) {
  if ((numwalked + 1) * 2 > allocwalked) {
    fileid *old = walked;
    int32_t oldalloc = allocwalked;
    if (allocwalked > (1 << 29)) mallocfailed();
    int32_t newalloc = allocwalked ? allocwalked * 2 : walkedinit;
    walked = (fileid *)calloc((size_t)newalloc, sizeof(fileid));
    if (!walked) mallocfailed();
    allocwalked = newalloc;
    for (int32_t k = 0; k < oldalloc; k++)
      if (old[k].used) *walkedfind(old[k].dev, old[k].ino) = old[k];
    free(old);
  }
  fileid *f = walkedfind(dev, ino);
  if (f->used) return 0;
  f->dev = dev;
  f->ino = ino;
  f->used = 1;
  numwalked++;
  return 1;
}

static int32_t isexcluded(dev_t dev, ino_t ino) {
  for (int32_t k = 0; k < numexcluded; k++)
    if (excluded[k].dev == dev && excluded[k].ino == ino) return 1;
  return 0;
}

void excludefile(const char *path) {
  struct stat st;
  // A path that does not exist cannot be selected by mistake.
  if (stat(path, &st) != 0) return;
  if (isexcluded(st.st_dev, st.st_ino)) return;
  assert(numexcluded < maxexcluded);
  if (numexcluded >= maxexcluded) return;
  excluded[numexcluded].dev = st.st_dev;
  excluded[numexcluded].ino = st.st_ino;
  numexcluded++;
}

int32_t walkdir(const char *path) {
  struct stat st;
  // Nothing to mark; opening it will fail in the same way and add nothing.
  if (stat(path, &st) != 0) return 1;
  return walkedadd(st.st_dev, st.st_ino);
}

void findfilesinit() {
  free(zfil);
  free(fnambuf);
  allocfiles = zfilinit;
  numfiles = 0;
  zfil = (zfiltyp *)malloc((size_t)allocfiles * sizeof(zfiltyp));
  fnamptr = 0;
  allocfnambuf = fnambufinit;
  fnambuf = (char *)malloc((size_t)allocfnambuf);
  if (!zfil || !fnambuf) mallocfailed();
  free(walked);
  walked = nullptr;
  allocwalked = numwalked = 0;
}

// Makes room for n more pool bytes. The pool may move: callers keep offsets.
static void growpool(int32_t n) {
  int64_t need = (int64_t)fnamptr + n;
  if (need <= allocfnambuf) return;
  int64_t size = 2 * (int64_t)allocfnambuf;
  if (size < need) size = need;
  if (size > INT32_MAX) size = INT32_MAX;
  if (need > size) mallocfailed();
  char *p = (char *)realloc(fnambuf, (size_t)size);
  if (!p) mallocfailed();
  fnambuf = p;
  allocfnambuf = (int32_t)size;
}

// Makes room for one more record. The table may move.
static void growtable() {
  if (numfiles < allocfiles) return;
  if (allocfiles > INT32_MAX / 2) mallocfailed();
  zfiltyp *p = (zfiltyp *)realloc(zfil, (size_t)allocfiles * 2 * sizeof(zfiltyp));
  if (!p) mallocfailed();
  zfil = p;
  allocfiles *= 2;
}

// The path of an entry: its directory part, a "/" unless that part is empty
// or already ends in one (the root directory "/"), its name.
static int32_t pathsep(const char *dir) {
  size_t l = strlen(dir);
  return l > 0 && dir[l - 1] != '/';
}

static size_t pathleng(const char *dir, const char *name) {
  return strlen(dir) + (size_t)pathsep(dir) + strlen(name);
}

// Writes the path into dst, which has room for pathleng + 1 bytes.
static void joinpath(char *dst, const char *dir, const char *name) {
  size_t dl = strlen(dir), nl = strlen(name);
  memcpy(dst, dir, dl);
  if (pathsep(dir)) dst[dl++] = '/';
  memcpy(dst + dl, name, nl + 1);
}

// The path does not fit the name buffers; it is named in full, so it is
// joined on the heap rather than in any of them.
[[noreturn]] static void pathtoolong(const char *dir, const char *name) {
  char *p = (char *)malloc(pathleng(dir, name) + 1);
  if (!p) mallocfailed();
  joinpath(p, dir, name);
  fatal("Error: %s: path too long\n", p);
}

// MS-DOS date and time of a modification time, in local time. The format
// counts years from 1980 in 7 bits, so it holds 1980-01-01 00:00:00 to
// 2107-12-31 23:59:58 (seconds are halved); a time outside that range is
// stored as the nearer end rather than wrapped into another century.
static void dostime(time_t t, int16_t *tim, int16_t *dat) {
  struct tm *lt = localtime(&t);
  int32_t d, h;
  if (!lt || lt->tm_year < 80) {
    d = 1 + 0 * 512 + 1 * 32;   // 1 January 1980
    h = 0;
  } else if (lt->tm_year > 207) {
    d = 31 + 127 * 512 + 12 * 32;   // 31 December 2107
    h = 23 * 2048 + 59 * 32 + 29;   // 23:59:58
  } else {
    d = lt->tm_mday + (lt->tm_year - 80) * 512 + (lt->tm_mon + 1) * 32;
    h = lt->tm_hour * 2048 + lt->tm_min * 32 + lt->tm_sec / 2;
  }
  *dat = (int16_t)(uint16_t)d;
  *tim = (int16_t)(uint16_t)h;
}

static int32_t isdotname(const char *s) {
  return s[0] == '.' && (s[1] == 0 || (s[1] == '.' && s[2] == 0));
}

// Sizes from here on do not fit the 32-bit size fields of the archive.
constexpr int64_t toolarge = (int64_t)1 << 31;

void findfiles(const char *fspec) {
  // The pattern is read after the pool has grown, so it must not lie in the
  // pool.
  assert(!fnambuf || fspec < fnambuf || fspec >= fnambuf + allocfnambuf);

  // Directory part: everything before the last separator. A separator that
  // is the first character makes it the root directory "/".
  int32_t lastsep = -1;
  for (int32_t k = 0; fspec[k]; k++)
    if (fspec[k] == '/' || fspec[k] == '\\') lastsep = k;
  int32_t pathlen = lastsep > 0 ? lastsep : lastsep == 0 ? 1 : 0;
  const char *fptr = fspec + lastsep + 1;   // the pattern

  growpool(pathlen + 1);
  int32_t fspecptr = fnamptr;
  for (int32_t k = 0; k < pathlen; k++) fnambuf[fnamptr + k] = fspec[k] == '\\' ? '/' : fspec[k];
  fnambuf[fnamptr + pathlen] = 0;
  fnamptr += pathlen + 1;
  if (pathlen > maxpathleng) fatal("Error: %s: path too long\n", fnambuf + fspecptr);

  // A relative directory part is opened below the current directory; an
  // absolute one as written.
  char tbuf[tbufsiz];
  if (fnambuf[fspecptr] == '/') {
    memcpy(tbuf, fnambuf + fspecptr, (size_t)pathlen + 1);
  } else {
    tbuf[0] = '.';
    tbuf[1] = '/';
    memcpy(tbuf + 2, fnambuf + fspecptr, (size_t)pathlen + 1);
  }
  DIR *dir = opendir(tbuf);
  if (!dir) return;
  int dfd = dirfd(dir);

  // Under recursion the directory being listed counts as walked, so that a
  // link inside it back to it (or to a directory above) is not entered again.
  if (lookdirmode) {
    struct stat st;
    if (fstat(dfd, &st) == 0) walkedadd(st.st_dev, st.st_ino);
  }

  struct dirent *de;
  while ((de = readdir(dir)) != nullptr) {
    const char *name = de->d_name;
    if (!wildmatch(name, fptr)) continue;

    // Status through the open directory, following symbolic links. An entry
    // whose status cannot be read (a dangling link) is kept as an empty file
    // of time 0: opening it fails later with a message naming it.
    struct stat st;
    uint8_t attr = 0x20;
    int64_t size = 0;
    time_t mtime = 0;
    if (fstatat(dfd, name, &st, 0) == 0) {
      if (isexcluded(st.st_dev, st.st_ino)) continue;
      if (S_ISDIR(st.st_mode)) {
        if (!lookdirmode || isdotname(name)) continue;
        if (walkedhas(st.st_dev, st.st_ino)) continue;
        attr = 0x30;
      } else if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || S_ISCHR(st.st_mode) ||
                 S_ISBLK(st.st_mode)) {
        // Reading these would hang (a FIFO without writer) or never end.
        continue;
      }
      size = st.st_size;
      mtime = st.st_mtime;
    }

    const char *dpart = fnambuf + fspecptr;
    if (pathleng(dpart, name) > (size_t)maxpathleng) pathtoolong(dpart, name);
    if (size >= toolarge) {
      joinpath(tbuf, dpart, name);
      fatal("Error: %s is too large (2 GiB or more)\n", tbuf);
    }

    growtable();
    int32_t namelen = (int32_t)strlen(name);
    growpool(namelen + 1);
    zfiltyp *z = &zfil[numfiles];
    memset(z, 0, sizeof *z);
    z->filspec = fspecptr;
    z->filnam = fnamptr;
    z->leng = (int32_t)size;
    z->attr = attr;
    dostime(mtime, &z->tim, &z->dat);
    memcpy(fnambuf + fnamptr, name, (size_t)namelen + 1);
    fnamptr += namelen + 1;
    numfiles++;
  }
  closedir(dir);
}

// Appends the components of s to the stored name in dst (length *n), joined
// by "/". Both separators divide components, since an archive made under
// MS-DOS conventions has its "\" read as a separator by extractors. Empty,
// "." and ".." components are left out: a stored name must not climb out of
// the directory it is extracted into.
static void appendcomponents(char *dst, int32_t *n, const char *s, int32_t i) {
  while (*s) {
    while (*s == '/' || *s == '\\') s++;
    const char *e = s;
    while (*e && *e != '/' && *e != '\\') e++;
    int32_t len = (int32_t)(e - s);
    bool dots = (len == 1 && s[0] == '.') || (len == 2 && s[0] == '.' && s[1] == '.');
    if (len > 0 && !dots) {
      int32_t sep = *n > 0 ? 1 : 0;
      if (*n + sep + len > maxpathleng)
        pathtoolong(fnambuf + zfil[i].filspec, fnambuf + zfil[i].filnam);
      if (sep) dst[(*n)++] = '/';
      memcpy(dst + *n, s, (size_t)len);
      *n += len;
    }
    s = e;
  }
}

void genfilnam(char *dafilnam, int32_t i) {
  assert(i >= 0 && i < numfiles);
  int32_t n = 0;
  if (lookdirmode) appendcomponents(dafilnam, &n, fnambuf + zfil[i].filspec, i);
  appendcomponents(dafilnam, &n, fnambuf + zfil[i].filnam, i);
  // Only a name made of separators and dots leaves nothing; an archive entry
  // still needs a name.
  if (n == 0) dafilnam[n++] = '_';
  dafilnam[n] = 0;
}

void genfilpath(char *dafilpath, int32_t i) {
  assert(i >= 0 && i < numfiles);
  const char *dpart = fnambuf + zfil[i].filspec;
  const char *name = fnambuf + zfil[i].filnam;
  if (pathleng(dpart, name) > (size_t)maxpathleng) pathtoolong(dpart, name);
  joinpath(dafilpath, dpart, name);
}

void freadall(void *buf, int32_t n, FILE *fil, int32_t i) {
  if (n <= 0) return;
  if (fread(buf, 1, (size_t)n, fil) == (size_t)n) return;
  char path[maxpathleng + 1];
  genfilpath(path, i);
  fatal("Error: %s could not be read\n", path);
}
