// Stored entries: data around the read piece size, written over a larger
// compression attempt, and the console text.
#include <unistd.h>

#include "console/console.h"
#include "driver/driver.h"
#include "testsupport.h"
#include "ziptest.h"

using stored = ziptest;

TEST_F(stored, EntriesAroundThePieceSizeReplaceLargerAttempts) {
  const size_t sizes[] = {0, 1, 65535, 65536, 65537, 200000};
  size_t want = 22;
  for (size_t n : sizes) {
    std::string name = std::string("s").append(std::to_string(n));
    addentry(name, randombytes(n, (uint32_t)n + 1));
    want += 30 + n + 46 + 2 * name.size();
  }
  ASSERT_EQ(1, voopen(archive.c_str()));
  for (int32_t i = 0; i < numfiles; i++) {
    // First a compression attempt larger than the file (the last one larger
    // than everything that follows it), then the entry stored over it.
    zfil[i].headoff = votell();
    zipoutlocalheader(i, 2, 8);
    std::string junk = randombytes(i + 1 < numfiles ? sizes[i] + 3000 : 300000, 22);
    vowrite(junk.data(), (int32_t)junk.size());
    store(i);
    EXPECT_EQ(0, zfil[i].compmeth);
    EXPECT_EQ(zfil[i].headoff + 30 + (int32_t)entries[(size_t)i].name.size(), zfil[i].datoff);
    EXPECT_EQ(zfil[i].endoff, votell());
  }
  zipoutfinish();
  std::string b = checkwritten();
  EXPECT_EQ(want, b.size());   // no trace of the attempts
  bool ok;
  std::vector<zipentry> z = parsezip(b, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(6u, z.size());
  EXPECT_EQ(0u, z[0].crc);
  for (size_t k = 0; k < z.size(); k++) {
    SCOPED_TRACE(sizes[k]);
    EXPECT_EQ(0, z[k].flags | z[k].lflags | z[k].method | z[k].lmethod);
    for (uint32_t s : {z[k].csize, z[k].usize, z[k].lcsize, z[k].lusize}) EXPECT_EQ(sizes[k], s);
    EXPECT_EQ(z[k].crc, z[k].lcrc);
  }
}

TEST_F(stored, StatusTexts) {
  // The status replaces the progress word "VOflating " (10 characters) and
  // any status shown before it; verbose mode puts it on a line of its own;
  // quiet mode prints nothing, but zipbuf receives the status all the same.
  struct statuscase {
    const char *what;
    int32_t size;
    const char *earlier;
    bool verbose, quiet;
    std::string printed, status;
  };
  const std::string s1234 = "Stored :(      1234/     1234 bytes ( 0%)  ";
  const statuscase cases[] = {
      {"plain", 1234, "", false, false, std::string(10, '\b') + s1234, s1234},
      {"over a status", 1234, "     1300/     1234 bytes (-5%)", false, false, std::string(41, '\b') + s1234, s1234},
      {"verbose", 70000, "", true, false, "\n    Stored :(   70000 bytes (0%) ",
       "Stored :(     70000/    70000 bytes ( 0%)  "},
      {"quiet", 99, "      120/       99 bytes (-21%)", false, true, "",
       "Stored :(        99/       99 bytes ( 0%)  "}};
  std::string want;
  for (const statuscase &c : cases) {
    addentry(std::string(c.what) + ".bin", randombytes((size_t)c.size, 23));
    want += c.printed + "|" + c.status + "\n";
  }
  // After each entry the child prints what storefile left in zipbuf.
  runresult r = inchild([&] {
    if (!voopen(archive.c_str())) _exit(3);
    for (int32_t i = 0; i < numfiles; i++) {
      verbosemode = cases[i].verbose;
      messagestream = cases[i].quiet ? nullptr : stdout;
      zfil[i].headoff = votell();
      snprintf(zipbuf, zipbufsiz, "%s", cases[i].earlier);
      store(i);
      printf("|%s\n", zipbuf);
    }
    zipoutfinish();
  });
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(want, r.out);
  checkwritten();
}
