// Stored entries: data around the read piece size, replacing an earlier
// attempt in place, the console text, and a file that shrank.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "console/console.h"
#include "driver/driver.h"
#include "testsupport.h"
#include "ziptest.h"

class stored : public ziptest {
 protected:
  // storefile for entry i at the current position, with status as the text
  // the line shows; returns what it printed.
  std::string printedbystore(int32_t i, const char *status) {
    char *buf = nullptr;
    size_t len = 0;
    messagestream = open_memstream(&buf, &len);
    zfil[i].headoff = votell();
    snprintf(zipbuf, zipbufsiz, "%s", status);
    FILE *f = openentry(i);
    storefile(i, f);
    fclose(f);
    fclose(messagestream);
    messagestream = nullptr;
    std::string out(buf, len);
    free(buf);
    return out;
  }
};

TEST_F(stored, EntriesAroundThePieceSize) {
  const size_t sizes[] = {0, 1, 65535, 65536, 65537, 200000};
  for (size_t n : sizes) addentry(std::string("s").append(std::to_string(n)), randombytes(n, (uint32_t)n + 1));
  ASSERT_EQ(1, voopen(archive.c_str()));
  for (int32_t i = 0; i < numfiles; i++) {
    zfil[i].headoff = votell();
    zipbuf[0] = 0;
    FILE *f = openentry(i);
    fgetc(f);                 // the input is read from its start wherever it stands
    zipcrc = 0x12345678;      // and the register starts afresh
    storefile(i, f);
    fclose(f);
    EXPECT_EQ(0, zfil[i].compmeth);
    EXPECT_EQ(zfil[i].headoff + 30 + (int32_t)entries[(size_t)i].name.size(), zfil[i].datoff);
    EXPECT_EQ(zfil[i].endoff, votell());
  }
  std::string b = finishandcheck();

  bool ok;
  std::vector<zipentry> z = parsezip(b, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(6u, z.size());
  EXPECT_EQ(0u, z[0].crc);
  for (size_t k = 0; k < z.size(); k++) {
    SCOPED_TRACE(sizes[k]);
    EXPECT_EQ(0, z[k].flags);
    EXPECT_EQ(0, z[k].lflags);
    EXPECT_EQ(0, z[k].method);
    EXPECT_EQ(0, z[k].lmethod);
    EXPECT_EQ(sizes[k], z[k].csize);
    EXPECT_EQ(sizes[k], z[k].usize);
    EXPECT_EQ(sizes[k], z[k].lcsize);
    EXPECT_EQ(sizes[k], z[k].lusize);
    EXPECT_EQ(z[k].crc, z[k].lcrc);
  }
}

TEST_F(stored, ReplacesALargerAttemptWithoutTrace) {
  int32_t i = addentry("first.bin", randombytes(1000, 20));
  int32_t j = addentry("last.bin", randombytes(5000, 21));
  ASSERT_EQ(1, voopen(archive.c_str()));
  // Each entry first as a compression attempt larger than the file (the
  // last one larger than everything that follows it), then stored over it.
  for (int32_t k : {i, j}) {
    zfil[k].headoff = votell();
    zipoutlocalheader(k, 2, 8);
    zfil[k].compmeth = 8;
    std::string junk = randombytes(k == j ? 100000 : 3000, 22);
    vowrite(junk.data(), (int32_t)junk.size());
    voseek(zfil[k].headoff);
    zipbuf[0] = 0;
    FILE *f = openentry(k);
    storefile(k, f);
    fclose(f);
  }
  std::string b = finishandcheck();
  EXPECT_EQ((30 + 9 + 1000) + (30 + 8 + 5000) + (46 + 9) + (46 + 8) + 22, (int)b.size());
}

TEST_F(stored, StatusReplacesTheProgressWord) {
  int32_t i = addentry("c.bin", randombytes(1234, 23));
  ASSERT_EQ(1, voopen(archive.c_str()));
  std::string out = printedbystore(i, "");
  EXPECT_EQ(std::string(10, '\b') + "Stored :(      1234/     1234 bytes ( 0%)  ", out);
  EXPECT_STREQ("Stored :(      1234/     1234 bytes ( 0%)  ", zipbuf);
  finishandcheck();
}

TEST_F(stored, StatusReplacesAnEarlierStatus) {
  int32_t i = addentry("c.bin", randombytes(1234, 24));
  ASSERT_EQ(1, voopen(archive.c_str()));
  const char earlier[] = "     1300/     1234 bytes (-5%)";
  std::string out = printedbystore(i, earlier);
  EXPECT_EQ(std::string(sizeof earlier - 1 + 10, '\b') + "Stored :(      1234/     1234 bytes ( 0%)  ",
            out);
  finishandcheck();
}

TEST_F(stored, VerboseStatus) {
  verbosemode = 1;
  int32_t i = addentry("v.bin", randombytes(70000, 25));
  ASSERT_EQ(1, voopen(archive.c_str()));
  std::string out = printedbystore(i, "");
  EXPECT_EQ("\n    Stored :(   70000 bytes (0%) ", out);
  EXPECT_STREQ("Stored :(     70000/    70000 bytes ( 0%)  ", zipbuf);
  finishandcheck();
}

TEST_F(stored, QuietModePrintsNothingButKeepsTheStatus) {
  int32_t i = addentry("q.bin", randombytes(99, 26));
  ASSERT_EQ(1, voopen(archive.c_str()));
  std::string outpath = dir + "/stdout";
  fflush(stdout);
  int saved = dup(1);
  int fd = open(outpath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  dup2(fd, 1);
  close(fd);
  zfil[i].headoff = votell();
  snprintf(zipbuf, zipbufsiz, "%s", "      120/       99 bytes (-21%)");
  FILE *f = openentry(i);
  storefile(i, f);
  fclose(f);
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  EXPECT_EQ("", readfile(outpath));
  EXPECT_STREQ("Stored :(        99/       99 bytes ( 0%)  ", zipbuf);
  unlink(outpath.c_str());
  finishandcheck();
}

TEST_F(stored, FileThatShrankEndsTheRun) {
  const std::string old = "an archive from an earlier run";
  writefile(archive, old);
  int32_t i = addentry("s.bin", randombytes(70000, 27));
  writefile(entries[(size_t)i].diskpath, randombytes(500, 28));
  childresult r = inchild([&] {
    if (!voopen(archive.c_str())) _exit(3);
    store(i);
    zipoutfinish();
  });
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.out.find("could not be read")) << r.out;
  EXPECT_EQ((std::vector<std::string>{"s.bin", "test.zip"}), listdir(dir));
  EXPECT_EQ(old, readfile(archive));
}
