// The command line: options into the run settings, the archive name with
// its completed extension, and the names of "@" list files.
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "driver/driver.h"
#include "files/files.h"

// Integer value of an option, read like atol (leading digits count, the rest
// is ignored, no digits give 0), clamped to 32 bits instead of overflowing.
static int32_t optlong(const char *s) {
  long long v = strtoll(s, nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return (int32_t)v;
}

int32_t parseoptions(int argc, char **argv) {
  int32_t archive = 0;
  for (int32_t k = 1; k < argc; k++) {
    const char *a = argv[k];
    if (a[0] != '-') {
      if (!archive) archive = k;
      continue;
    }
    switch (tolower((unsigned char)a[1])) {
      case 'b':
        gpohufthresh = strtod(a + 2, nullptr);
        gpohufnum = 0;
        break;
      case 'n':
        if (tolower((unsigned char)a[2]) == 's' && a[3] == 0) nostore = 1;
        else gpohufnum = optlong(a + 2);
        break;
      case 'q':
        messagestream = nullptr;
        break;
      case 'r':
        if (tolower((unsigned char)a[2]) == 'n') rndinitabs = 1;
        else lookdirmode = 1;
        break;
      case 's': {
        int32_t v = optlong(a + 2);
        strategy = v > 3 ? 4 : (v <= 0 ? 0 : v);
        break;
      }
      case 'v':
        verbosemode = 1;
        break;
      case 'y':
        if (a[2] == 0) overwriteyesmode = 1;
        break;
      case 'z':
        if (tolower((unsigned char)a[2]) == 'l' && strcmp(a + 3, "121") == 0) fixzlib121 = 1;
        break;
      default:
        break;
    }
  }
  return archive;
}

int32_t completename(char *dst, const char *name) {
  size_t n = strlen(name);
  if (n >= (size_t)namebufsiz) return 0;
  memcpy(dst, name, n + 1);

  const char *base = name;
  for (const char *c = name; *c; c++)
    if (*c == '/' || *c == '\\') base = c + 1;
  if (strchr(base, '.')) return 1;

  // The case of the extension follows the last letter of the whole name.
  bool lower = false;
  for (const char *c = name; *c; c++) {
    if (*c >= 'a' && *c <= 'z') lower = true;
    else if (*c >= 'A' && *c <= 'Z') lower = false;
  }
  if (n + 4 >= (size_t)namebufsiz) return 0;
  memcpy(dst + n, lower ? ".zip" : ".ZIP", 5);
  return 1;
}

void listfilenames(char *buf, int32_t n) {
  // Control characters and the blank separate names; bytes from 128 up are
  // name characters, so UTF-8 names in a list work.
  buf[n] = 0;
  int32_t k = 0;
  while (k < n) {
    while (k < n && (uint8_t)buf[k] <= 32) k++;
    if (k >= n) break;
    int32_t start = k;
    while (k < n && (uint8_t)buf[k] > 32) k++;
    buf[k] = 0;
    findfiles(buf + start);
    k++;
  }
}
