// The question before an existing archive is replaced, answered from a
// standard input that is a file: a refusal leaves the archive untouched, a
// "y" replaces it, an input that runs out refuses.
#include "e2e.h"

namespace {

class OverwritePrompt : public E2E {
 protected:
  const std::string old = "OLD ARCHIVE, NOT A ZIP";
  void SetUp() override {
    E2E::SetUp();
    put("a.txt", "abcabcabc");
    put("save.zip", old);
  }
  void expectreplaced(const runresult &r, bool asked) {
    EXPECT_EQ(r.status, 0) << r.out;
    std::string head = asked ? "save.zip already exists. Overwrite? (y/n)\nCreating ZIP: save.zip\n"
                             : "Creating ZIP: save.zip\n";
    EXPECT_EQ(r.out.substr(0, head.size()), head);
    checkall("save.zip", {{"a.txt", "abcabcabc"}});
    EXPECT_EQ(listdir(), (std::vector<std::string>{"a.txt", "save.zip"}));
  }
};

TEST_F(OverwritePrompt, KeysRead) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"n", false}, {"N", false}, {"\x1b", false}, {"y", true}, {"Y", true},
      {"", false},                  // no input at all
      {"x?\n\r 1", false},          // the input runs out without an answer
      {"xy", true}, {"\n\r q7y", true},   // other keys are skipped silently
      {"xny", false}, {"xyn", true},      // the first answer key decides
      // A 0 stands for a two-byte key: the byte after it is its second half,
      // which can mean yes but not no, so the "n" here is passed over.
      {std::string("\0ny", 3), true}, {std::string("\0y", 2), true}, {std::string("\0", 1), false},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.first));
    put("save.zip", old);
    runresult r = runwithinput({"-s4", "save", "a.txt"}, c.first);
    if (c.second) {
      expectreplaced(r, true);
    } else {
      expectcancelled(r, old);
    }
  }
}

TEST_F(OverwritePrompt, YesOptionDoesNotAsk) {
  expectreplaced(runwithinput({"-y", "-s4", "save", "a.txt"}, "n"), false);
}

TEST_F(OverwritePrompt, QuestionAndRunNameTheCompletedName) {
  put("SAVE.ZIP", old);
  runresult r = runwithinput({"-s4", "SAVE", "a.txt"}, "n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "SAVE.ZIP already exists. Overwrite? (y/n)\nOperation cancelled.\n");
  EXPECT_EQ(readfile(path("SAVE.ZIP")), old);
  r = runwithinput({"-s4", "SAVE", "a.txt"}, "y");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("SAVE.ZIP already exists. Overwrite? (y/n)\nCreating ZIP: SAVE.ZIP\n", 0), 0u) << r.out;
  checkall("SAVE.ZIP", {{"a.txt", "abcabcabc"}});
}

}  // namespace
