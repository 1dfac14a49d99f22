// The built program's command line: usage text, archive name, where options
// stand, quiet mode, and the runs that end before an archive is written.
#include <regex>

#include "e2e.h"

namespace {

using CommandLine = E2E;

TEST_F(CommandLine, NoArgumentsPrintsTheUsageText) {
  runresult r = run({});
  EXPECT_EQ(r.status, 1);
  std::vector<std::string> l = rawlines(r.out);
  ASSERT_EQ(l.size(), 17u) << r.out;   // 14 calls, two blank lines, the end
  EXPECT_EQ(l[0], "VORPAK [options] [.ZIP file] [@file or filespec...]");
  // Another archiver's command line in quotes: a name, one option, three dots.
  EXPECT_TRUE(std::regex_match(
      l[1], std::regex("   VORPAK creates \\.ZIP files that are roughly 1-3% smaller than \"[^ \"]+ -[^ \"]+ \\.\\.\\.\"")))
      << l[1];
  EXPECT_EQ(l[2], "");
  EXPECT_EQ(l[3], "Available options:");
  EXPECT_EQ(l[4], "   -r   Recurse sub-directories");
  EXPECT_EQ(l[5], "   -v,q Verbose,Quiet mode");
  EXPECT_EQ(l[6], "   -y   Assume Yes at the 'overwrite file?' prompt");
  EXPECT_EQ(l[7], "   -s#  Select strategy. 0:Xtreme(default), 1:Intense, 2:Longest Match,");
  EXPECT_EQ(l[8], "        3:Huffman Only, 4:Uncompressed");
  EXPECT_EQ(l[9], "   -b#  Block split threshold (lower=more blocks, 0=1 block/file, default=256)");
  EXPECT_EQ(l[10], "        Good values to try (other than default) are: /b128, /b512, /b0, /b1024");
  EXPECT_EQ(l[11], "   -n#  Exact number of Huffman blocks (overrides /b#)");
  EXPECT_EQ(l[12], "   -rn  Randomized initial tables (good for many trials with same options)");
  EXPECT_EQ(l[13], "");
  EXPECT_EQ(l[14], "Example: \"vorpak save *\" will compress the current directory into save.zip");
  EXPECT_TRUE(std::regex_match(
      l[15], std::regex("Compiled: (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 1-3][0-9] [0-9]{4}")))
      << l[15];
  EXPECT_EQ(l[16], "");
  EXPECT_TRUE(listdir().empty());
}

TEST_F(CommandLine, OptionsWithoutANameNeedAnArchiveName) {
  put("a.txt", "some text");
  runresult r = run({"-v"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Need a .ZIP filename!\n");
  r = run({"-s4", "-", "-y"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Need a .ZIP filename!\n");
  EXPECT_EQ(listdir(), std::vector<std::string>{"a.txt"});
}

TEST_F(CommandLine, ArchiveNameAloneTakesEveryFile) {
  std::map<std::string, std::string> files = {{"a.txt", textbytes(900, 1)},
                                              {"b.bin", randombytes(300, 2)},
                                              {"c", ""},
                                              {".hidden", "dot file\n"}};
  for (auto &f : files) put(f.first, f.second);
  mkdirs("sub");   // a directory is no file without -r
  put("sub/inner.txt", "not selected");
  runresult r = run({"-s3", "save"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.rfind("Creating ZIP: save.zip\n", 0), 0u) << r.out;
  checkset("save.zip", files);
}

TEST_F(CommandLine, UpperCaseNameGetsUpperCaseExtension) {
  put("a.txt", "abc");
  runresult r = run({"-s4", "SAVE"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Creating ZIP: SAVE.ZIP\n", 0), 0u) << r.out;
  checkall("SAVE.ZIP", {{"a.txt", "abc"}});
}

TEST_F(CommandLine, NameWithADotIsUsedAsGiven) {
  put("a.txt", "abc");
  runresult r = run({"-s4", "save.bin", "a.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(fileexists(path("save.bin.zip")));
  checkall("save.bin", {{"a.txt", "abc"}});
}

TEST_F(CommandLine, NameInADirectory) {
  put("a.txt", "abc");
  mkdirs("out");
  runresult r = run({"-s4", "out/", "a.txt"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.rfind("Creating ZIP: out/.zip\n", 0), 0u) << r.out;
  checkall("out/.zip", {{"a.txt", "abc"}});
}

TEST_F(CommandLine, OptionAfterTheNameMeansNoDefaultPattern) {
  // save is not the last argument, so "*" is not used, and -v matches no file.
  put("a.txt", "abc");
  runresult r = run({"save", "-v"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "No files found\n");
  EXPECT_EQ(listdir(), std::vector<std::string>{"a.txt"});
}

TEST_F(CommandLine, PatternThatMatchesNothing) {
  put("a.txt", "abc");
  runresult r = run({"save", "*.c"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "No files found\n");
  EXPECT_FALSE(fileexists(path("save.zip")));
}

TEST_F(CommandLine, OptionsBeforeTheName) {
  put("a.c", "int main;\n");
  runresult r = run({"-s4", "-v", "save", "*.c"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Took "), std::string::npos) << r.out;   // verbose took effect
  auto e = entries("save.zip");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].method, 0);   // so did -s4
  checkall("save.zip", {{"a.c", "int main;\n"}});
}

TEST_F(CommandLine, OptionsAfterTheNameAndBetweenPatterns) {
  put("a.c", "int main;\n");
  put("b.h", "extern int main;\n");
  runresult r = run({"save", "-v", "a.c", "-s4", "b.h"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Took "), std::string::npos) << r.out;
  auto e = entries("save.zip");
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].method, 0);
  EXPECT_EQ(e[1].method, 0);
  checkall("save.zip", {{"a.c", "int main;\n"}, {"b.h", "extern int main;\n"}});
}

TEST_F(CommandLine, PatternsInOrderGiven) {
  put("one", "1");
  put("two", "22");
  put("three", "333");
  runresult r = run({"-s4", "save", "two", "three", "one"});
  EXPECT_EQ(r.status, 0);
  checkall("save.zip", {{"two", "22"}, {"three", "333"}, {"one", "1"}});
}

TEST_F(CommandLine, FileMatchedTwiceIsArchivedTwice) {
  put("a.txt", "abc");
  runresult r = run({"-s4", "save", "a.txt", "*.txt"});
  EXPECT_EQ(r.status, 0);
  checkall("save.zip", {{"a.txt", "abc"}, {"a.txt", "abc"}});
}

// ---- Quiet mode -----------------------------------------------------------------

TEST_F(CommandLine, QuietPrintsNothingOnSuccess) {
  put("a.txt", textbytes(2000, 3));
  runresult r = run({"-q", "-v", "save"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  checkall("save.zip", {{"a.txt", textbytes(2000, 3)}});
}

TEST_F(CommandLine, QuietPrintsNothingOnErrors) {
  runresult r = run({"-q"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  r = run({"-q", "save"});   // nothing to archive
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  symlinkto("gone", "nowhere");
  r = run({"-q", "save", "gone"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  r = run({"-q", std::string(300, 'n')});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(listdir(), std::vector<std::string>{"gone"});
}

// ---- Names too long -------------------------------------------------------------

TEST_F(CommandLine, ArchiveNameTooLong) {
  put("a.txt", "abc");
  std::string name(256, 'n');   // with ".zip" no longer fits
  runresult r = run({name});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Error: " + name + ": name too long\n");
  EXPECT_EQ(listdir(), std::vector<std::string>{"a.txt"});
}

// Regression: the temporary archive was named after the archive plus a
// suffix, so names near the file system's limit of 255 bytes could not be
// created although the name itself is valid.
TEST_F(CommandLine, LongestArchiveNameThatFits) {
  put("a.txt", "abc");
  std::string name(251, 'n');   // 255 with ".zip"; the file system allows 255
  runresult r = run({"-s4", name});
  EXPECT_EQ(r.status, 0) << r.out;
  checkall(name + ".zip", {{"a.txt", "abc"}});
}

// Three directories of 100 characters: 302 characters before any file name.
std::string deepdir() {
  std::string a(100, 'd');
  return a + "/" + a + "/" + a;
}

// One line "Error: <path>: path too long", the path naming the deep
// directory or the file in it.
void expectpathtoolong(const runresult &r, const std::string &deep) {
  EXPECT_EQ(r.status, 1);
  std::vector<std::string> l = rawlines(r.out);
  ASSERT_GE(l.size(), 2u) << r.out;
  EXPECT_EQ(l.back(), "");
  const std::string &e = l[l.size() - 2];
  const std::string head = "Error: ", tail = ": path too long";
  ASSERT_GT(e.size(), head.size() + tail.size()) << e;
  EXPECT_EQ(e.substr(0, head.size()), head) << e;
  EXPECT_EQ(e.substr(e.size() - tail.size()), tail) << e;
  std::string named = e.substr(head.size(), e.size() - head.size() - tail.size());
  EXPECT_GT(named.size(), 259u) << named;
  EXPECT_EQ(deep.substr(0, named.size()), named) << named;
}

TEST_F(CommandLine, PathTooLongInAPattern) {
  std::string deep = deepdir() + "/f.txt";
  put(deep, "deep");
  put("a.txt", "abc");
  runresult r = run({"save", "a.txt", deep});
  expectpathtoolong(r, deep);
  EXPECT_EQ(listdir(), (std::vector<std::string>{"a.txt", std::string(100, 'd')}));
}

TEST_F(CommandLine, PathTooLongUnderRecursionLeavesTheOldArchive) {
  std::string deep = deepdir() + "/f.txt";
  put(deep, "deep");
  put("save.zip", "OLD");
  runresult r = run({"-r", "-y", "-s4", "save", std::string(100, 'd')});
  expectpathtoolong(r, deep);
  EXPECT_EQ(readfile(path("save.zip")), "OLD");
  EXPECT_EQ(listdir(), (std::vector<std::string>{std::string(100, 'd'), "save.zip"}));
}

}  // namespace
