// The command line of the built program.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "e2e.h"

namespace {

using CommandLine = E2E;

TEST_F(CommandLine, UsageHelpAndVersion) {
  runresult r = run({});
  EXPECT_EQ(r.status, 1);
  // The build date: "Mmm dd yyyy", a day below 10 padded with a blank.
  size_t date = r.out.find("Compiled: ");
  ASSERT_NE(date, std::string::npos);
  EXPECT_EQ(r.out.substr(0, date),
            "VORPAK [options] [.ZIP file] [@file or filespec...]\n"
            "   VORPAK creates .ZIP files that are roughly 1-3% smaller than \"zip -9 ...\"\n\n"
            "Available options:\n   -r   Recurse sub-directories\n   -v,q Verbose,Quiet mode\n"
            "   -y   Assume Yes at the 'overwrite file?' prompt\n"
            "   -s#  Select strategy. 0:Xtreme(default), 1:Intense, 2:Longest Match,\n"
            "        3:Huffman Only, 4:Uncompressed\n"
            "   -b#  Block split threshold (lower=more blocks, 0=1 block/file, default=256)\n"
            "        Good values to try (other than default) are: /b128, /b512, /b0, /b1024\n"
            "   -n#  Exact number of Huffman blocks (overrides /b#)\n"
            "   -rn  Randomized initial tables (good for many trials with same options)\n"
            "\nExample: \"vorpak save *\" will compress the current directory into save.zip\n");
  EXPECT_TRUE(std::regex_match(r.out.substr(date), std::regex("Compiled: (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                                              "( [1-9]|[12][0-9]|3[01]) 20[2-9][0-9]\n"))) << r.out.substr(date);
  // --help: every option in the form it is typed, one line each.
  runresult h = run({"--help"});
  EXPECT_EQ(h.status, 0);
  for (const char *o : {"-r ", "-v ", "-q ", "-y ", "-s# ", "-b# ", "-n# ", "-rn ", "-ns ", "-zl121 ", "-j# ", "-x# ", "-z ", "-zs ", "-u ",
                        "-@ ", "--exclude=PAT ", "--symlinks ", "--dos-attributes ", "-g, --gzip ", "--no-name ", "--help ", "--version "})
    EXPECT_NE(h.out.find("\n  " + std::string(o)), std::string::npos) << o;
  EXPECT_EQ(h.out.find(" /"), std::string::npos);
  // Asked for, anywhere on the line: standard output, status 0.
  for (auto args : std::vector<std::vector<std::string>>{{"--help"}, {"-q", "save", "--help", "--version"}})
    EXPECT_EQ(std::make_pair(run(args).status, run(args).out), std::make_pair(0, h.out));
  for (auto args : std::vector<std::vector<std::string>>{{"--version"}, {"save", "--version", "--help"}})
    EXPECT_EQ(std::make_pair(run(args).status, run(args).out), std::make_pair(0, std::string("vorpak ") + VORPAK_VERSION + "\n"));
  EXPECT_TRUE(listdir().empty());
}

// Failures before the question: on standard error, status 1, nothing written.
TEST_F(CommandLine, RunsThatEndBeforeTheQuestion) {
  put("a.txt", "abc");
  put("d1/f", "in a directory");
  put("d2/f", "another");
  put("save.zip", "OLD");
  put("big", "");
  std::filesystem::resize_file(path("big"), (uintmax_t)1 << 31);   // sparse: nothing written
  const std::string nofiles = "No files found\n", noname = "Need a .ZIP filename!\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-v"}, noname}, {{"-s4", "-y", "--"}, noname},
      {{"save", "*.c"}, "Warning: *.c matches no file\n" + nofiles},
      {{"save", "d1"}, "Warning: d1 is a directory, archived only with -r\n" + nofiles},
      {{"save", "@missing.lst"}, "Warning: list file missing.lst could not be read: No such file or directory\n" + nofiles},
      {{"save", "-x", "*.c"}, "Error: -x *.c: -x is extra effort; --exclude=*.c leaves files out, -x3 *.c archives them with extra effort\n"},
      {{"save", "a.txt", "d1/f", "d2/f"}, "Error: d1/f and d2/f would both be stored as f\n"},
      {{"-x1", "save", "a.txt", "big"}, "Error: big is too large for -x (2 GiB or more)\n"},
      {{std::string(256, 'n')}, "Error: " + std::string(256, 'n') + ": name too long\n"},
      {{"-q", "save", "*.c"}, ""}, {{"-q"}, ""}, {{"-z", "*.none"}, "Warning: *.none matches no file\n" + nofiles}};
  for (auto &[args, text] : cases) {
    runresult r = run(args, "y");
    EXPECT_EQ(std::make_tuple(r.status, r.out, r.err), std::make_tuple(1, "", text)) << args.back();
  }
  runresult r = runshell(dir, "SOURCE_DATE_EPOCH=1e9 " + shq(VORPAK_BIN) + " -y save a.txt; echo status $?");
  EXPECT_EQ(r.out, "Error: SOURCE_DATE_EPOCH=1e9 is not a count of seconds since 1970\nstatus 1\n");
  EXPECT_EQ(readfile(path("save.zip")), "OLD");
  EXPECT_EQ(listdir(), (std::vector<std::string>{"a.txt", "big", "d1", "d2", "save.zip"}));
}

// The archive is the first name; patterns in order, a file named twice
// archived once; options are never patterns.
TEST_F(CommandLine, NamesPatternsAndListFiles) {
  put("one", "1");
  put("two", "22");
  put("a.txt", "abc");
  put("-v", "not an option");
  put("list", "two\r\n one\t");
  runresult r = run({"save", "-v", "two", "a.txt", "-s4", "@list", "*.txt", "--", "-v"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Took "), std::string::npos);   // -v took effect
  for (auto &e : entries("save.zip")) EXPECT_EQ(e.method, 0) << e.name;   // so did -s4
  checkall("save.zip", {{"two", "22"}, {"a.txt", "abc"}, {"one", "1"}, {"-v", "not an option"}});
  // Options alone after the archive: the whole directory, as with no option.
  EXPECT_EQ(run({"-y", "all", "-s4", "-r"}).status, 0);
  checkall("all.zip", {{"-v", "not an option"}, {"a.txt", "abc"}, {"list", "two\r\n one\t"}, {"one", "1"},
                       {"save.zip", readfile(path("save.zip"))}, {"two", "22"}});
}

// The question: a refusal or an ended input keeps the archive, "y" replaces
// it, other keys are passed over; a 0 byte begins a two-byte key.
TEST_F(CommandLine, TheQuestionBeforeReplacing) {
  put("a.txt", "abcabcabc");
  const std::string ask = "SAVE.ZIP already exists. Overwrite? (y/n)\n";
  const std::pair<std::string, bool> keys[] = {{"n", 0}, {"N", 0}, {"\x1b", 0}, {"", 0}, {"x?\n\r 1", 0},
                                               {"y", 1}, {"Y", 1}, {"\n\r q7y", 1}, {"xny", 0}, {"xyn", 1},
                                               {std::string("\0ny", 3), 1}, {std::string("\0", 1), 0}};
  for (auto &[input, yes] : keys) {
    put("SAVE.ZIP", "OLD");
    runresult r = run({"-s4", "SAVE", "a.txt"}, input);
    EXPECT_EQ(r.status, yes ? 0 : 1) << testing::PrintToString(input);
    EXPECT_EQ(r.out.substr(0, ask.size() + 22) + r.err, ask + (yes ? "Creating ZIP: SAVE.ZIP" : "Operation cancelled.\n"));
    if (yes) checkall("SAVE.ZIP", {{"a.txt", "abcabcabc"}});
    else EXPECT_EQ(readfile(path("SAVE.ZIP")), "OLD");
    EXPECT_EQ(listdir(), (std::vector<std::string>{"SAVE.ZIP", "a.txt"}));
  }
  // -y and -q never ask; -q prints nothing at all.
  EXPECT_EQ(run({"-y", "-s4", "SAVE", "a.txt"}, "n").out.substr(0, 22), "Creating ZIP: SAVE.ZIP");
  EXPECT_EQ(run({"-q", "-v", "SAVE", "a.txt"}, "n").out, "");
  checkall("SAVE.ZIP", {{"a.txt", "abcabcabc"}});
}

// Regression: the temporary name fits wherever the archive's name fits.
TEST_F(CommandLine, LongestArchiveName) {
  put("a.txt", "abc");
  EXPECT_EQ(run({"-s4", std::string(251, 'n')}).status, 0);
  checkall(std::string(251, 'n') + ".zip", {{"a.txt", "abc"}});
}

}  // namespace

namespace {

// Any number of threads: the archive and the text of one thread; a failure
// ends the run where one thread ends it; a file too large for memory too.
TEST_F(CommandLine, ThreadsChangeNothingButTheTime) {
  put("t.txt", textbytes(90000, 1));
  put("d/r.bin", randombytes(5000, 2));
  put("d/e/empty", "");
  put("d/e/t2.txt", textbytes(30000, 3));
  const std::string big(quick() ? 1 : 65 << 20, 'b');   // the sanitizers' run keeps to small files
  put("big", big);
  // Large enough for its passes to be coded in ranges of blocks with -j4,
  // one of which starts in the middle of its text.
  put("m.bin", quick() ? "" : textbytes(1100000, 4));
  using args = std::vector<std::string>;
  for (auto &[opts, names] : std::vector<std::pair<args, args>>{
           {{"-r", "-s1", "-n3"}, {"t.txt", "d"}}, {{"-s3"}, {"big", "t.txt", "d/r.bin"}}, {{"-r", "-v", "-b0"}, {"d"}},
           {{"-s1", "-b4"}, {"m.bin", "t.txt"}},
           {{"-r", "-x1"}, {"t.txt", "d"}}}) {
    runresult one, four;
    for (const char *j : {"-j1", "-j4"}) {
      args a = {"-y", j};
      a.insert(a.end(), opts.begin(), opts.end());
      a.push_back(j[2] == '1' ? "one" : "four");
      a.insert(a.end(), names.begin(), names.end());
      (j[2] == '1' ? one : four) = run(a);
    }
    EXPECT_EQ(std::make_pair(one.status, four.status), std::make_pair(0, 0)) << one.out << four.out;
    EXPECT_EQ(readfile(path("one.zip")), readfile(path("four.zip")));
    std::string same = one.out.substr(one.out.find('\n'), one.out.find("Took ") - one.out.find('\n'));
    EXPECT_EQ(same, four.out.substr(four.out.find('\n'), four.out.find("Took ") - four.out.find('\n')));
    std::filesystem::remove(path("one.zip"));
    if (names[0] == "m.bin")   // the passes coded in ranges, read back
      checkall("four.zip", {{"m.bin", readfile(path("m.bin"))}, {"t.txt", textbytes(90000, 1)}});
  }
  checkall("four.zip", {{"t.txt", textbytes(90000, 1)}, {"d/r.bin", randombytes(5000, 2)}, {"d/e/empty", ""},
                        {"d/e/t2.txt", textbytes(30000, 3)}});
  ASSERT_EQ(symlink("nowhere", path("d/gone").c_str()), 0);
  runresult one = run({"-y", "-j1", "-r", "failed", "t.txt", "d"}), four = run({"-y", "-j4", "-r", "failed", "t.txt", "d"});
  EXPECT_EQ(std::make_tuple(one.status, one.out, one.err), std::make_tuple(four.status, four.out, four.err));
  EXPECT_EQ(four.err, "Error: d/gone not found\n");
  EXPECT_EQ(listdir(), (std::vector<std::string>{"big", "d", "four.zip", "m.bin", "t.txt"}));
}

}  // namespace
