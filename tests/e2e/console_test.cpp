// The console text of a run: the line of each file with its figures or its
// stored text, the totals line, and the verbose report.
#include <regex>

#include "e2e.h"

namespace {

using ConsoleText = E2E;

std::string addingprefix(const std::string &name) { return fmt("  Adding: %-12s VOflating ", name.c_str()); }

const std::string tenbackspaces(10, '\b');

TEST_F(ConsoleText, UncompressedStrategyExactText) {
  namedata files = {{"a.txt", textbytes(100, 4)}, {"empty", ""}, {"a_long_name.data", "xyz"}};
  for (auto &f : files) put(f.first, f.second);
  runresult r = run({"-s4", "save", "a.txt", "empty", "a_long_name.data"});
  ASSERT_EQ(r.status, 0);

  int64_t size = storedarchivesize(files);
  std::string want = "Creating ZIP: save.zip\n";
  for (auto &f : files) want += addingprefix(f.first) + tenbackspaces + storedtext((int64_t)f.second.size()) + "\n";
  want += totalsline(size, 103) + "\n";
  EXPECT_EQ(r.out, want);
  EXPECT_EQ((int64_t)readfile(path("save.zip")).size(), size);
  checkall("save.zip", files);
}

TEST_F(ConsoleText, ShortNamesArePaddedToTwelve) {
  put("x", "1");
  runresult r = run({"-s4", "save", "x"});
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("  Adding: x            VOflating \b"), std::string::npos) << r.out;
  checkall("save.zip", {{"x", "1"}});
}

TEST_F(ConsoleText, CompressedLineEndsWithTheEntrysFigures) {
  std::string text = textbytes(3000, 5);
  put("t.txt", text);
  runresult r = run({"save", "t.txt"});   // the default strategy
  ASSERT_EQ(r.status, 0) << r.out;
  auto e = entries("save.zip");
  ASSERT_EQ(e.size(), 1u);
  ASSERT_EQ(e[0].method, 8);
  std::string fig = figures(e[0].csize, 3000);

  std::vector<std::string> l = rawlines(r.out);
  ASSERT_EQ(l.size(), 4u) << r.out;
  EXPECT_EQ(l[0], "Creating ZIP: save.zip");
  // As sent: the progress word, then text ending with the figures.
  EXPECT_EQ(l[1].rfind(addingprefix("t.txt"), 0), 0u) << l[1];
  ASSERT_GE(l[1].size(), fig.size());
  // As shown: the figures right behind the progress word.
  std::vector<std::string> v = rendered(r.out);
  std::string shown = v[1];
  shown.erase(shown.find_last_not_of(' ') + 1);
  EXPECT_EQ(shown, addingprefix("t.txt") + fig) << l[1];
  EXPECT_EQ(l[2], totalsline((int64_t)readfile(path("save.zip")).size(), 3000));
  EXPECT_EQ(l[3], "");
  checkall("save.zip", {{"t.txt", text}});
}

TEST_F(ConsoleText, StoredFallbackBacksUpOverStatusAndProgressWord) {
  std::string data = randombytes(700, 7);
  put("r.bin", data);
  runresult r = run({"-s3", "save", "r.bin"});
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::string> l = rawlines(r.out);
  ASSERT_EQ(l.size(), 4u) << r.out;
  const std::string prefix = addingprefix("r.bin");
  ASSERT_EQ(l[1].rfind(prefix, 0), 0u) << l[1];
  // The status of the converged pass, then one backspace for each of its
  // characters and ten for "VOflating ", then the stored text.
  std::smatch m;
  std::string rest = l[1].substr(prefix.size());
  ASSERT_TRUE(std::regex_match(rest, m, std::regex("( *[0-9]+/ *700 bytes \\(-? *[0-9]+%\\))(\b+)(.*)"))) << rest;
  EXPECT_EQ(m[2].length(), m[1].length() + 10);
  EXPECT_EQ(m[3].str(), storedtext(700));
  EXPECT_EQ(rendered(r.out)[1], "  Adding: r.bin        " + storedtext(700));

  auto e = entries("save.zip");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].method, 0);
  int64_t size = storedarchivesize({{"r.bin", data}});
  EXPECT_EQ(l[2], totalsline(size, 700));
  checkall("save.zip", {{"r.bin", data}});
}

