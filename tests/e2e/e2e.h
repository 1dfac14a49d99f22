// Shared by the end-to-end tests: a scratch directory per test in which the
// built program runs, the console text as a terminal shows it, and the check
// of every archive written by independent readers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "testsupport.h"

using namedata = std::vector<std::pair<std::string, std::string>>;

class E2E : public ::testing::Test {
 protected:
  std::string dir;       // where the program runs and its inputs lie
  std::string scratch;   // expected contents, standard input files; never archived

  void SetUp() override;
  void TearDown() override;

  // Files, directories and links below dir, made with their parents.
  void put(const std::string &rel, const std::string &data);
  void mkdirs(const std::string &rel);
  void symlinkto(const std::string &rel, const std::string &target);
  std::string path(const std::string &rel) const { return dir + "/" + rel; }

  // Runs the program in dir; standard input is /dev/null, or the given bytes.
  runresult run(const std::vector<std::string> &args);
  runresult runwithinput(const std::vector<std::string> &args, const std::string &input);

  // Every reader accepts dir/zip and finds exactly these entries, in this
  // order, with these contents: unzip -t, Python's zipfile, zlib's inflate of
  // every deflated entry, and bsdtar and 7-Zip where installed.
  void checkall(const std::string &zip, const namedata &entries);
  // The same where the order is the directory's listing order.
  void checkset(const std::string &zip, const std::map<std::string, std::string> &entries);

  // The archive's entries; fails the test when its records cannot be read.
  std::vector<zipentry> entries(const std::string &zip);
  std::vector<std::string> names(const std::string &zip);
  // Every name in dir/rel, sorted, for checking that nothing was left behind.
  std::vector<std::string> listdir(const std::string &rel = ".");
  // The overwrite question was refused: exit 1, its text, save.zip still
  // holding old, and nothing but a.txt and save.zip in dir.
  void expectcancelled(const runresult &r, const std::string &old);
};

// Whether a reader is installed; one that is not is reported once per run.
bool havetool(const std::string &tool);
std::string shq(const std::string &s);   // quoted for the shell
std::string fmt(const char *f, ...) __attribute__((format(printf, 1, 2)));

// Console text as a terminal shows it: one string per line, each backspace
// moving the cursor one column left so that what follows overwrites.
std::vector<std::string> rendered(const std::string &out);
// Console text split at line ends, the pieces kept raw (backspaces and all);
// a text that ends with "\n" gives an empty last piece.
std::vector<std::string> rawlines(const std::string &out);

// The figures of an entry's line, "%9d/%9d bytes (%2d%c)", with the ratio
// 100 - compressed * 100 / original (0 for an empty file); the text of a
// stored entry; the totals line without its line end.
std::string figures(int64_t compressed, int64_t original);
std::string storedtext(int64_t leng);
std::string totalsline(int64_t archive, int64_t input);
// The size of an archive of stored entries, from the ZIP record layouts:
// local header 30 + name + data, central header 46 + name, end record 22.
int64_t storedarchivesize(const namedata &entries);
