// The console text of a run: the line of each file with its figures or its
// stored text, the totals line, and the verbose report.
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cmath>

#include "e2e.h"

namespace {

using ConsoleText = E2E;

std::string addingprefix(const std::string &name) { return fmt("  Adding: %-12s VOflating ", name.c_str()); }

// "Took %d tics": the verbose run's tick count, whatever its value.
bool tookline(const std::string &l) {
  const std::string head = "Took ", tail = " tics";
  if (!l.starts_with(head) || !l.ends_with(tail) || l.size() == head.size() + tail.size()) return false;
  return l.find_first_not_of("0123456789", head.size()) == l.size() - tail.size();
}

TEST_F(ConsoleText, UncompressedStrategyExactText) {
  // Names padded to twelve or longer; a larger archive than its input gives
  // a negative ratio, no input at all 0%.
  const std::vector<std::pair<namedata, std::string>> cases = {
      {{{"a.txt", textbytes(100, 4)}, {"empty", ""}, {"a_long_name.data", "xyz"}},
       "      Total (including headers):       405/      103 bytes (-293%)"},
      {{{"e1", ""}, {"e2", ""}}, "      Total (including headers):       182/        0 bytes ( 0%)"},
  };
  for (auto &[files, totals] : cases) {
    SCOPED_TRACE(totals);
    std::vector<std::string> args = {"-y", "-s4", "save"};
    std::string want = "Creating ZIP: save.zip\n";
    for (auto &f : files) {
      put(f.first, f.second);
      args.push_back(f.first);
      want += addingprefix(f.first) + std::string(10, '\b') + storedtext((int64_t)f.second.size()) + "\n";
    }
    runresult r = run(args);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out, want + totals + "\n");
    EXPECT_EQ((int64_t)readfile(path("save.zip")).size(), storedarchivesize(files));
    checkall("save.zip", files);
  }
}

TEST_F(ConsoleText, StoredFallbackBacksUpOverStatusAndProgressWord) {
  std::string data = randombytes(700, 7);
  put("r.bin", data);
  runresult r = run({"-s3", "save", "r.bin"});
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::string> l = rawlines(r.out);
  ASSERT_EQ(l.size(), 4u) << r.out;
  // The status of the converged pass, then one backspace for each of its
  // characters and ten for "VOflating ", then the stored text.
  const std::string head = "  Adding: r.bin        VOflating ";
  ASSERT_TRUE(l[1].starts_with(head)) << l[1];
  size_t bs = l[1].find('\b'), text = l[1].find_first_not_of('\b', bs);
  ASSERT_TRUE(bs != std::string::npos && text != std::string::npos) << l[1];
  std::string status = l[1].substr(head.size(), bs - head.size());
  int len = 0, leng = 0, percent = 0;
  ASSERT_EQ(sscanf(status.c_str(), "%9d/%9d bytes (%d%%)", &len, &leng, &percent), 3) << status;
  EXPECT_EQ(status, fmt("%9d/%9d bytes (%2d%%)", len, leng, percent));
  EXPECT_EQ(leng, 700);
  EXPECT_EQ(text - bs, status.size() + 10);
  EXPECT_EQ(l[1].substr(text), storedtext(700));
  EXPECT_EQ(l[2], totalsline(storedarchivesize({{"r.bin", data}}), 700));
  checkall("save.zip", {{"r.bin", data}});
}

// ---- Verbose -----------------------------------------------------------------------

TEST_F(ConsoleText, VerboseReportOfOneFile) {
  struct vcase {
    std::vector<std::string> opts;
    std::string data;
    bool stored;
  };
  // -n5 after -b0 still gives one block: a threshold of 0 overrides a count.
  for (const vcase &c : {vcase{{"-b0", "-n5"}, textbytes(4000, 8), false}, vcase{{"-s3"}, randombytes(900, 9), true}}) {
    SCOPED_TRACE(c.opts[0]);
    put("f", c.data);
    std::vector<std::string> args = {"-y", "-v"};
    args.insert(args.end(), c.opts.begin(), c.opts.end());
    args.insert(args.end(), {"save", "f"});
    runresult r = run(args);
    ASSERT_EQ(r.status, 0) << r.out;
    std::vector<std::string> l = rawlines(r.out);
    ASSERT_GE(l.size(), 10u) << r.out;
    EXPECT_EQ(std::vector<std::string>(l.begin(), l.begin() + 5),
              (std::vector<std::string>{"Creating ZIP: save.zip", addingprefix("f") + "   ",
                                        "Block boundaries: none (1 block)", "", ""}));
    // Pass lines "    Fileleng: %7d bytes"; every one but the last predicts
    // a saving and the next length in eighths of a byte,
    // " -%7d.%03d -> %7d.%03d", the saving positive and that far below.
    size_t k = 5;
    int32_t last = -1;
    for (; k < l.size() && l[k].starts_with("    Fileleng:"); k++) {
      int len = 0, end = 0;
      double save = 0, next = 0;
      ASSERT_EQ(sscanf(l[k].c_str(), "    Fileleng: %d bytes%n", &len, &end), 1) << l[k];
      if ((size_t)end == l[k].size()) {
        EXPECT_EQ(l[k], fmt("    Fileleng: %7d bytes", len));
        last = len;
        break;
      }
      ASSERT_EQ(sscanf(l[k].c_str() + end, " -%lf -> %lf", &save, &next), 2) << l[k];
      int64_t bits = std::llround(save * 8);
      EXPECT_GT(bits, 0) << l[k];
      EXPECT_EQ(next, len - save) << l[k];
      int64_t nextbits = (int64_t)len * 8 - bits;
      EXPECT_EQ(l[k], fmt("    Fileleng: %7d bytes -%7d.%03d -> %7d.%03d", len, (int)(bits >> 3), (int)(bits & 7) * 125,
                          (int)(nextbits >> 3), (int)(nextbits & 7) * 125));
    }
    ASSERT_GE(last, 0) << r.out;
    k++;
    auto e = entries("save.zip");
    ASSERT_EQ(e.size(), 1u);
    ASSERT_EQ(e[0].method, c.stored ? 0 : 8);
    if (c.stored) {
      ASSERT_LT(k, l.size());
      EXPECT_EQ(l[k++], fmt("    Stored :( %7zu bytes (0%%) ", c.data.size()));
    } else {
      EXPECT_EQ(last, (int64_t)e[0].csize);
    }
    ASSERT_EQ(l.size(), k + 4) << r.out;
    EXPECT_EQ(l[k], totalsline((int64_t)readfile(path("save.zip")).size(), (int64_t)c.data.size()));
    EXPECT_TRUE(tookline(l[k + 1])) << l[k + 1];
    EXPECT_EQ(l[k + 2] + l[k + 3], "");
    checkall("save.zip", {{"f", c.data}});
  }
}

