// Faults injected into whole runs of the program: an archive that cannot be
// written (file size limit, read-only directory, full file system), inputs
// that change between the listing and the reading, directory links that
// form loops, signals while the archive is being written, and an overwrite
// question whose input is closed. A failed or interrupted run leaves no
// temporary file and an existing archive byte for byte as it was; a run
// that succeeds writes an archive every reader accepts.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <utility>

#include "e2e.h"

namespace {

// A run that should end but does not is killed after this long and fails
// its test. It only turns a hang into a failure; it measures nothing.
constexpr int hangms = 300000;

enum stdinkind { stdinpipe, stdinclosed };

// A run of the program that the test steers while it runs: its standard
// output is read as it comes, its standard input is a pipe the test writes
// and closes, or no descriptor at all.
struct liverun {
  pid_t pid = -1;
  int out = -1;      // read end of the program's standard output
  int in = -1;       // write end of its standard input (stdinpipe)
  std::string seen;  // output read so far
  bool hung = false;

  liverun() = default;
  liverun(liverun &&o) noexcept : pid(o.pid), out(o.out), in(o.in), seen(std::move(o.seen)), hung(o.hung) {
    o.pid = o.out = o.in = -1;
  }
  liverun(const liverun &) = delete;
  // A test that stopped before finish does not leave the run behind.
  ~liverun() {
    if (in >= 0) close(in);
    if (out >= 0) close(out);
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

liverun startrun(const std::string &dir, const std::vector<std::string> &args, stdinkind kind,
                 rlim_t sizelimit = RLIM_INFINITY) {
  // The pipes must not take the descriptors 0 to 2, which the child sets
  // up: a test process started without them gets them from /dev/null.
  for (int fd = 0; fd <= 2; fd++)
    if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) != fd) abort();
  liverun r;
  int outp[2], inp[2] = {-1, -1};
  if (pipe(outp) != 0 || (kind == stdinpipe && pipe(inp) != 0)) abort();
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    if (kind == stdinpipe) {
      dup2(inp[0], 0);
      close(inp[0]);
      close(inp[1]);   // else the program itself would hold its input open
    } else {
      close(0);
    }
    dup2(outp[1], 1);
    close(outp[0]);
    close(outp[1]);
    // The signals as a user's shell leaves them, whatever the test runner
    // inherited.
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (sizelimit != RLIM_INFINITY) {
      // Writes past the limit then fail with an error instead of a signal.
      rlimit lim{sizelimit, sizelimit};
      setrlimit(RLIMIT_FSIZE, &lim);
      signal(SIGXFSZ, SIG_IGN);
    }
    std::vector<char *> argv{const_cast<char *>(VORPAK_BIN)};
    for (auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(VORPAK_BIN, argv.data());
    _exit(127);
  }
  close(outp[1]);
  if (kind == stdinpipe) close(inp[0]);
  r.pid = pid;
  r.out = outp[0];
  r.in = inp[1];
  return r;
}

// Reads what output is there or comes next; false at its end, or when the
// run hangs.
bool readmore(liverun &r) {
  for (;;) {
    pollfd p{r.out, POLLIN, 0};
    int n = poll(&p, 1, hangms);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      r.hung = true;
      return false;
    }
    char buf[4096];
    ssize_t got = read(r.out, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    r.seen.append(buf, (size_t)got);
    return true;
  }
}

// Reads output until it contains text; false when it ends without it.
bool waitfor(liverun &r, const std::string &text) {
  while (r.seen.find(text) == std::string::npos)
    if (!readmore(r)) return false;
  return true;
}

void closeinput(liverun &r) {
  if (r.in >= 0) close(r.in);
  r.in = -1;
}

void answer(liverun &r, const std::string &keys) {
  ASSERT_EQ(write(r.in, keys.data(), keys.size()), (ssize_t)keys.size());
}

// Closes the input, reads the rest of the output and waits for the end.
runresult finish(liverun &r) {
  closeinput(r);
  while (readmore(r)) {
  }
  if (r.hung) kill(r.pid, SIGKILL);
  close(r.out);
  r.out = -1;
  int st = 0;
  waitpid(r.pid, &st, 0);
  r.pid = -1;
  EXPECT_FALSE(r.hung) << "the run did not end; output so far:\n" << r.seen;
  runresult res;
  res.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  res.out = r.seen;
  return res;
}

std::string shq(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Mounts made in a private user and mount namespace, which needs no
// privilege where the kernel allows such namespaces: a read-only view of a
// directory, or a small file system that fills up. The mounts vanish with
// the namespace.
bool havenamespaces() {
  static int have = -1;
  if (have < 0) have = runshell("/", "unshare -Urm true").status == 0;
  return have == 1;
}

class Faults : public E2E {
 protected:
  const std::string old = "AN ARCHIVE FROM AN EARLIER RUN";

  // No temporary archive is left in dir/rel.
  void notemporary(const std::string &rel = ".") {
    for (auto &n : listdir(rel)) EXPECT_NE(n.rfind(".vorpak", 0), 0u) << "left behind: " << rel << "/" << n;
  }
  bool hastemporary() {
    for (auto &n : listdir())
      if (n.rfind(".vorpak", 0) == 0) return true;
    return false;
  }
  // The run ended with this one error line, status 1, nothing left behind,
  // the earlier archive unchanged.
  void expectfailed(const runresult &r, const std::string &error, const std::vector<std::string> &files) {
    EXPECT_EQ(r.status, 1) << r.out;
    std::string tail = error + "\n";
    EXPECT_TRUE(r.out.size() >= tail.size() && r.out.compare(r.out.size() - tail.size(), tail.size(), tail) == 0)
        << "expected the run to end with " << error << ", got:\n"
        << r.out;
    EXPECT_EQ(readfile(path("save.zip")), old);
    EXPECT_EQ(listdir(), files);
  }
};

// ---- The archive cannot be written ------------------------------------------

TEST_F(Faults, SizeLimitStrikesWhenTheFirstPassIsWritten) {
  // Less than one ring of output: the first write is the one that moves
  // back to patch the entry's header after the first pass.
  std::string text = textbytes(200000, 70);
  put("text", text);
  put("save.zip", old);
  liverun lr = startrun(dir, {"-y", "save", "text"}, stdinclosed, 4000);
  runresult r = finish(lr);
  expectfailed(r, "Error: save.zip could not be written", {"save.zip", "text"});
}

TEST_F(Faults, SizeLimitAtTheArchiveSizeExactly) {
  // Stored entries give an archive size known in advance; the limit falls
  // on its last byte (the run succeeds) or one byte before it (the end
  // record does not fit).
  namedata files{{"a.bin", randombytes(30000, 71)}, {"b.bin", randombytes(5000, 72)}};
  for (auto &f : files) put(f.first, f.second);
  const int64_t size = storedarchivesize(files);

  put("save.zip", old);
  liverun shortby1 = startrun(dir, {"-y", "-s4", "save", "a.bin", "b.bin"}, stdinclosed, (rlim_t)size - 1);
  expectfailed(finish(shortby1), "Error: save.zip could not be written", {"a.bin", "b.bin", "save.zip"});

  liverun fits = startrun(dir, {"-y", "-s4", "save", "a.bin", "b.bin"}, stdinclosed, (rlim_t)size);
  runresult r = finish(fits);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ((int64_t)readfile(path("save.zip")).size(), size);
  checkall("save.zip", files);
  notemporary();
}

// The mount tests are skipped, saying why, where the namespaces they need
// are not allowed.
#define NEEDNAMESPACES()                                                                         \
  if (!havenamespaces())                                                                         \
  GTEST_SKIP() << "user and mount namespaces are not available here (unshare -Urm fails), so " \
                  "no mount can be made without root"

TEST_F(Faults, ReadOnlyTargetDirectory) {
  // Permission bits do not stop root, which the tests may run as; a
  // read-only mount stops everyone.
  NEEDNAMESPACES();
  put("a.txt", "some text\n");
  put("ro/save.zip", old);
  std::string script = "mount --bind ro ro && mount -o remount,bind,ro ro || exit 99; exec " +
                       shq(VORPAK_BIN) + " -y -s4 ro/save a.txt";
  runresult r = runshell(dir, "unshare -Urm sh -c " + shq(script));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(r.out, "Error: ro/save.zip could not be opened\n");
  EXPECT_EQ(readfile(path("ro/save.zip")), old);
  EXPECT_EQ(listdir("ro"), std::vector<std::string>{"save.zip"});
}

TEST_F(Faults, FullFileSystem) {
  NEEDNAMESPACES();
  // A 16 KiB file system holding the earlier archive; the inputs lie
  // outside it. Stored data fills it at the final write, deflated data
  // when the first pass is written.
  put("noise", randombytes(300000, 73));
  put("text", textbytes(300000, 74));
  mkdirs("full");
  for (const char *args : {"-s4 full/save noise", "full/save text"}) {
    SCOPED_TRACE(args);
    std::string res = scratch + "/result";
    std::string script = "mount -t tmpfs -o size=16k tmpfs full || exit 99; printf %s " + shq(old) +
                         " > full/save.zip; " + shq(VORPAK_BIN) + " -y " + args + " > " + shq(res + ".out") +
                         "; echo $? > " + shq(res + ".status") + "; ls -A full > " + shq(res + ".left") +
                         "; cat full/save.zip > " + shq(res + ".kept");
    runresult sh = runshell(dir, "unshare -Urm sh -c " + shq(script) + " </dev/null");
    ASSERT_EQ(sh.status, 0) << sh.out;
    EXPECT_EQ(readfile(res + ".status"), "1\n");
    std::string out = readfile(res + ".out");
    std::string want = "Error: full/save.zip could not be written\n";
    EXPECT_TRUE(out.size() >= want.size() && out.compare(out.size() - want.size(), want.size(), want) == 0) << out;
    EXPECT_EQ(readfile(res + ".left"), "save.zip\n");
    EXPECT_EQ(readfile(res + ".kept"), old);
  }
}

// ---- Inputs that change after they were listed --------------------------------
//
// The overwrite question comes after the listing and before any file is
// opened, so a change made while it waits happens between the two without
// any race.

class ChangedInput : public Faults {
 protected:
  const std::string first = "the first file, unchanged\n";
  std::string second = textbytes(100000, 75);

  void SetUp() override {
    Faults::SetUp();
    put("a.txt", first);
    put("b.txt", second);
    put("save.zip", old);
  }
  // Starts the run, changes b.txt while the question waits, answers yes.
  runresult runchanging(const std::vector<std::string> &options, const std::function<void()> &change) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {"save", "a.txt", "b.txt"});
    liverun lr = startrun(dir, args, stdinpipe);
    bool asked = waitfor(lr, "save.zip already exists. Overwrite? (y/n)\n");
    EXPECT_TRUE(asked) << lr.seen;
    if (asked) {
      change();
      answer(lr, "y");
    }
    return finish(lr);
  }
};