TEST_F(ConsoleText, TotalsOfAnEmptyInputShowZeroPercent) {
  put("e1", "");
  put("e2", "");
  runresult r = run({"-s4", "save", "e1", "e2"});
  ASSERT_EQ(r.status, 0);
  std::vector<std::string> l = rawlines(r.out);
  ASSERT_EQ(l.size(), 5u);
  int64_t size = storedarchivesize({{"e1", ""}, {"e2", ""}});
  EXPECT_EQ(l[3], fmt("      Total (including headers): %9lld/        0 bytes ( 0%%)", (long long)size));
  checkall("save.zip", {{"e1", ""}, {"e2", ""}});
}

TEST_F(ConsoleText, TotalsRatioIsNegativeWhenTheArchiveIsLarger) {
  put("a", "abcd");
  runresult r = run({"-s4", "save", "a"});
  ASSERT_EQ(r.status, 0);
  int64_t size = storedarchivesize({{"a", "abcd"}});   // 30+1+4 + 46+1 + 22 = 104
  std::vector<std::string> l = rawlines(r.out);
  ASSERT_EQ(l.size(), 4u);
  EXPECT_EQ(l[2], fmt("      Total (including headers): %9lld/        4 bytes (%lld%%)", (long long)size,
                      (long long)(100 - size * 100 / 4)));
  checkall("save.zip", {{"a", "abcd"}});
}

// ---- Verbose -----------------------------------------------------------------------

// "    Fileleng: %7d bytes", optionally followed by the predicted saving and
// the predicted next length: " -%7d.%03d -> %7d.%03d".
struct passline {
  int64_t len = 0;
  bool prediction = false;
  int64_t save8 = 0, next8 = 0;   // in eighths of a byte
};

bool parsepass(const std::string &s, passline *p) {
  static const std::regex re("    Fileleng: ( {0,6}[0-9]+) bytes(?: -( {0,6}[0-9]+)\\.([0-9]{3}) -> ( {0,6}-?[0-9]+)\\.([0-9]{3}))?");
  std::smatch m;
  if (!std::regex_match(s, m, re)) return false;
  if (m[1].length() < 7) return false;
  p->len = std::stoll(m[1]);
  p->prediction = m[2].matched;
  if (p->prediction) {
    int t1 = std::stoi(m[3]), t2 = std::stoi(m[5]);
    if (t1 % 125 || t2 % 125) return false;   // thousandths in steps of an eighth
    p->save8 = std::stoll(m[2]) * 8 + t1 / 125;
    p->next8 = std::stoll(m[4]) * 8 + t2 / 125;
  }
  return true;
}

TEST_F(ConsoleText, VerboseReportOfOneFile) {
  std::string text = textbytes(4000, 8);
  put("t.txt", text);
  runresult r = run({"-v", "-b0", "save", "t.txt"});
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::string> l = rawlines(r.out);
  ASSERT_GE(l.size(), 10u) << r.out;
  EXPECT_EQ(l[0], "Creating ZIP: save.zip");
  EXPECT_EQ(l[1], addingprefix("t.txt") + "   ");
  EXPECT_EQ(l[2], "Block boundaries: none (1 block)");
  EXPECT_EQ(l[3], "");
  EXPECT_EQ(l[4], "");
  size_t k = 5;
  std::vector<passline> passes;
  passline p;
  while (k < l.size() && parsepass(l[k], &p)) {
    passes.push_back(p);
    k++;
    if (!p.prediction) break;
  }
  ASSERT_FALSE(passes.empty()) << r.out;
  // Every pass but the last predicts a saving; the prediction is that many
  // eighths below the pass's own length.
  for (size_t j = 0; j + 1 < passes.size(); j++) {
    EXPECT_TRUE(passes[j].prediction) << j;
    EXPECT_GT(passes[j].save8, 0);
    EXPECT_EQ(passes[j].next8, passes[j].len * 8 - passes[j].save8) << j;
  }
  EXPECT_FALSE(passes.back().prediction);
  auto e = entries("save.zip");
  ASSERT_EQ(e.size(), 1u);
  ASSERT_EQ(e[0].method, 8);
  EXPECT_EQ(passes.back().len, (int64_t)e[0].csize);

  ASSERT_EQ(l.size(), k + 4) << r.out;
  EXPECT_EQ(l[k], totalsline((int64_t)readfile(path("save.zip")).size(), 4000));
  EXPECT_TRUE(std::regex_match(l[k + 1], std::regex("Took [0-9]+ tics"))) << l[k + 1];
  EXPECT_EQ(l[k + 2], "");
  EXPECT_EQ(l[k + 3], "");
  checkall("save.zip", {{"t.txt", text}});
}