TEST_F(ConsoleText, VerboseUncompressedHasNoBlockReport) {
  put("a", "abc");
  runresult r = run({"-v", "-s4", "save", "a"});
  ASSERT_EQ(r.status, 0);
  std::vector<std::string> l = rawlines(r.out);
  ASSERT_EQ(l.size(), 7u) << r.out;
  EXPECT_EQ(l[1], addingprefix("a"));
  EXPECT_EQ(l[2], "    Stored :(       3 bytes (0%) ");
  EXPECT_EQ(l[3], totalsline(storedarchivesize({{"a", "abc"}}), 3));
  EXPECT_TRUE(tookline(l[4])) << l[4];
  EXPECT_EQ(r.out.find("Block boundaries"), std::string::npos);
  checkall("save.zip", {{"a", "abc"}});
}

TEST_F(ConsoleText, VerboseBlockBoundariesInHex) {
  // Three kinds of data one after another: a block count of 3 cuts them.
  std::string data = textbytes(6000, 10) + randombytes(6000, 11) + std::string(6000, 'z');
  put("mix.bin", data);
  runresult r = run({"-v", "-s3", "-n3", "save", "mix.bin"});
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::string> l = rawlines(r.out);
  ASSERT_GE(l.size(), 3u);
  // "Block boundaries: " then the block ends in lower-case hex, separated
  // by commas, then " (n blocks)".
  const std::string head = "Block boundaries: ";
  ASSERT_TRUE(l[2].starts_with(head) && l[2].ends_with(" blocks)")) << l[2];
  size_t open = l[2].find(" (");
  ASSERT_NE(open, std::string::npos) << l[2];
  std::string list = l[2].substr(head.size(), open - head.size());
  ASSERT_FALSE(list.empty());
  ASSERT_EQ(list.find_first_not_of("0123456789abcdef,"), std::string::npos) << l[2];
  std::vector<long> cuts;
  for (char *p = list.data(); *p; p += *p == ',') cuts.push_back(strtol(p, &p, 16));
  EXPECT_EQ(l[2].substr(open), fmt(" (%zu blocks)", cuts.size() + 1));
  EXPECT_LE(cuts.size() + 1, 3u);
  for (size_t j = 0; j < cuts.size(); j++) {
    EXPECT_GT(cuts[j], j ? cuts[j - 1] : 0);
    EXPECT_LT(cuts[j], (long)data.size());
  }
  checkall("save.zip", {{"mix.bin", data}});
}

}  // namespace

namespace {

// Runs the program with a pseudo-terminal (raw, so line ends stay as written)
// as its standard input and output; returns everything it printed.
runresult runonterminal(const std::string &dir, const std::vector<std::string> &args) {
  int master = -1;
  termios raw{};
  cfmakeraw(&raw);
  pid_t pid = forkpty(&master, nullptr, &raw, nullptr);
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    std::vector<char *> argv{const_cast<char *>(VORPAK_BIN)};
    for (auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(VORPAK_BIN, argv.data());
    _exit(127);
  }
  // The master reports an error once the program has ended and closed its side.
  return waitoutput(pid, master);
}

// On a terminal the file's line shows which pass runs, and erases it: the
// screen ends exactly as it does without a terminal. -q and -v show none.
TEST_F(ConsoleText, PassProgressOnATerminalOnly) {
  put("t.txt", textbytes(300000, 8));
  put("r.bin", randombytes(3000, 9));
  runresult plain = run({"-y", "plain", "t.txt", "r.bin"});
  ASSERT_EQ(plain.status, 0);
  EXPECT_EQ(plain.out.find("pass"), std::string::npos);
  runresult tty = runonterminal(dir, {"-y", "tty", "t.txt", "r.bin"});
  ASSERT_EQ(tty.status, 0) << tty.out;
  for (const char *shown : {"pass 1", "pass 2", "pass 3"}) EXPECT_NE(tty.out.find(shown), std::string::npos) << shown;
  std::vector<std::string> want = rendered(plain.out), got = rendered(tty.out);
  want[0] = "Creating ZIP: tty.zip";
  EXPECT_EQ(got, want);
  EXPECT_EQ(readfile(path("tty.zip")), readfile(path("plain.zip")));
  checkall("tty.zip", {{"t.txt", readfile(path("t.txt"))}, {"r.bin", readfile(path("r.bin"))}});
  for (auto opt : {"-q", "-v"}) {
    runresult r = runonterminal(dir, {"-y", opt, "tty", "t.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("pass 1"), std::string::npos) << opt;
  }
}

}  // namespace
