// The console text of a run: each file's line with its figures or its
// stored text, the totals line, the verbose report, and the pass progress
// on a terminal.
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

#include "e2e.h"

namespace {

using ConsoleText = E2E;

TEST_F(ConsoleText, StoredAndDeflatedLines) {
  // Stored under -s4: ten backspaces over the progress word; the totals may
  // show a negative ratio, or 0% for no input at all.
  const namedata stored = {{"a.txt", textbytes(100, 4)}, {"empty", ""}, {"a_long_name.data", "xyz"}};
  std::string want = "Creating ZIP: save.zip\n";
  for (auto &f : stored) {
    put(f.first, f.second);
    want += adding(f.first) + std::string(10, '\b') + storedtext((int64_t)f.second.size()) + "\n";
  }
  runresult r = run({"-y", "-s4", "save", "a.txt", "empty", "a_long_name.data"});
  EXPECT_EQ(r.out, want + "      Total (including headers):       405/      103 bytes (-293%)\n");
  checkall("save.zip", stored);
  put("e1", "");
  EXPECT_EQ(rendered(run({"-y", "-s4", "save", "e1", "empty"}).out)[3], totalsline(storedarchivesize({{"e1", ""}, {"empty", ""}}), 0));
  // Deflated: the figures of the entry kept. Stored after the passes: back
  // over the converged pass's figures and the progress word.
  const std::string text = textbytes(30000, 5), noise = randombytes(700, 7);
  put("t", text);
  put("r.bin", noise);
  r = run({"-y", "save", "t", "r.bin"});
  auto e = entries("save.zip");
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(rendered(r.out), (std::vector<std::string>{"Creating ZIP: save.zip", adding("t") + figures(e[0].csize, 30000),
                                                       fmt("  Adding: %-12s ", "r.bin") + storedtext(700),
                                                       totalsline((int64_t)readfile(path("save.zip")).size(), 30700), ""}));
  std::string status = r.out.substr(r.out.find(adding("r.bin")) + adding("r.bin").size());
  int len = 0;
  ASSERT_EQ(sscanf(status.c_str(), "%d/", &len), 1);
  EXPECT_EQ(status, figures(len, 700) + std::string(figures(len, 700).size() + 10, '\b') + storedtext(700) + "\n" +
                        totalsline((int64_t)readfile(path("save.zip")).size(), 30700) + "\n");
  checkall("save.zip", {{"t", text}, {"r.bin", noise}});
}

// -v: the block boundaries in hex, every pass's length with the saving it
// predicts and the next length in eighths of a byte, the stored text, the
// ticks.
TEST_F(ConsoleText, VerboseReport) {
  const std::string data = textbytes(6000, 10) + randombytes(6000, 11) + std::string(6000, 'z');
  put("mix.bin", data);
  put("n.bin", randombytes(300, 12));
  runresult r = run({"-v", "-s3", "-n3", "save", "mix.bin", "n.bin", "-b0", "-n5"});   // -b0 then -n5: one block
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::string> l = rendered(r.out);
  ASSERT_GT(l.size(), 12u);
  EXPECT_EQ(l[1], adding("mix.bin") + "   ");
  EXPECT_EQ(l[2], "Block boundaries: none (1 block)");
  size_t k = 5;
  for (; l[k].find(" -> ") != std::string::npos; k++) {
    int len, whole, eighths, nextwhole, nexteighths;
    ASSERT_EQ(sscanf(l[k].c_str(), "    Fileleng: %d bytes -%d.%d -> %d.%d", &len, &whole, &eighths, &nextwhole, &nexteighths), 5);
    int64_t bits = whole * 8 + eighths / 125, next = (int64_t)len * 8 - bits;
    EXPECT_GT(bits, 0);
    EXPECT_EQ(l[k], fmt("    Fileleng: %7d bytes -%7d.%03d -> %7d.%03d", len, whole, eighths, (int)(next >> 3), (int)(next & 7) * 125));
  }
  EXPECT_EQ(l[k], fmt("    Fileleng: %7u bytes", entries("save.zip")[0].csize));
  EXPECT_EQ(l[k + 1], adding("n.bin") + "   ");
  auto stored = std::find(l.begin(), l.end(), "    Stored :(     300 bytes (0%) ");
  ASSERT_EQ(l.end() - stored, 5);
  EXPECT_EQ(stored[1], totalsline((int64_t)readfile(path("save.zip")).size(), 18300));
  long long tics = -1;
  int end = 0;
  EXPECT_EQ(sscanf(stored[2].c_str(), "Took %lld tics%n", &tics, &end), 1);
  EXPECT_EQ((size_t)end, stored[2].size());
  EXPECT_EQ(stored[3] + stored[4], "");
  checkall("save.zip", {{"mix.bin", data}, {"n.bin", randombytes(300, 12)}});
}

// Runs the program with a raw pseudo-terminal as its standard input and
// output; returns everything it printed.
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
  return waitoutput(pid, master);   // the master fails once the program has ended
}

// On a terminal the file's line shows which pass runs and erases it: the
// screen ends exactly as it does without a terminal. -q and -v show none.
TEST_F(ConsoleText, PassProgressOnATerminalOnly) {
  put("t.txt", textbytes(300000, 8));
  put("r.bin", randombytes(3000, 9));
  runresult plain = run({"-y", "save", "t.txt", "r.bin"});
  EXPECT_EQ(plain.out.find("pass"), std::string::npos);
  // One thread shows every pass; with workers the line of the file whose
  // turn it is shows the pass running when it looks.
  for (const char *threads : {"-j1", "-j2"}) {
    runresult tty = runonterminal(dir, {"-y", threads, "save", "t.txt", "r.bin"});
    ASSERT_EQ(tty.status, 0) << tty.out;
    for (const char *shown : {"pass 1", "pass 2", "pass 3"})
      EXPECT_TRUE(tty.out.find(shown) != std::string::npos || threads[2] == '2') << shown;
    EXPECT_NE(tty.out.find("pass "), std::string::npos);
    EXPECT_EQ(rendered(tty.out), rendered(plain.out));
  }
  for (auto opt : {"-q", "-v"}) EXPECT_EQ(runonterminal(dir, {"-y", opt, "tty", "t.txt"}).out.find("pass 1"), std::string::npos);
}

}  // namespace