TEST_F(ChangedInput, RemovedFileIsNotFound) {
  for (auto opts : {std::vector<std::string>{"-s4"}, std::vector<std::string>{"-s0"}}) {
    SCOPED_TRACE(opts[0]);
    put("b.txt", second);
    runresult r = runchanging(opts, [&] { ASSERT_EQ(unlink(path("b.txt").c_str()), 0); });
    expectfailed(r, "Error: b.txt not found", {"a.txt", "save.zip"});
  }
}

TEST_F(ChangedInput, ShrunkFileCannotBeRead) {
  // Stored, read whole for the block layout, read by the passes.
  for (auto opts : {std::vector<std::string>{"-s4"}, std::vector<std::string>{"-s0"},
                    std::vector<std::string>{"-s1", "-b0"}}) {
    SCOPED_TRACE(opts[0]);
    put("b.txt", second);
    runresult r = runchanging(opts, [&] { ASSERT_EQ(truncate(path("b.txt").c_str(), 70000), 0); });
    expectfailed(r, "Error: b.txt could not be read", {"a.txt", "b.txt", "save.zip"});
  }
}

TEST_F(ChangedInput, FileReplacedByADirectoryCannotBeRead) {
  runresult r = runchanging({"-s3"}, [&] {
    ASSERT_EQ(unlink(path("b.txt").c_str()), 0);
    ASSERT_EQ(mkdir(path("b.txt").c_str(), 0755), 0);
  });
  expectfailed(r, "Error: b.txt could not be read", {"a.txt", "b.txt", "save.zip"});
}

