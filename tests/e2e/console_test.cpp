// The console text: file lines, stored text, totals, -v, terminal progress.
#include <algorithm>

#include "e2e.h"

namespace {

using ConsoleText = E2E;

TEST_F(ConsoleText, StoredLinesBackUpOverTheProgressWord) {
  // -s4: ten backspaces, a negative ratio; after passes, back over the figures.
  const namedata stored = {{"a.txt", textbytes(100, 4)}, {"empty", ""}, {"a_long_name.data", "xyz"}};
  std::string want = "Creating ZIP: save.zip\n";
  for (auto &[name, data] : stored) put(name, data), want += adding(name) + std::string(10, '\b') + storedtext((int64_t)data.size()) + "\n";
  EXPECT_EQ(run({"-y", "-s4", "save", "a.txt", "empty", "a_long_name.data"}).out, want + "      Total (including headers):       405/      103 bytes (-293%)\n");
  checkall("save.zip", stored);
  put("r.bin", randombytes(700, 7));
  runresult r = run({"-y", "save", "r.bin"});
  std::string status = r.out.substr(r.out.find(adding("r.bin")) + adding("r.bin").size());
  int len = 0;
  ASSERT_EQ(sscanf(status.c_str(), "%d/", &len), 1);
  EXPECT_EQ(status, figures(len, 700) + std::string(figures(len, 700).size() + 10, '\b') + storedtext(700) + "\n" +
                        totalsline((int64_t)readfile(path("save.zip")).size(), 700) + "\n");
}

// -v: block boundaries, every pass's length and predicted saving, the ticks.
TEST_F(ConsoleText, VerboseReport) {
  put("mix.bin", textbytes(6000, 10) + randombytes(6000, 11) + std::string(6000, 'z'));
  put("n.bin", randombytes(300, 12));
  runresult r = run({"-v", "-s3", "-n3", "save", "mix.bin", "n.bin", "-b0", "-n5"});   // -b0 then -n5: one block
  std::vector<std::string> l = rendered(r.out);
  ASSERT_GT(l.size(), 12u) << r.out;
  EXPECT_EQ(std::vector<std::string>(l.begin() + 1, l.begin() + 5), (std::vector<std::string>{adding("mix.bin") + "   ", "Block boundaries: none (1 block)", "", ""}));
  size_t k = 5;
  for (int len, whole, eighths, n1, n2; sscanf(l[k].c_str(), "    Fileleng: %d bytes -%d.%d -> %d.%d", &len, &whole, &eighths, &n1, &n2) == 5; k++) {
    int64_t next = (int64_t)len * 8 - (whole * 8 + eighths / 125);
    EXPECT_TRUE(whole > 0 || eighths > 0);
    EXPECT_EQ(l[k], fmt("    Fileleng: %7d bytes -%7d.%03d -> %7d.%03d", len, whole, eighths, (int)(next >> 3), (int)(next & 7) * 125));
  }
  EXPECT_EQ(l[k] + l[k + 1], fmt("    Fileleng: %7u bytes", entries("save.zip")[0].csize) + adding("n.bin") + "   ");
  auto stored = std::find(l.begin(), l.end(), "    Stored :(     300 bytes (0%) ");
  ASSERT_EQ(l.end() - stored, 5);
  EXPECT_EQ(stored[1], totalsline((int64_t)readfile(path("save.zip")).size(), 18300));
  long long tics = -1;
  int end = 0;
  EXPECT_TRUE(sscanf(stored[2].c_str(), "Took %lld tics%n", &tics, &end) == 1 && (size_t)end == stored[2].size() && stored[3] + stored[4] == "");
}

// On a terminal the line shows the pass running and erases it: the screen
// ends as without one. -q and -v show none.
TEST_F(ConsoleText, PassProgressOnATerminalOnly) {
  put("t.txt", textbytes(300000, 8));
  put("r.bin", randombytes(3000, 9));
  runresult plain = run({"-y", "save", "t.txt", "r.bin"});
  EXPECT_EQ(plain.out.find("pass"), std::string::npos);
  auto onterminal = [&](const std::vector<std::string> &args) { return runonterminal(args).out; };
  for (const char *threads : {"-j1", "-j2"}) {
    std::string tty = onterminal({"-y", threads, "save", "t.txt", "r.bin"});
    for (const char *shown : {"pass 1", "pass 2", "pass 3"}) EXPECT_TRUE(tty.find(shown) != std::string::npos || threads[2] == '2') << shown;
    EXPECT_NE(tty.find("pass "), std::string::npos);
    EXPECT_EQ(rendered(tty), rendered(plain.out));
  }
  for (auto opt : {"-q", "-v"}) EXPECT_EQ(onterminal({"-y", opt, "tty", "t.txt"}).find("pass 1"), std::string::npos);
}

}  // namespace
