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
  void expectcancelled(const runresult &r) { E2E::expectcancelled(r, old); }
  void expectreplaced(const runresult &r, bool asked) {
    EXPECT_EQ(r.status, 0) << r.out;
    std::string head = asked ? "save.zip already exists. Overwrite? (y/n)\nCreating ZIP: save.zip\n"
                             : "Creating ZIP: save.zip\n";
    EXPECT_EQ(r.out.substr(0, head.size()), head);
    checkall("save.zip", {{"a.txt", "abcabcabc"}});
    EXPECT_EQ(listdir(), (std::vector<std::string>{"a.txt", "save.zip"}));
  }
};

TEST_F(OverwritePrompt, NoRefuses) { expectcancelled(runwithinput({"-s4", "save", "a.txt"}, "n")); }

TEST_F(OverwritePrompt, UpperCaseNoRefuses) { expectcancelled(runwithinput({"-s4", "save", "a.txt"}, "N")); }

TEST_F(OverwritePrompt, EscapeRefuses) { expectcancelled(runwithinput({"-s4", "save", "a.txt"}, "\x1b")); }

TEST_F(OverwritePrompt, YesReplaces) { expectreplaced(runwithinput({"-s4", "save", "a.txt"}, "y"), true); }

TEST_F(OverwritePrompt, UpperCaseYesReplaces) {
  expectreplaced(runwithinput({"-s4", "save", "a.txt"}, "Y"), true);
}

TEST_F(OverwritePrompt, EmptyInputRefuses) {
  expectcancelled(run({"-s4", "save", "a.txt"}));   // standard input is /dev/null
}

TEST_F(OverwritePrompt, InputWithoutAnAnswerRefusesAtItsEnd) {
  expectcancelled(runwithinput({"-s4", "save", "a.txt"}, "x?\n\r 1"));
}

TEST_F(OverwritePrompt, OtherKeysAreSkippedSilently) {
  expectreplaced(runwithinput({"-s4", "save", "a.txt"}, "xy"), true);
  put("save.zip", old);
  expectreplaced(runwithinput({"-s4", "save", "a.txt"}, "\n\r q7y"), true);
}

TEST_F(OverwritePrompt, FirstAnswerKeyDecides) {
  expectcancelled(runwithinput({"-s4", "save", "a.txt"}, "xny"));
  expectreplaced(runwithinput({"-s4", "save", "a.txt"}, "xyn"), true);
}

TEST_F(OverwritePrompt, KeyAfterAZeroIsOnlyTestedForYes) {
  // A 0 stands for a two-byte key: the byte after it is its second half,
  // which can mean yes but not no, so the "n" here is passed over.
  expectreplaced(runwithinput({"-s4", "save", "a.txt"}, std::string("\0ny", 3)), true);
  put("save.zip", old);
  expectreplaced(runwithinput({"-s4", "save", "a.txt"}, std::string("\0y", 2)), true);
  put("save.zip", old);
  expectcancelled(runwithinput({"-s4", "save", "a.txt"}, std::string("\0", 1)));
}

TEST_F(OverwritePrompt, YesOptionDoesNotAsk) {
  expectreplaced(runwithinput({"-y", "-s4", "save", "a.txt"}, "n"), false);
}

TEST_F(OverwritePrompt, QuietDoesNotAsk) {
  runresult r = run({"-q", "-s4", "save", "a.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  checkall("save.zip", {{"a.txt", "abcabcabc"}});
}

TEST_F(OverwritePrompt, NoArchiveNoQuestion) {
  put("other.txt", "x");
  runresult r = run({"-s4", "new", "a.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Creating ZIP: new.zip\n", 0), 0u) << r.out;
  checkall("new.zip", {{"a.txt", "abcabcabc"}});
}

TEST_F(OverwritePrompt, QuestionNamesTheCompletedName) {
  put("SAVE.ZIP", old);
  runresult r = runwithinput({"-s4", "SAVE", "a.txt"}, "n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "SAVE.ZIP already exists. Overwrite? (y/n)\nOperation cancelled.\n");
  EXPECT_EQ(readfile(path("SAVE.ZIP")), old);
}

TEST_F(OverwritePrompt, NothingSelectedEndsBeforeTheQuestion) {
  runresult r = runwithinput({"save", "*.none"}, "y");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "No files found\n");
  EXPECT_EQ(readfile(path("save.zip")), old);
}

}  // namespace
