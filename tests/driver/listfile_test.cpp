// Names of an "@" list file: how the bytes are split into file
// patterns, each of which selects the files of that name.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "console/console.h"
#include "driver/driver.h"
#include "files/files.h"
#include "testsupport.h"

namespace {

using namespace std::string_literals;
using names = std::vector<std::string>;

TEST(ListFile, SplitsAtControlBytesAndBlanks) {
  resetsettings();
  messagestream = stdout;
  std::string dir = maketempdir();
  for (const char *n : {"a", "b", "c", "d", "long name part", "x.txt", "\xc3\xa9t\xc3\xa9.txt"})
    writefile(dir + "/" + n, n);
  char oldcwd[4096] = {};
  ASSERT_NE(getcwd(oldcwd, sizeof oldcwd), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);

  struct listcase {
    std::string data;
    names want;
  };
  const listcase cases[] = {
      {"a b\r\nc\td", {"a", "b", "c", "d"}},   // "d" ends with the data
      {" \t\r\n a \r\n\r\n\t\t  b  \n", {"a", "b"}},
      {"a\0b\x01" "c\x1f" "d\x0b\x0c"s, {"a", "b", "c", "d"}},
      {"", {}},
      {" \r\n\t ", {}},
      // Bytes from 0x80 belong to the name.
      {"a \xc3\xa9t\xc3\xa9.txt\r\nb", {"a", "\xc3\xa9t\xc3\xa9.txt", "b"}},
      // "long name part" exists, but the list gives three names, none of them a file.
      {"long name part", {}},
      {"a missing b nothing.txt c", {"a", "b", "c"}},
      {"?.T*T b", {"x.txt", "b"}},
  };
  for (const listcase &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.data));
    // The byte behind the data is no separator: a name running to the end
    // must end there by itself.
    std::vector<char> buf(c.data.begin(), c.data.end());
    buf.push_back('Z');
    findfilesinit();
    listfilenames(buf.data(), (int32_t)c.data.size());
    names got;
    for (int32_t k = 0; k < numfiles; k++) got.push_back(fnambuf + zfil[k].filnam);
    EXPECT_EQ(got, c.want);
  }
  EXPECT_EQ(chdir(oldcwd), 0);
  removetree(dir);
}

}  // namespace
