// Wildcard matching of names against the last component of a file pattern.
#include <gtest/gtest.h>

#include "files/files.h"

struct wildcase {
  const char *pattern;
  const char *name;
  int32_t result;
};

static void checkcases(const wildcase *cases, size_t n) {
  for (size_t k = 0; k < n; k++)
    EXPECT_EQ(wildmatch(cases[k].name, cases[k].pattern), cases[k].result)
        << "pattern \"" << cases[k].pattern << "\" name \"" << cases[k].name << "\"";
}

TEST(Wildmatch, DocumentedExamples) {
  static const wildcase cases[] = {
      {"*.TXT", "notes.txt", 1}, {"B?D", "bad", 1}, {"B?D", "bd", 0},  {"B?D", "badd", 0},
      {"a/b", "a\\b", 1},        {"*x", "abc", 0},  {"abc*", "abc", 1}, {"ab?", "ab", 0},
      {"", "anything", 1},
  };
  checkcases(cases, std::size(cases));
}

TEST(Wildmatch, EmptyPatternAndEmptyName) {
  static const wildcase cases[] = {
      {"", "", 1},   {"", ".", 1},   {"*", "", 1},  {"**", "", 1}, {"?", "", 0},
      {"a", "", 0},  {"*?", "", 0},  {"a", "a", 1}, {"a", "ab", 0}, {"ab", "a", 0},
  };
  checkcases(cases, std::size(cases));
}

TEST(Wildmatch, StarTakesDotfilesAndDotEntries) {
  static const wildcase cases[] = {
      {"*", ".profile", 1}, {"*", ".", 1},      {"*", "..", 1},     {"*.*", "noext", 0},
      {"*.*", ".rc", 1},    {".*", "..", 1},    {"?", ".", 1},      {"??", "..", 1},
      {"*rc", ".bashrc", 1}, {"*.c", "a.c.bak", 0},
  };
  checkcases(cases, std::size(cases));
}

TEST(Wildmatch, CaseFoldsAsciiLettersOnly) {
  static const wildcase cases[] = {
      {"ABCXYZ", "abcxyz", 1}, {"abcxyz", "ABCXYZ", 1}, {"MiXeD", "mIxEd", 1},
      // Neighbours of the letter ranges differ by the case bit but are not letters.
      {"@", "`", 0}, {"[", "{", 0}, {"]", "}", 0}, {"^", "~", 0}, {"_", "\x7f", 0},
      {"1", "1", 1}, {"1", "!", 0},
  };
  checkcases(cases, std::size(cases));
}

TEST(Wildmatch, SeparatorsAreOneCharacter) {
  static const wildcase cases[] = {
      {"/", "\\", 1}, {"\\", "/", 1}, {"\\", "\\", 1}, {"a\\b\\c", "a/b/c", 1},
      {"?", "/", 1},  {"a*c", "a/b\\c", 1}, {"/", "|", 0},
  };
  checkcases(cases, std::size(cases));
}

TEST(Wildmatch, HighBytesCompareUnfolded) {
  static const wildcase cases[] = {
      {"\xe9", "\xe9", 1},          // the same byte
      {"\xc9", "\xe9", 0},          // Latin-1 E acute in the other case: not an ASCII letter
      {"\xe9", "\xc9", 0},
      {"\xc1", "\xe1", 0},
      {"?", "\xff", 1},             // one wildcard, one byte
      {"??", "\xc3\xa9", 1},        // UTF-8: two bytes, two characters here
      {"?", "\xc3\xa9", 0},
      {"caf*", "caf\xc3\xa9", 1},
      {"*\xa9", "caf\xc3\xa9", 1},
      {"CAF\xc3\x89", "caf\xc3\xa9", 0},
      {"\x80*\xff", "\x80xyz\xff", 1},
      {"A", "\xc1", 0},             // 0xC1 is 'A' with the top bit set
      {"a", "\xe1", 0},
  };
  checkcases(cases, std::size(cases));
}

TEST(Wildmatch, SeveralStarsBacktrack) {
  static const wildcase cases[] = {
      {"*a*b*c*", "xaybzc", 1}, {"*a*b*c*", "xaybz", 0},   {"*ab", "aab", 1},
      {"a*a*a", "aaaa", 1},     {"a*a*a", "aa", 0},        {"a**b", "ab", 1},
      {"*?", "x", 1},           {"?*?", "a", 0},           {"?*?", "ab", 1},
      {"*.txt", "a.txt.txt", 1}, {"*.txt", "a.txt.bak", 0}, {"*a?c*", "xxabdabcxx", 1},
      {"a*a*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", 0},
      {"*?*?*?", "ab", 0},       {"*?*?*?", "abc", 1},
  };
  checkcases(cases, std::size(cases));
}

TEST(Wildmatch, QuestionNeedsExactlyOneCharacter) {
  static const wildcase cases[] = {
      {"???", "abc", 1}, {"???", "ab", 0}, {"???", "abcd", 0}, {"a?c", "a?c", 1}, {"a?c", "abbc", 0},
  };
  checkcases(cases, std::size(cases));
}

TEST(Wildmatch, ArgumentsAreNotChanged) {
  char name[] = "Notes.TXT";
  char pattern[] = "*.t?t";
  EXPECT_EQ(wildmatch(name, pattern), 1);
  EXPECT_STREQ(name, "Notes.TXT");
  EXPECT_STREQ(pattern, "*.t?t");
}