TEST_F(ConsoleText, VerboseStoredFallback) {
  std::string data = randombytes(900, 9);
  put("r.bin", data);
  runresult r = run({"-v", "-s3", "save", "r.bin"});
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::string> l = rawlines(r.out);
  // The last pass line carries no prediction and is followed by the stored text.
  size_t k = 5;
  passline p;
  while (k < l.size() && parsepass(l[k], &p) && p.prediction) k++;
  ASSERT_LT(k, l.size()) << r.out;
  EXPECT_TRUE(parsepass(l[k], &p)) << l[k];
  EXPECT_FALSE(p.prediction);
  ASSERT_LT(k + 1, l.size());
  EXPECT_EQ(l[k + 1], "    Stored :(     900 bytes (0%) ");
  auto e = entries("save.zip");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].method, 0);
  checkall("save.zip", {{"r.bin", data}});
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
  EXPECT_TRUE(std::regex_match(l[4], std::regex("Took [0-9]+ tics"))) << l[4];
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
  std::smatch m;
  ASSERT_TRUE(std::regex_match(l[2], m, std::regex("Block boundaries: ([0-9a-f]+(?:,[0-9a-f]+)*) \\(([0-9]+) blocks\\)")))
      << l[2];
  std::vector<long> cuts;
  std::string list = m[1];
  for (size_t s = 0; s < list.size();) {
    size_t e = list.find(',', s);
    if (e == std::string::npos) e = list.size();
    cuts.push_back(std::stol(list.substr(s, e - s), nullptr, 16));
    s = e + 1;
  }
  EXPECT_EQ(std::stoul(m[2]), cuts.size() + 1);
  EXPECT_LE(cuts.size() + 1, 3u);
  for (size_t j = 0; j < cuts.size(); j++) {
    EXPECT_GT(cuts[j], j ? cuts[j - 1] : 0);
    EXPECT_LT(cuts[j], (long)data.size());
  }
  checkall("save.zip", {{"mix.bin", data}});
}

TEST_F(ConsoleText, ThresholdZeroOverridesABlockCount) {
  std::string data = textbytes(6000, 12) + randombytes(3000, 13);
  put("mix.bin", data);
  runresult r = run({"-v", "-s3", "-n5", "-b0", "save", "mix.bin"});
  ASSERT_EQ(r.status, 0);
  std::vector<std::string> l = rawlines(r.out);
  ASSERT_GE(l.size(), 3u);
  EXPECT_EQ(l[2], "Block boundaries: none (1 block)");
  checkall("save.zip", {{"mix.bin", data}});
  // -b0 then -n5 asks for one block as well: the threshold still is 0.
  r = run({"-y", "-v", "-s3", "-b0", "-n5", "save", "mix.bin"});
  ASSERT_EQ(r.status, 0);
  l = rawlines(r.out);
  ASSERT_GE(l.size(), 3u);
  EXPECT_EQ(l[2], "Block boundaries: none (1 block)");
  checkall("save.zip", {{"mix.bin", data}});
}

}  // namespace
