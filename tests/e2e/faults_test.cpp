// Faults injected into whole runs through a shell: a failed or interrupted run
// leaves no temporary file and the earlier archive as it was.
#include <unistd.h>

#include "e2e.h"

namespace {

struct fault {
  std::string script;   // run by sh in the test's directory; $V is the program
  std::string tail;     // how its output ends ("status" and the exit status last)
  bool namespaces = false;   // needs mounts in a private user namespace
};

// Waits until the question is asked, makes the change, answers yes.
std::string changed(const std::string &opts, const std::string &change) {
  return "rm -f out; { until grep -q Overwrite out 2>/dev/null; do sleep 0.02; done; " + change + "; echo y; } | $V " + opts +
         " save a.txt b.txt >out 2>&1; echo status $? >>out; cat out";
}
// Starts a run in the background, acts once its file's line shows, waits.
// A background job of a shell starts with SIGINT ignored, which the program
// keeps; env gives it the default actions of a job started from a terminal.
std::string whilerunning(const std::string &args, const std::string &act) {
  return "rm -f out; env --default-signal $V " + args + " >out 2>&1 & p=$!; until grep -q VOflating out 2>/dev/null; do sleep 0.02; done; " + act +
         "; wait $p; echo status $? >>out; cat out";
}
std::string withprogram(const std::string &script) { return "V=" + shq(VORPAK_BIN) + "; " + script; }

const fault faults[] = {
    {"$V -y -s4 save a.txt gone; echo status $?", "  Adding: gone         VOflating Error: gone not found\nstatus 1"},
    {"$V -y save a.txt loop; echo status $?", "VOflating Error: loop could not be opened: Too many levels of symbolic links\nstatus 1"},
    {"$V -r new sub; echo status $?", "  Adding: sub/gone     VOflating Error: sub/gone not found\nstatus 1"},
    {"$V nodir/save a.txt; echo status $?", "Error: nodir/save.zip could not be opened\nstatus 1"},
    // Found while the entries are written: a path inside a listed directory.
    {"$V -y -j1 -r save " + std::string(200, 'd') + "; echo status $?", "Error: " + std::string(200, 'd') + "/" + std::string(70, 'n') + ": path too long\nstatus 1"},
    // ulimit leaves SIGXFSZ as it is: a failed write, stored data or a header patch.
    {"ulimit -f 200; $V -y -j1 -s4 save noise; echo status $?", "VOflating Error: save.zip could not be written\nstatus 1"},
    {"ulimit -f 200; o=$($V -q -s4 save noise); echo \"[$o] status $?\"", "[] status 1"},
    {"ulimit -f 4; $V -y -j3 save b.txt; echo status $?", "VOflating Error: save.zip could not be written\nstatus 1"},
    {changed("-s4", "rm b.txt"), "Error: b.txt not found\nstatus 1"},
    {changed("-s0 -j1", "rm b.txt"), "Error: b.txt not found\nstatus 1"},
    {changed("-s4", "truncate -s 70000 b.txt"), "Error: b.txt could not be read\nstatus 1"},
    {changed("-s0", "truncate -s 70000 b.txt"), "Error: b.txt could not be read\nstatus 1"},
    {changed("-s1 -b0 -x1", "truncate -s 70000 b.txt"), "Error: b.txt could not be read\nstatus 1"},
    {changed("-s3", "rm b.txt && mkdir b.txt"), "Error: b.txt could not be read\nstatus 1"},
    // Regression: a FIFO in place of a listed file made the open wait for ever.
    {changed("-s4", "rm b.txt && mkfifo b.txt"), "Error: b.txt could not be read\nstatus 1"},
    {whilerunning("-y -j1 save big", "kill -INT $p"), "status 130"},
    {whilerunning("-y -j4 save big big", "kill -TERM $p"), "status 143"},
    {whilerunning("-y -x1 save big", "kill -HUP $p"), "status 129"},
    // The reader of the console text gone: the run ends as the signal says.
    {"{ $V -y -j1 save a.txt big; echo status $? >st; } | head -c 1; echo; cat st", "C\nstatus 141"},
    // The question without an answer: no input, an ended input, no key, a signal.
    {"$V -s4 save a.txt <&-; echo status $?", "Overwrite? (y/n)\nOperation cancelled.\nstatus 1"},
    {"printf 'x\\r\\n ' | $V -s4 save a.txt; echo status $?", "Overwrite? (y/n)\nOperation cancelled.\nstatus 1"},
    {"sleep 5 2>/dev/null | $V -s4 save a.txt >out & p=$!; until grep -q Overwrite out 2>/dev/null; do sleep 0.02; done; kill -TERM $p;"
     " wait $p; echo status $?", "status 143"},
    // A read-only mount; a 16 KiB file system full at the last write or first pass.
    {"mkdir ro && mount --bind ro ro && mount -o remount,bind,ro ro || exit 99; $V -y ro/save a.txt; echo status $?",
     "Error: ro/save.zip could not be opened\nstatus 1", true},
    {"mkdir full && mount -t tmpfs -o size=16k tmpfs full || exit 99; $V -y -s4 full/save noise; echo status $?; ls -A full",
     "Error: full/save.zip could not be written\nstatus 1\n", true},
    {"mkdir full && mount -t tmpfs -o size=16k tmpfs full || exit 99; $V -y full/save big; echo status $?; ls -A full",
     "Error: full/save.zip could not be written\nstatus 1\n", true},
};

class Faults : public E2E, public ::testing::WithParamInterface<size_t> {};

TEST_P(Faults, NothingLostNothingLeftBehind) {
  const fault &f = faults[GetParam()];
  const std::string old = "AN ARCHIVE FROM AN EARLIER RUN";
  put("a.txt", "A");
  put("b.txt", textbytes(100000, 1));
  put("big", textbytes(2000000, 2));
  put("noise", randombytes(300000, 3));
  put("sub/ok", "ok");
  put(std::string(200, 'd') + "/" + std::string(70, 'n'), "x");
  put("save.zip", old);
  for (auto [link, to] : {std::pair{"gone", "nowhere"}, {"loop", "loop"}, {"sub/gone", "nowhere"}})
    ASSERT_EQ(symlink(to, path(link).c_str()), 0);
  std::string script = withprogram(f.script);
  if (f.namespaces) script = "unshare -Urm sh -c " + shq(script);
  runresult r = runshell(dir, "timeout 300 sh -c " + shq(script));
  if (f.namespaces && r.status == 99) GTEST_SKIP() << "no mount without root here: " << r.out;
  while (!r.out.empty() && r.out.back() == '\n') r.out.pop_back();
  std::string tail = f.tail.substr(0, f.tail.find_last_not_of('\n') + 1);
  ASSERT_GE(r.out.size(), tail.size()) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
  EXPECT_EQ(readfile(path("save.zip")), old);
  for (auto &n : listdir()) EXPECT_TRUE(n.rfind(".vorpak", 0) && n != "new.zip") << n;
}

INSTANTIATE_TEST_SUITE_P(Table, Faults, ::testing::Range<size_t>(0, std::size(faults)));

// Appended bytes are not read; a file cut while coded fails or is whole.
TEST_F(E2E, InputsThatGrowOrShrinkWhileCoded) {
  const std::string text = textbytes(2000000, 4), b = textbytes(100000, 1);
  put("a.txt", "A");
  put("b.txt", b);
  put("big", text);
  put("save.zip", "OLD");
  for (const char *opts : {"-s4", "-s2"}) {
    runresult r = runshell(dir, withprogram(changed(opts, "head -c 5000 /dev/zero >>b.txt") + "; truncate -s 100000 b.txt"));
    EXPECT_NE(r.out.find("status 0"), std::string::npos) << r.out;
    checkall("save.zip", {{"a.txt", "A"}, {"b.txt", b}});
  }
  runresult r = runshell(dir, withprogram(whilerunning("-y -s0 save big", "truncate -s 1000000 big")));
  if (r.out.find("status 0") != std::string::npos) checkall("save.zip", {{"big", text}});
  else EXPECT_NE(r.out.find("Error: big could not be read\nstatus 1"), std::string::npos) << r.out;
}

}  // namespace
