// Wildcard matching of directory entry names against the last component of a
// file pattern given on the command line.
#include <cstring>

#include "files/files.h"

// Folds the two differences that must not matter: ASCII letter case and the
// choice of path separator. Works on the byte as unsigned, so that bytes of
// 0x80 and above (UTF-8, Latin-1 names) are never mistaken for letters and
// compare exactly as they are.
static inline uint8_t wildfold(uint8_t c) {
  if (c >= 'a' && c <= 'z') return (uint8_t)(c - 'a' + 'A');
  if (c == '/') return '\\';
  return c;
}

// Matches the whole of name n against the whole of pattern p. A "*" tries
// every later start in the name for the rest of the pattern; the recursion is
// only as deep as the pattern has stars.
static int32_t wildrest(const uint8_t *n, const uint8_t *p) {
  while (*p) {
    if (*p == '*') {
      // A run of stars matches what one star matches; a star that ends the
      // pattern matches whatever is left of the name.
      while (*p == '*') p++;
      if (!*p) return 1;
      for (const uint8_t *k = n; *k; k++)
        if (wildrest(k, p)) return 1;
      // Every start, the current one included, has failed; or the name is
      // used up and the rest of the pattern still wants a character.
      return 0;
    }
    if (!*n) return 0;
    if (*p != '?' && wildfold(*p) != wildfold(*n)) return 0;
    p++;
    n++;
  }
  return *n == 0;
}

bool wildmatch(const char *i, const char *j) {
  const uint8_t *p = (const uint8_t *)j;
  if (!*p) return 1;   // an empty pattern (an argument ending in a separator) takes every entry
  return wildrest((const uint8_t *)i, p);
}

bool haswildcard(const char *spec) {
  const char *last = spec;
  for (const char *c = spec; *c; c++)
    if (*c == '/' || *c == '\\') last = c + 1;
  return strpbrk(last, "*?") != nullptr;
}
