// The command line on arbitrary arguments: parseoptions, completename and
// the list-file splitter. Nothing may crash or read past an argument (each
// is an allocation of its exact size), and the results keep their promises.
//
// Input: the arguments after the program name, separated by NUL bytes; the
// same bytes are also read as the contents of an "@" list file.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "files/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t size) {
  std::vector<std::vector<char>> args(1, std::vector<char>{'v', 0});
  for (size_t k = 0, start = 0; k <= size && args.size() < 64; k++) {
    if (k < size && in[k]) continue;
    args.emplace_back(in + start, in + k);
    args.back().push_back(0);
    start = k + 1;
  }
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(a.data());
  runoptions o;
  int32_t archive = parseoptions((int)argv.size(), argv.data(), o);
  if (archive < 0 || archive >= (int32_t)argv.size() || (archive && argv[archive][0] == '-')) abort();
  if (o.encode.strategy < 0 || o.encode.strategy > 4) abort();
  for (char *a : argv) {
    std::string name;
    // The name itself, then ".zip" or ".ZIP" or nothing; never too long.
    if (completename(name, a) && (name.compare(0, std::string(a).size(), a) != 0 || name.size() > (size_t)maxpathleng ||
                                  (name.size() != std::string(a).size() && name.size() != std::string(a).size() + 4)))
      abort();
  }
  size_t total = 0;
  listfilenames((const char *)in, (int32_t)size, [&](const std::string &n) {
    for (char c : n)
      if ((uint8_t)c <= 32) abort();
    total += n.size();
  });
  if (total > size) abort();
  return 0;
}
