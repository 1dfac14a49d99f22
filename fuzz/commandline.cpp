// The command line on arbitrary arguments: parseoptions, completename for
// every argument and listfilenames on the raw bytes, in an empty directory.
// Nothing may crash or touch memory outside its buffers (every argument is
// a separate allocation of its exact size, so the sanitizer sees any read
// past its end), and the results must keep their promises.
//
// Input: the arguments after the program name, separated by NUL bytes; the
// same bytes are also read as the contents of an "@" list file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "driver/driver.h"
#include "files/files.h"

namespace {

constexpr size_t maxargs = 64;

char workdir[] = "/tmp/vorpakfuzz.XXXXXX";

void removeworkdir() { rmdir(workdir); }

[[noreturn]] void fail(const char *what, const std::string &arg) {
  fprintf(stderr, "commandline: %s: \"%s\"\n", what, arg.c_str());
  abort();
}

bool isseparator(char c) { return c == '/' || c == '\\'; }

// completename's promise for one argument, checked from the name alone.
void checkcompletename(const std::string &a) {
  // Exactly the buffer's size on the heap: a byte written past it is caught.
  std::vector<char> dst(namebufsiz, '\x55');
  int32_t r = completename(dst.data(), a.c_str());

  size_t base = 0;
  for (size_t k = 0; k < a.size(); k++)
    if (isseparator(a[k])) base = k + 1;
  bool hasdot = a.find('.', base) != std::string::npos;
  char lastletter = 0;
  for (char c : a)
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) lastletter = c;
  std::string want = a;
  if (!hasdot) want += (lastletter >= 'a' && lastletter <= 'z') ? ".zip" : ".ZIP";

  if (r == 0) {
    if (want.size() < (size_t)namebufsiz) fail("completename refused a name that fits", a);
    return;
  }
  if (r != 1) fail("completename returned neither 0 nor 1", a);
  const void *end = memchr(dst.data(), 0, dst.size());
  if (!end) fail("completed name not terminated within the buffer", a);
  std::string got(dst.data());
  if (got != want) fail(("completed name is \"" + got + "\" for").c_str(), a);
}

// A list whose names could leave the empty directory (an absolute path, a
// ".." component) would list the machine's real files, and a directory part
// too long for the name buffers rightly ends the run with an error; such
// inputs are not list-tested.
bool staysinside(const uint8_t *in, size_t n) {
  size_t k = 0;
  while (k < n) {
    while (k < n && in[k] <= 32) k++;
    if (k >= n) break;
    size_t s = k;
    while (k < n && in[k] > 32) k++;
    std::string name((const char *)in + s, k - s);
    if (isseparator(name[0])) return false;
    size_t lastsep = 0;
    size_t c = 0;
    while (c <= name.size()) {
      size_t e = c;
      while (e < name.size() && !isseparator(name[e])) e++;
      if (name.substr(c, e - c) == "..") return false;
      if (e < name.size()) lastsep = e;
      c = e + 1;
    }
    if (lastsep > (size_t)maxpathleng) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (!mkdtemp(workdir) || chdir(workdir) != 0) abort();
  atexit(removeworkdir);   // nothing is ever created in it
  messagestream = nullptr;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t size) {
  std::vector<std::string> args{"vorpak"};
  size_t k = 0;
  while (k <= size && args.size() <= maxargs) {
    const void *z = memchr(in + k, 0, size - k);
    size_t e = z ? (size_t)((const uint8_t *)z - in) : size;
    args.emplace_back((const char *)in + k, e - k);
    k = e + 1;
  }

  std::vector<char *> argv;
  for (auto &a : args) {
    char *p = (char *)malloc(a.size() + 1);
    memcpy(p, a.c_str(), a.size() + 1);
    argv.push_back(p);
  }
  const int argc = (int)args.size();
  argv.push_back(nullptr);

  resetsettings();
  messagestream = nullptr;
  int32_t ai = parseoptions(argc, argv.data());
  messagestream = nullptr;
  if (strategy < 0 || strategy > 4) fail("strategy out of range", std::to_string(strategy));
  for (int32_t flag : {lookdirmode, verbosemode, overwriteyesmode, nostore, fixzlib121, rndinitabs})
    if (flag != 0 && flag != 1) fail("a switch is neither 0 nor 1", std::to_string(flag));
  // The archive name is the first argument that is not an option.
  int32_t first = 0;
  for (int32_t a = 1; a < argc && !first; a++)
    if (args[a][0] != '-') first = a;
  if (ai != first) fail("archive name index", std::to_string(ai));

  for (int32_t a = 1; a < argc; a++) checkcompletename(args[a]);
  for (char *p : argv) free(p);

  if (staysinside(in, size)) {
    findfilesinit();
    // listfilenames terminates the last name at buf[n]: room for n + 1.
    char *buf = (char *)malloc(size + 1);
    memcpy(buf, in, size);
    listfilenames(buf, (int32_t)size);
    free(buf);
    // The current directory is empty; "." and ".." are never selected.
    if (numfiles != 0) fail("a file was selected in an empty directory", std::to_string(numfiles));
  }
  return 0;
}
