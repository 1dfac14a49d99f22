// Names of an "@" list file: how the bytes are split into file
// patterns, each of which selects the files of that name.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console/console.h"
#include "driver/driver.h"
#include "files/files.h"
#include "testsupport.h"

namespace {

class ListFile : public ::testing::Test {
 protected:
  std::string dir;
  char oldcwd[4096] = {};

  void SetUp() override {
    resetsettings();
    messagestream = stdout;
    dir = maketempdir();
    for (const char *n : {"a", "b", "c", "d", "long name part", "x.txt"}) writefile(dir + "/" + n, n);
    writefile(dir + "/\xc3\xa9t\xc3\xa9.txt", "summer");   // "été.txt"
    ASSERT_NE(getcwd(oldcwd, sizeof oldcwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
  }
  void TearDown() override {
    if (chdir(oldcwd) != 0) ADD_FAILURE() << "cannot return to " << oldcwd;
    removetree(dir);
  }

  // Splits data as the list file's contents; the names selected, in order.
  // The byte behind the data is not a separator, so a name running to the
  // end must end there by itself.
  std::vector<std::string> selected(const std::string &data) {
    std::vector<char> buf(data.begin(), data.end());
    buf.push_back('Z');
    findfilesinit();
    listfilenames(buf.data(), (int32_t)data.size());
    std::vector<std::string> names;
    for (int32_t k = 0; k < numfiles; k++) names.push_back(fnambuf + zfil[k].filnam);
    return names;
  }
};

using names = std::vector<std::string>;

TEST_F(ListFile, BlankSeparates) { EXPECT_EQ(selected("a b c"), (names{"a", "b", "c"})); }

TEST_F(ListFile, CarriageReturnLineFeedSeparates) {
  EXPECT_EQ(selected("a\r\nb\r\nc\r\n"), (names{"a", "b", "c"}));
}

TEST_F(ListFile, TabSeparates) { EXPECT_EQ(selected("a\tb"), (names{"a", "b"})); }

TEST_F(ListFile, ThreeKindsOfSeparatorInOneList) {
  EXPECT_EQ(selected("a b\r\nc\td"), (names{"a", "b", "c", "d"}));
}

TEST_F(ListFile, RunsOfSeparatorsAreSkipped) {
  EXPECT_EQ(selected(" \t\r\n a \r\n\r\n\t\t  b  \n"), (names{"a", "b"}));
}

TEST_F(ListFile, EveryControlByteSeparates) {
  std::string data = "a";
  data += '\0';
  data += "b\x01" "c\x1f";
  data += "d\x0b\x0c";
  EXPECT_EQ(selected(data), (names{"a", "b", "c", "d"}));
}

TEST_F(ListFile, NameAtTheVeryEnd) {
  // No separator behind "d": the name ends with the data, not with the 'Z'.
  EXPECT_EQ(selected("a d"), (names{"a", "d"}));
  EXPECT_EQ(selected("x.txt"), (names{"x.txt"}));
}

TEST_F(ListFile, EmptyOrBlankListSelectsNothing) {
  EXPECT_EQ(selected(""), names{});
  EXPECT_EQ(selected(" \r\n\t "), names{});
}

TEST_F(ListFile, Utf8BytesBelongToTheName) {
  EXPECT_EQ(selected("a \xc3\xa9t\xc3\xa9.txt\r\nb"), (names{"a", "\xc3\xa9t\xc3\xa9.txt", "b"}));
}

TEST_F(ListFile, ABlankCannotBePartOfAName) {
  // "long name part" exists, but the list gives three names, none of them a file.
  EXPECT_EQ(selected("long name part"), names{});
}

TEST_F(ListFile, NamesOfNoFileSelectNothingAndDoNotStopTheList) {
  EXPECT_EQ(selected("a missing b nothing.txt c"), (names{"a", "b", "c"}));
}

TEST_F(ListFile, PatternsInAListAreMatched) {
  names got = selected("*.txt");
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (names{"x.txt", "\xc3\xa9t\xc3\xa9.txt"}));
}

}  // namespace