// Regression: a FIFO put in place of a listed file made the open wait for a
// writer for ever.
TEST_F(ChangedInput, FileReplacedByAFifoCannotBeRead) {
  runresult r = runchanging({"-s4"}, [&] {
    ASSERT_EQ(unlink(path("b.txt").c_str()), 0);
    ASSERT_EQ(mkfifo(path("b.txt").c_str(), 0644), 0);
  });
  expectfailed(r, "Error: b.txt could not be read", {"a.txt", "b.txt", "save.zip"});
}

TEST_F(ChangedInput, GrownFileIsArchivedAtItsListedSize) {
  // The size from the listing is the entry's size: what was appended later
  // is not read, and the archive stays consistent.
  for (auto opts : {std::vector<std::string>{"-s4"}, std::vector<std::string>{"-s2"}}) {
    SCOPED_TRACE(opts[0]);
    put("b.txt", second);
    runresult r = runchanging(opts, [&] {
      int fd = open(path("b.txt").c_str(), O_WRONLY | O_APPEND);
      ASSERT_GE(fd, 0);
      std::string more = textbytes(5000, 76);
      ASSERT_EQ(write(fd, more.data(), more.size()), (ssize_t)more.size());
      close(fd);
    });
    EXPECT_EQ(r.status, 0) << r.out;
    checkall("save.zip", {{"a.txt", first}, {"b.txt", second}});
    notemporary();
  }
}

