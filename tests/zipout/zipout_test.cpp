// UTF-8 names, at most 65535 entries, a sink's first failure.
#include <gtest/gtest.h>

#include "zipout/zipout.h"

namespace {

TEST(Records, Utf8NamesAndAtMost65535Entries) {
  const std::pair<const char *, bool> cases[] = {
      {"plain.txt", false}, {"\xc3\xbc", true}, {"\xe5\x90\x8d", true}, {"\xf0\x9f\x98\x80", true}, {"\xc0\xbc", false},
      {"\xe0\x80\xbc", false}, {"\xed\xa0\x80", false}, {"\xf4\x90\x80\x80", false}, {"\x80", false}, {"\xc3", false},
      {"a\xe5\x90", false}, {"\xf5\x80\x80\x80", false}, {"\xf4\x8f\xbf\xbf", true}, {"\xed\xbf\xbf", false}};
  for (auto &[name, utf8] : cases) EXPECT_EQ(isutf8name(name), utf8) << ::testing::PrintToString(name);
  std::vector<ziprecord> recs(zipmaxentries);
  bytesink out;
  EXPECT_TRUE(writecentraldirectory(out, recs));
  recs.emplace_back();
  EXPECT_FALSE(writecentraldirectory(out, recs));
}

// A sink keeps its first failure and counts on; past 32-bit offsets it fails.
TEST(ArchiveFile, TooLargeIsKept) {
  bytesink s;
  s.setmaxpos(50);
  s.write(std::string(100, 'x').data(), 100);
  s.flush();
  s.write(std::string(100, 'y').data(), 100);
  EXPECT_EQ(std::make_pair(s.error(), s.tell()), std::make_pair(bytesink::toolarge, (int64_t)200));
}

}  // namespace
