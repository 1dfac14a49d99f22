// wildmatch against a matcher simple enough to be obviously right: a table
// over (pattern prefix, name prefix) that says which prefixes match, with
// the same rules. "*" matches any run, "?" any one character, ASCII letters
// match either case, "/" and "\" are the same character, an empty pattern
// matches every name.
//
// Input: the name, a NUL, the pattern (without a NUL the whole input is the
// pattern and the name is empty).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/files.h"

namespace {

// wildmatch retries every start for each "*", so its work grows with the
// name's length to the power of the stars; that is accepted for names from
// one directory and patterns typed by hand. Bounds on the name's length by
// the number of stars keep an execution short (at most about a million
// tries) while every length a name can have is still covered.
struct bound {
  int stars;
  size_t name;
};
constexpr bound bounds[] = {{2, 300}, {4, 64}, {8, 24}};

bool withinbounds(int stars, size_t name) {
  for (const bound &b : bounds)
    if (stars <= b.stars && name <= b.name) return true;
  return false;
}

unsigned char fold(unsigned char c) {
  if (c >= 'a' && c <= 'z') return (unsigned char)(c - 32);
  if (c == '/') return '\\';
  return c;
}

bool reference(const std::string &name, const std::string &pat) {
  if (pat.empty()) return true;
  const size_t n = name.size(), m = pat.size();
  // can[i][j]: the first i pattern characters match the first j name characters.
  std::vector<std::vector<char>> can(m + 1, std::vector<char>(n + 1, 0));
  can[0][0] = 1;
  for (size_t i = 1; i <= m; i++) {
    unsigned char p = (unsigned char)pat[i - 1];
    for (size_t j = 0; j <= n; j++) {
      if (p == '*') {
        can[i][j] = can[i - 1][j] || (j > 0 && can[i][j - 1]);
      } else if (j > 0) {
        bool same = p == '?' || fold(p) == fold((unsigned char)name[j - 1]);
        can[i][j] = same && can[i - 1][j - 1];
      }
    }
  }
  return can[m][n];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t size) {
  std::string all((const char *)in, size);
  size_t z = all.find('\0');
  std::string name = z == std::string::npos ? "" : all.substr(0, z);
  std::string pat = z == std::string::npos ? all : all.substr(z + 1);
  pat = pat.substr(0, pat.find('\0'));

  int stars = 0;
  for (size_t k = 0; k < pat.size(); k++)
    if (pat[k] == '*' && (k == 0 || pat[k - 1] != '*')) stars++;
  if (!withinbounds(stars, name.size())) return 0;

  int32_t got = wildmatch(name.c_str(), pat.c_str()) ? 1 : 0;
  bool want = reference(name, pat);
  if (got != (want ? 1 : 0)) {
    fprintf(stderr, "wildmatch(\"%s\", \"%s\") = %d, expected %d\n", name.c_str(), pat.c_str(), got, want);
    abort();
  }
  return 0;
}