TEST_F(Faults, FileShrinkingWhileItIsCompressed) {
  // A race by nature: the file is cut to half once the passes have begun.
  // Whenever the cut lands, the run may only succeed with the data it
  // listed or fail with the read error; never a damaged archive.
  std::string text = textbytes(2000000, 77);
  put("big", text);
  put("save.zip", old);
  liverun lr = startrun(dir, {"-y", "-s0", "save", "big"}, stdinclosed);
  ASSERT_TRUE(waitfor(lr, "VOflating ")) << lr.seen;
  ASSERT_EQ(truncate(path("big").c_str(), 1000000), 0);
  runresult r = finish(lr);
  if (r.status == 0) {
    checkall("save.zip", {{"big", text}});
    notemporary();
  } else {
    expectfailed(r, "Error: big could not be read", {"big", "save.zip"});
  }
}

// ---- Links and loops ------------------------------------------------------------

TEST_F(Faults, LinkThatPointsToItselfIsNotFound) {
  put("a.txt", "A");
  symlinkto("loop", "loop");
  put("save.zip", old);
  runresult r = run({"-y", "-s4", "save", "a.txt", "loop"});
  expectfailed(r, "Error: loop not found", {"a.txt", "loop", "save.zip"});
}

TEST_F(Faults, DirectoriesLinkedToEachOtherAreWalkedOnce) {
  put("a/one.txt", "one\n");
  put("c/two.txt", "two\n");
  symlinkto("a/toc", "../c");
  symlinkto("c/toa", "../a");
  // Only a named: c is reached through the link, and its link back is not
  // followed.
  runresult r = run({"-r", "-s4", "save", "a"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkset("save.zip", {{"a/one.txt", "one\n"}, {"a/toc/two.txt", "two\n"}});
  // Both named: each is walked under its own name, neither link entered.
  r = run({"-y", "-r", "-s4", "save", "a", "c"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkset("save.zip", {{"a/one.txt", "one\n"}, {"c/two.txt", "two\n"}});
  notemporary();
}

// ---- Signals ------------------------------------------------------------------

TEST_F(Faults, SignalDuringCompressionRemovesTheTemporaryArchive) {
  std::string text = textbytes(2000000, 78);
  put("big", text);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    put("save.zip", old);
    liverun lr = startrun(dir, {"-y", "save", "big"}, stdinclosed);
    // The progress word is flushed once the blocks are laid out: the passes
    // have begun and the temporary archive is open.
    ASSERT_TRUE(waitfor(lr, fmt("  Adding: %-12s VOflating ", "big"))) << lr.seen;
    EXPECT_TRUE(hastemporary());
    kill(lr.pid, sig);
    runresult r = finish(lr);
    EXPECT_EQ(r.status, 128 + sig) << r.out;
    EXPECT_EQ(readfile(path("save.zip")), old);
    EXPECT_EQ(listdir(), (std::vector<std::string>{"big", "save.zip"}));
  }
}

TEST_F(Faults, SignalAtTheQuestionCreatesNothing) {
  put("a.txt", "A");
  put("save.zip", old);
  liverun lr = startrun(dir, {"-s4", "save", "a.txt"}, stdinpipe);
  ASSERT_TRUE(waitfor(lr, "Overwrite? (y/n)\n")) << lr.seen;
  kill(lr.pid, SIGINT);
  runresult r = finish(lr);
  EXPECT_EQ(r.status, 128 + SIGINT);
  EXPECT_EQ(readfile(path("save.zip")), old);
  EXPECT_EQ(listdir(), (std::vector<std::string>{"a.txt", "save.zip"}));
}

// ---- The question without an answer ------------------------------------------

class Unanswered : public Faults {
 protected:
  void SetUp() override {
    Faults::SetUp();
    put("a.txt", "A");
    put("save.zip", old);
  }
  void expectcancelled(const runresult &r) { E2E::expectcancelled(r, old); }
};

TEST_F(Unanswered, StandardInputClosed) {
  liverun lr = startrun(dir, {"-s4", "save", "a.txt"}, stdinclosed);
  expectcancelled(finish(lr));
}

TEST_F(Unanswered, PipeClosedBeforeTheQuestion) {
  liverun lr = startrun(dir, {"-s4", "save", "a.txt"}, stdinpipe);
  closeinput(lr);
  expectcancelled(finish(lr));
}

TEST_F(Unanswered, PipeClosedWhileTheQuestionWaits) {
  liverun lr = startrun(dir, {"-s4", "save", "a.txt"}, stdinpipe);
  ASSERT_TRUE(waitfor(lr, "Overwrite? (y/n)\n")) << lr.seen;
  answer(lr, "x\r\n ");   // keys that are no answer, then the end
  expectcancelled(finish(lr));
}

}  // namespace
