// The built program's command line: usage text, archive name, where options
// stand, quiet mode, and the runs that end before an archive is written.
#include <sys/stat.h>

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
  EXPECT_EQ(l[1], "   VORPAK creates .ZIP files that are roughly 1-3% smaller than \"zip -9 ...\"");
  EXPECT_EQ(std::vector<std::string>(l.begin() + 2, l.begin() + 15),
            (std::vector<std::string>{
                "", "Available options:", "   -r   Recurse sub-directories", "   -v,q Verbose,Quiet mode",
                "   -y   Assume Yes at the 'overwrite file?' prompt",
                "   -s#  Select strategy. 0:Xtreme(default), 1:Intense, 2:Longest Match,",
                "        3:Huffman Only, 4:Uncompressed",
                "   -b#  Block split threshold (lower=more blocks, 0=1 block/file, default=256)",
                "        Good values to try (other than default) are: /b128, /b512, /b0, /b1024",
                "   -n#  Exact number of Huffman blocks (overrides /b#)",
                "   -rn  Randomized initial tables (good for many trials with same options)", "",
                "Example: \"vorpak save *\" will compress the current directory into save.zip"}));
  // The build date: "Mmm dd yyyy", a day below 10 padded with a blank.
  char month[4] = "";
  int day = 0, year = 0, end = 0;
  EXPECT_EQ(sscanf(l[15].c_str(), "Compiled: %3s %2d %4d%n", month, &day, &year, &end), 3) << l[15];
  EXPECT_EQ((size_t)end, l[15].size()) << l[15];
  EXPECT_EQ(l[15].size(), 21u) << l[15];
  EXPECT_NE(std::string("JanFebMarAprMayJunJulAugSepOctNovDec").find(month), std::string::npos) << l[15];
  EXPECT_TRUE(day >= 1 && day <= 31 && year >= 2026) << l[15];
  EXPECT_EQ(l[16], "");
  EXPECT_TRUE(listdir().empty());
}

TEST_F(CommandLine, HelpAndVersionAskedForEndWell) {
  runresult usage = run({});
  ASSERT_EQ(usage.status, 1);
  // Anywhere on the line, before anything else is looked at.
  for (auto args : std::vector<std::vector<std::string>>{{"--help"}, {"-q", "save", "--help", "--version"}}) {
    runresult r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, usage.out);
  }
  for (auto args : std::vector<std::vector<std::string>>{{"--version"}, {"save", "--version", "--help"}}) {
    runresult r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("vorpak ") + VORPAK_VERSION + "\n");
  }
  EXPECT_TRUE(listdir().empty());
}

TEST_F(CommandLine, ArchiveNameAloneTakesEveryFile) {
  std::map<std::string, std::string> files = {
      {"a.txt", textbytes(900, 1)}, {"b.bin", randombytes(300, 2)}, {"c", ""}, {".hidden", "dot file\n"}};
  for (auto &f : files) put(f.first, f.second);
  symlinkto("link.txt", "a.txt");   // a link to a file is archived as the file
  files["link.txt"] = files["a.txt"];
  put("sub/inner.txt", "not selected");   // a directory is no file without -r
  ASSERT_EQ(mkfifo(path("pipe").c_str(), 0666), 0);   // nor is a FIFO, which would block the open
  runresult r = runshell(dir, std::string("timeout 60 ") + VORPAK_BIN + " -s3 save </dev/null");
  ASSERT_NE(r.status, 124) << "the run hung on the FIFO";
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.rfind("Creating ZIP: save.zip\n", 0), 0u) << r.out;
  checkset("save.zip", files);
}

