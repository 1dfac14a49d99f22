// The command line: options into the run options, and the archive name with
// its completed extension.
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver/driver.h"
#include "files/files.h"

namespace {

// Integer value of an option, read like atol (leading digits count, the rest
// is ignored, no digits give 0), clamped to 32 bits instead of overflowing.
int32_t optlong(const char *s) {
  long long v = strtoll(s, nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return (int32_t)v;
}

}  // namespace

int32_t parseoptions(int argc, char **argv, runoptions &o) {
  int32_t archive = 0;
  for (int32_t k = 1; k < argc; k++) {
    const char *a = argv[k];
    if (a[0] != '-') {
      if (!archive) archive = k;
      continue;
    }
    switch (tolower((unsigned char)a[1])) {
      case 'b':
        o.encode.splitthreshold = strtod(a + 2, nullptr);
        o.encode.blockcount = 0;
        o.layoutgiven = true;
        break;
      case 'n':
        if (tolower((unsigned char)a[2]) == 's' && a[3] == 0) {
          o.encode.neverstore = true;
        } else {
          o.encode.blockcount = optlong(a + 2);
          o.layoutgiven = true;
        }
        break;
      case 'j': {
        int32_t v = optlong(a + 2);
        o.threads = v > maxthreads ? maxthreads : v;
        break;
      }
      case 'q':
        o.quiet = true;
        break;
      case 'x': {
        int32_t v = optlong(a + 2);
        o.effort = a[2] == 0 ? defaulteffort : v < 0 ? 0 : v > maxeffort ? maxeffort : v;
        break;
      }
      case 'r':
        if (tolower((unsigned char)a[2]) == 'n') o.encode.randomtables = true;
        else o.recurse = true;
        break;
      case 's': {
        int32_t v = optlong(a + 2);
        o.encode.strategy = v > 3 ? strategystored : (v <= 0 ? 0 : v);
        break;
      }
      case 'v':
        o.verbose = true;
        break;
      case 'y':
        if (a[2] == 0) o.overwriteyes = true;
        break;
      case 'z':
        if (tolower((unsigned char)a[2]) == 'l' && strcmp(a + 3, "121") == 0) o.encode.onecodeforempty = true;
        else if (a[2] == 0) o.rezip = true;
        else if (tolower((unsigned char)a[2]) == 's' && a[3] == 0) o.rezip = o.rezipstored = true;
        break;
      default:
        break;
    }
  }
  return archive;
}

bool completename(std::string &out, const char *name) {
  out = name;
  if (out.size() > (size_t)maxpathleng) return false;
  const char *base = name;
  for (const char *c = name; *c; c++)
    if (*c == '/' || *c == '\\') base = c + 1;
  if (strchr(base, '.')) return true;

  // The case of the extension follows the last letter of the whole name.
  bool lower = false;
  for (const char *c = name; *c; c++) {
    if (*c >= 'a' && *c <= 'z') lower = true;
    else if (*c >= 'A' && *c <= 'Z') lower = false;
  }
  if (out.size() + 4 > (size_t)maxpathleng) return false;
  out += lower ? ".zip" : ".ZIP";
  return true;
}

bool addnames(filelist &files, const std::string &arg) {
  if (arg[0] != '@') return files.add(arg.c_str());
  // One read of at most listfilemax bytes; a list file that cannot be
  // opened adds nothing.
  int fd = open(arg.c_str() + 1, O_RDONLY);
  if (fd < 0) return true;
  std::vector<char> buf(listfilemax);
  ssize_t n = read(fd, buf.data(), buf.size());
  close(fd);
  bool ok = true;
  if (n > 0) listfilenames(buf.data(), (int32_t)n, [&](const std::string &name) { ok = ok && files.add(name.c_str()); });
  return ok;
}
