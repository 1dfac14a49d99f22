// The command line: options into the run options, and the archive name with
// its completed extension.
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
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

std::vector<std::string> parseoptions(int argc, char **argv, runoptions &o, std::vector<std::string> &warnings,
                                      std::string &error) {
  std::vector<std::string> names;
  bool optionsend = false;
  for (int32_t k = 1; k < argc; k++) {
    const char *a = argv[k];
    if (optionsend || a[0] != '-' || a[1] == 0) {
      names.push_back(a);
      continue;
    }
    bool known = true;
    if (a[1] == '-') {
      // Long options, as written (no case folding, no abbreviations).
      if (a[2] == 0) optionsend = true;
      else if (strncmp(a, "--exclude=", 10) == 0 && a[10]) o.select.excludes.push_back(a + 10);
      else if (strcmp(a, "--exclude") == 0 && k + 1 < argc) o.select.excludes.push_back(argv[++k]);
      else if (strncmp(a, "--exclude", 9) == 0 && (a[9] == 0 || a[9] == '=')) warnings.push_back("Warning: --exclude needs a pattern, ignored\n");
      else if (strcmp(a, "--symlinks") == 0) o.select.symlinks = true;
      else if (strcmp(a, "--gzip") == 0) o.gzip = true;
      else if (strcmp(a, "--no-name") == 0) o.gzipname = false;
      else if (strcmp(a, "--dos-attributes") == 0) o.records = recordstyle::msdos;
      else known = strcmp(a, "--help") == 0 || strcmp(a, "--version") == 0;   // answered before the options are read
      if (!known) warnings.push_back(std::string("Warning: option ") + a + " not known, ignored\n");
      continue;
    }
    switch (tolower((unsigned char)a[1])) {
      case '@':
        known = a[2] == 0;
        if (known) names.push_back("-@");
        break;
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
      case 'g':
        known = a[2] == 0;
        if (known) o.gzip = true;
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
        // Other archivers' "-x PATTERN" leaves files out; here the pattern
        // would name the archive or select the very files meant to be left
        // out, so the run stops before anything is written.
        if (a[2] == 0 && k + 1 < argc && argv[k + 1][0] != '-' && haswildcard(argv[k + 1]) && error.empty())
          error = std::string("Error: -x ") + argv[k + 1] + ": -x is extra effort; --exclude=" + argv[k + 1] +
                  " leaves files out, -x3 " + argv[k + 1] + " archives them with extra effort\n";
        break;
      }
      case 'r':
        if (tolower((unsigned char)a[2]) == 'n') o.encode.randomtables = true;
        else o.select.recurse = true;
        break;
      case 's': {
        int32_t v = optlong(a + 2);
        o.encode.strategy = v > 3 ? strategystored : (v <= 0 ? 0 : v);
        break;
      }
      case 'u':
        known = a[2] == 0;
        if (known) o.update = true;
        break;
      case 'v':
        o.verbose = true;
        break;
      case 'y':
        known = a[2] == 0;
        if (known) o.overwriteyes = true;
        break;
      case 'z':
        if (tolower((unsigned char)a[2]) == 'l' && strcmp(a + 3, "121") == 0) o.encode.onecodeforempty = true;
        else if (a[2] == 0) o.rezip = true;
        else if (tolower((unsigned char)a[2]) == 's' && a[3] == 0) o.rezip = o.rezipstored = true;
        else known = false;
        break;
      default:
        known = false;
        break;
    }
    if (!known) warnings.push_back(std::string("Warning: option ") + a + " not known, ignored\n");
  }
  return names;
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

bool readall(int fd, std::string &out) {
  out.clear();
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    out.append(buf, (size_t)n);
  }
}