TEST_F(CommandLine, RunsThatEndBeforeTheQuestion) {
  // An old archive and a "y" waiting: no question is asked, nothing changes.
  put("a.txt", "abc");
  put("d1/f", "in a directory");
  put("save.zip", "OLD");
  const std::string nofiles = "No files found\n", noname = "Need a .ZIP filename!\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-v"}, noname},
      {{"-s4", "-", "-y"}, noname},
      {{"save", "-v"}, nofiles},   // save is not the last argument: no default "*", and -v matches nothing
      {{"save", "*.c"}, nofiles},
      {{"save", "d1"}, nofiles},             // a directory without -r
      {{"save", "@missing.lst"}, nofiles},   // a list file that cannot be read
      {{std::string(256, 'n')}, "Error: " + std::string(256, 'n') + ": name too long\n"},   // with ".zip"
  };
  for (auto &[args, text] : cases) {
    SCOPED_TRACE(args.back());
    runresult r = runwithinput(args, "y");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, text);
    EXPECT_EQ(readfile(path("save.zip")), "OLD");
    EXPECT_EQ(listdir(), (std::vector<std::string>{"a.txt", "d1", "save.zip"}));
  }
}

TEST_F(CommandLine, OptionsAnywherePatternsInTheOrderGiven) {
  put("one", "1");
  put("two", "22");
  put("a.txt", "abc");
  // A file matched twice is archived twice.
  runresult r = run({"save", "-v", "two", "a.txt", "-s4", "one", "*.txt"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Took "), std::string::npos) << r.out;   // -v took effect
  for (auto &e : entries("save.zip")) EXPECT_EQ(e.method, 0) << e.name;   // so did -s4, for every pattern
  checkall("save.zip", {{"two", "22"}, {"a.txt", "abc"}, {"one", "1"}, {"a.txt", "abc"}});
}

TEST_F(CommandLine, QuietPrintsNothing) {
  put("a.txt", textbytes(2000, 3));
  put("save.zip", "OLD");
  runresult r = run({"-q", "-v", "save"});   // nor asks before replacing
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  checkall("save.zip", {{"a.txt", textbytes(2000, 3)}});
  symlinkto("gone", "nowhere");
  using args = std::vector<std::string>;
  for (const args &a : {args{"-q"}, args{"-q", "save", "*.none"}, args{"-q", "-y", "new", "gone"},
                        args{"-q", std::string(300, 'n')}}) {
    SCOPED_TRACE(a.back());
    r = run(a);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(listdir(), (std::vector<std::string>{"a.txt", "gone", "save.zip"}));
}

// Regression: the temporary archive was named after the archive plus a
// suffix, so names near the file system's limit of 255 bytes could not be
// created although the name itself is valid.
TEST_F(CommandLine, LongestArchiveNameThatFits) {
  put("a.txt", "abc");
  std::string name(251, 'n');   // 255 with ".zip"
  runresult r = run({"-s4", name});
  EXPECT_EQ(r.status, 0) << r.out;
  checkall(name + ".zip", {{"a.txt", "abc"}});
}

TEST_F(CommandLine, PathTooLongEndsTheRunAndLeavesTheOldArchive) {
  const std::string d(100, 'd'), deep = d + "/" + d + "/" + d + "/f.txt";
  put(deep, "deep");
  put("a.txt", "abc");
  put("save.zip", "OLD");
  for (auto args : {std::vector<std::string>{"-y", "save", "a.txt", deep},
                    std::vector<std::string>{"-r", "-y", "-s4", "save", d}}) {
    SCOPED_TRACE(args[1]);
    runresult r = run(args);
    EXPECT_EQ(r.status, 1);
    // The last line names the deep directory or the file in it.
    std::vector<std::string> l = rawlines(r.out);
    ASSERT_GE(l.size(), 2u);
    const std::string &e = l[l.size() - 2], head = "Error: ", tail = ": path too long";
    ASSERT_TRUE(e.size() >= head.size() + 260 + tail.size() && e.starts_with(head) && e.ends_with(tail)) << r.out;
    std::string named = e.substr(head.size(), e.size() - head.size() - tail.size());
    EXPECT_EQ(deep.substr(0, named.size()), named);
    EXPECT_EQ(readfile(path("save.zip")), "OLD");
    EXPECT_EQ(listdir(), (std::vector<std::string>{"a.txt", d, "save.zip"}));
  }
}

}  // namespace
