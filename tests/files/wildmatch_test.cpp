// Wildcard matching of names against the last component of a file pattern.
#include <gtest/gtest.h>

#include "files/files.h"

TEST(Wildmatch, Cases) {
  struct wildcase {
    const char *pattern, *name;
    int32_t result;
  };
  static const wildcase cases[] = {
      // "?" takes exactly one character, even a literal "?".
      {"B?D", "bad", 1}, {"B?D", "bd", 0}, {"B?D", "badd", 0}, {"a?c", "a?c", 1}, {"?", "", 0},
      // Whole name against whole pattern.
      {"a", "ab", 0}, {"ab", "a", 0}, {"a", "", 0}, {"*x", "abc", 0}, {"abc*", "abc", 1},
      // An empty pattern (an argument ending in a separator) takes everything.
      {"", "anything", 1}, {"", "", 1}, {"*", "", 1}, {"**", "", 1}, {"*?", "", 0},
      // "*" takes dotfiles and dot entries; "." is an ordinary character.
      {"*", ".profile", 1}, {"*", ".", 1}, {"*", "..", 1}, {"??", "..", 1}, {"*.*", "noext", 0},
      {"*.*", ".rc", 1}, {"*.c", "a.c.bak", 0},
      // ASCII letters fold; their neighbours differ by the case bit but are not letters.
      {"*.TXT", "notes.txt", 1}, {"ABCXYZ", "abcxyz", 1}, {"abcxyz", "ABCXYZ", 1},
      {"@", "`", 0}, {"[", "{", 0}, {"]", "}", 0}, {"^", "~", 0}, {"_", "\x7f", 0}, {"1", "!", 0},
      // Either separator matches either, and "?" takes one.
      {"a/b", "a\\b", 1}, {"\\", "/", 1}, {"?", "/", 1}, {"a*c", "a/b\\c", 1}, {"/", "|", 0},
      // Bytes from 0x80 compare exactly: Latin-1 and UTF-8 letters do not fold,
      // nor does a byte that is a letter with the top bit set.
      {"\xe9", "\xe9", 1}, {"\xc9", "\xe9", 0}, {"\xe9", "\xc9", 0}, {"A", "\xc1", 0}, {"a", "\xe1", 0},
      {"?", "\xff", 1}, {"??", "\xc3\xa9", 1}, {"?", "\xc3\xa9", 0}, {"*\xa9", "caf\xc3\xa9", 1},
      {"\x80*\xff", "\x80xyz\xff", 1},
      // Several stars backtrack over every start.
      {"*a*b*c*", "xaybzc", 1}, {"*a*b*c*", "xaybz", 0}, {"*ab", "aab", 1}, {"a*a*a", "aaaa", 1},
      {"a*a*a", "aa", 0}, {"a**b", "ab", 1}, {"?*?", "a", 0}, {"?*?", "ab", 1},
      {"*.txt", "a.txt.txt", 1}, {"*.txt", "a.txt.bak", 0}, {"*a?c*", "xxabdabcxx", 1},
      {"*?*?*?", "ab", 0}, {"*?*?*?", "abc", 1}, {"a*a*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", 0},
  };
  for (const wildcase &c : cases)
    EXPECT_EQ(wildmatch(c.name, c.pattern), c.result) << "pattern \"" << c.pattern << "\" name \"" << c.name << "\"";
}
