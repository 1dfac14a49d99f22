// Shared by the end-to-end tests: a scratch directory, the program, the readers.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport.h"

class E2E : public ::testing::Test {
 protected:
  std::string dir = maketempdir();   // where the program runs and its inputs lie

  void TearDown() override { removetree(dir); }
  std::string path(const std::string &rel) const { return dir + "/" + rel; }
  // A file below dir, made with its parents.
  void put(const std::string &rel, const std::string &data);
  runresult run(const std::vector<std::string> &args, const std::string &input = "");
  // The program in dir with a terminal (raw, so line ends are as written)
  // for standard input, output and error; out holds all it printed.
  runresult runonterminal(std::vector<std::string> args);
  // Every reader accepts dir/zip with exactly these entries, in this order.
  void checkall(const std::string &zip, const namedata &entries);
  std::vector<zipentry> entries(const std::string &zip);
  std::vector<std::string> listdir();   // every name in dir, sorted
};

std::string fmt(const char *f, ...) __attribute__((format(printf, 1, 2)));
// Console text as a terminal shows it: one string per line, backspaces applied.
std::vector<std::string> rendered(const std::string &out);
// The texts of a file's line and of the totals line.
std::string adding(const std::string &name);
std::string figures(int64_t compressed, int64_t original);
std::string storedtext(int64_t size);
std::string totalsline(int64_t archive, int64_t input);
