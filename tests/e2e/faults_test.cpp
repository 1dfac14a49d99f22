// Faults injected into whole runs of the program: inputs that cannot be
// opened or change between the listing and the reading, an archive that
// cannot be written (file size limit, missing or read-only directory, full
// file system), directory links that form loops, signals, and an overwrite
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

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <tuple>
#include <utility>

#include <filesystem>

#include "e2e.h"

namespace {

// A run that should end but does not is killed after this long and fails
// its test. It only turns a hang into a failure; it measures nothing.
constexpr int hangms = 300000;

enum stdinkind { stdinpipe, stdinclosed };

// A run of the program that the test steers while it runs: its standard
// output is read as it comes, its standard input is a pipe the test writes
// and closes, or no descriptor at all. Writes past a size limit fail with
// an error instead of a signal.
struct liverun {
  pid_t pid = -1;
  int out = -1, in = -1;   // the program's standard output and input
  std::string seen;        // output read so far
  bool hung = false;

  liverun(const std::string &dir, const std::vector<std::string> &args, stdinkind kind,
          rlim_t sizelimit = RLIM_INFINITY) {
    // The pipes must not take the descriptors 0 to 2, which the child sets
    // up: a test process started without them gets them from /dev/null.
    for (int fd = 0; fd <= 2; fd++)
      if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) != fd) abort();
    int outp[2], inp[2] = {-1, -1};
    if (pipe(outp) != 0 || (kind == stdinpipe && pipe(inp) != 0)) abort();
    pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      close(0);
      if (kind == stdinpipe) dup2(inp[0], 0), close(inp[0]), close(inp[1]);
      dup2(outp[1], 1), close(outp[0]), close(outp[1]);
      // The signals as a user's shell leaves them, whatever the test runner
      // inherited.
      for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(sig, SIG_DFL);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      rlimit lim{sizelimit, sizelimit};
      // SIGXFSZ keeps its default action, as under a shell's ulimit -f: the
      // program itself must turn the signal into a failed write.
      for (int sig : {SIGXFSZ}) signal(sig, SIG_DFL);
      if (sizelimit != RLIM_INFINITY) setrlimit(RLIMIT_FSIZE, &lim);
      std::vector<char *> argv{const_cast<char *>(VORPAK_BIN)};
      for (auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      execv(VORPAK_BIN, argv.data());
      _exit(127);
    }
    close(outp[1]);
    if (kind == stdinpipe) close(inp[0]);
    out = outp[0], in = inp[1];
  }
  liverun(const liverun &) = delete;
  // A test that stopped before finish does not leave the run behind.
  ~liverun() {
    closeinput();
    if (out >= 0) close(out);
    if (pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
  }

  // Reads what output is there or comes next; false at its end, or when
  // the run hangs.
  bool readmore() {
    for (;;) {
      pollfd p{out, POLLIN, 0};
      int n = poll(&p, 1, hangms);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        hung = true;
        return false;
      }
      char buf[4096];
      ssize_t got = read(out, buf, sizeof buf);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      seen.append(buf, (size_t)got);
      return true;
    }
  }
  // Reads output until it contains text; false when it ends without it.
  bool waitfor(const std::string &text) {
    while (seen.find(text) == std::string::npos)
      if (!readmore()) return false;
    return true;
  }
  void closeinput() {
    if (in >= 0) close(in);
    in = -1;
  }
  void answer(const std::string &keys) { ASSERT_EQ(write(in, keys.data(), keys.size()), (ssize_t)keys.size()); }
  // Closes the input, reads the rest of the output and waits for the end.
  runresult finish() {
    closeinput();
    while (readmore()) {
    }
    if (hung) kill(pid, SIGKILL);
    close(out);
    out = -1;
    int st = 0;
    waitpid(pid, &st, 0);
    pid = -1;
    EXPECT_FALSE(hung) << "the run did not end; output so far:\n" << seen;
    return {WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st), seen};
  }
};

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
  void symlinkto(const std::string &rel, const std::string &target) {
    ASSERT_EQ(symlink(target.c_str(), path(rel).c_str()), 0) << rel;
  }

  // No temporary archive is left behind.
  void notemporary() {
    for (auto &n : listdir()) EXPECT_NE(n.rfind(".vorpak", 0), 0u) << n;
  }
  // The run ended with status 1 and this error (unless empty), leaving
  // nothing behind but these files, the earlier archive unchanged.
  void expectfailed(const runresult &r, const std::string &error, const std::vector<std::string> &files) {
    EXPECT_EQ(r.status, 1) << r.out;
    std::string tail = error.empty() ? "" : error + "\n";
    EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), tail.size())), tail) << r.out;
    EXPECT_EQ(readfile(path("save.zip")), old);
    EXPECT_EQ(listdir(), files);
  }
};

// ---- Inputs that cannot be opened ----------------------------------------------

TEST_F(Faults, InputThatCannotBeOpenedEndsTheRun) {
  put("a.txt", "A");
  symlinkto("gone", "nowhere");   // listed, but cannot be opened
  symlinkto("loop", "loop");
  put("sub/a.txt", "A");
  symlinkto("sub/gone", "nowhere");
  put("save.zip", old);
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-y", "-s4", "save", "a.txt", "gone"}, "  Adding: gone         VOflating Error: gone not found"},
      {{"-y", "save", "a.txt", "loop"}, "  Adding: loop         VOflating Error: loop not found"},
      // Named by its path; no archive of that name is left behind.
      {{"-r", "new", "sub"}, "  Adding: sub/gone     VOflating Error: sub/gone not found"},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.second);
    runresult r = run(c.first);
    std::vector<std::string> l = rendered(r.out);
    ASSERT_GE(l.size(), 2u) << r.out;
    EXPECT_EQ(l[l.size() - 2], c.second);
    expectfailed(r, "", {"a.txt", "gone", "loop", "save.zip", "sub"});
  }
}

// ---- The archive cannot be written ------------------------------------------

TEST_F(Faults, SizeLimit) {
  put("big", randombytes(1500000, 60));   // more than one write of the archive ring
  put("text", textbytes(200000, 70));
  namedata files{{"a.bin", randombytes(30000, 71)}, {"b.bin", randombytes(5000, 72)}};
  for (auto &f : files) put(f.first, f.second);
  const std::vector<std::string> all = {"a.bin", "b.bin", "big", "save.zip", "text"};
  const std::string error = "Error: save.zip could not be written";
  put("save.zip", old);

  auto limited = [&](const std::vector<std::string> &args, rlim_t limit) {
    return liverun(dir, args, stdinclosed, limit).finish();
  };
  runresult r = limited({"-y", "-s4", "save", "big"}, 200000);
  EXPECT_EQ(r.out, "Creating ZIP: save.zip\n" + adding("big") + error + "\n");
  expectfailed(r, error, all);
  r = limited({"-q", "-s4", "save", "big"}, 200000);
  EXPECT_EQ(r.out, "");
  expectfailed(r, "", all);
  // Less than one ring of output: the first write is the one that moves
  // back to patch the entry's header after the first pass.
  expectfailed(limited({"-y", "save", "text"}, 4000), error, all);
  // Stored entries give an archive size known in advance; the limit falls
  // one byte before its last (the end record does not fit) or on it.
  const int64_t size = storedarchivesize(files);
  expectfailed(limited({"-y", "-s4", "save", "a.bin", "b.bin"}, (rlim_t)size - 1), error, all);
  r = limited({"-y", "-s4", "save", "a.bin", "b.bin"}, (rlim_t)size);
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

TEST_F(Faults, ArchiveThatCannotBeOpened) {
  put("a.txt", "some text\n");
  runresult r = run({"nodir/save", "a.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Error: nodir/save.zip could not be opened\n");
  EXPECT_EQ(listdir(), std::vector<std::string>{"a.txt"});
  // Permission bits do not stop root, which the tests may run as; a
  // read-only mount stops everyone.
  NEEDNAMESPACES();
  put("ro/save.zip", old);
  std::string script = "mount --bind ro ro && mount -o remount,bind,ro ro || exit 99; exec " +
                       shq(VORPAK_BIN) + " -y -s4 ro/save a.txt";
  r = runshell(dir, "unshare -Urm sh -c " + shq(script));
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
  std::filesystem::create_directories(path("full"));
  for (const char *args : {"-s4 full/save noise", "full/save text"}) {
    SCOPED_TRACE(args);
    std::string script = "mount -t tmpfs -o size=16k tmpfs full || exit 99; printf %s " + shq(old) +
                         " > full/save.zip; " + shq(VORPAK_BIN) + " -y " + args +
                         "; echo status $?; ls -A full; cat full/save.zip";
    runresult sh = runshell(dir, "unshare -Urm sh -c " + shq(script) + " </dev/null");
    // The error, the status, nothing left in full but the earlier archive.
    std::string tail = "Error: full/save.zip could not be written\nstatus 1\nsave.zip\n" + old;
    EXPECT_EQ(sh.out.substr(sh.out.size() - std::min(sh.out.size(), tail.size())), tail) << sh.out;
  }
}

// ---- Inputs that change after they were listed --------------------------------
//
// The overwrite question comes after the listing and before any file is
// opened, so a change made while it waits happens between the two without
// any race.

TEST_F(Faults, InputChangedAfterTheListing) {
  const std::string first = "the first file, unchanged\n", second = textbytes(100000, 75);
  put("a.txt", first);
  const std::string notfound = "Error: b.txt not found", unreadable = "Error: b.txt could not be read";
  const std::vector<std::tuple<std::vector<std::string>, std::string, std::string>> cases = {
      {{"-s4"}, "rm b.txt", notfound},
      {{"-s0"}, "rm b.txt", notfound},
      // Stored, read whole for the block layout, read by the passes.
      {{"-s4"}, "truncate -s 70000 b.txt", unreadable},
      {{"-s0"}, "truncate -s 70000 b.txt", unreadable},
      {{"-s1", "-b0"}, "truncate -s 70000 b.txt", unreadable},
      {{"-s3"}, "rm b.txt && mkdir b.txt", unreadable},
      // Regression: a FIFO put in place of a listed file made the open wait
      // for a writer for ever.
      {{"-s4"}, "rm b.txt && mkfifo b.txt", unreadable},
      // The size from the listing is the entry's size: what was appended
      // later is not read, and the archive stays consistent.
      {{"-s4"}, "head -c 5000 /dev/zero >> b.txt", ""},
      {{"-s2"}, "head -c 5000 /dev/zero >> b.txt", ""},
  };
  for (auto &[opts, change, error] : cases) {
    SCOPED_TRACE(opts[0] + ": " + change);
    removetree(path("b.txt"));
    put("b.txt", second);
    put("save.zip", old);
    std::vector<std::string> args = opts;
    args.insert(args.end(), {"save", "a.txt", "b.txt"});
    liverun lr(dir, args, stdinpipe);
    // Made while the question waits, the change falls between the listing
    // and the first open without any race.
    ASSERT_TRUE(lr.waitfor("save.zip already exists. Overwrite? (y/n)\n")) << lr.seen;
    ASSERT_EQ(runshell(dir, change).status, 0);
    lr.answer("y");
    runresult r = lr.finish();
    if (error.empty()) {
      EXPECT_EQ(r.status, 0) << r.out;
      checkall("save.zip", {{"a.txt", first}, {"b.txt", second}});
      notemporary();
    } else {
      expectfailed(r, error, error == notfound ? std::vector<std::string>{"a.txt", "save.zip"}
                                               : std::vector<std::string>{"a.txt", "b.txt", "save.zip"});
    }
  }
}

TEST_F(Faults, FileShrinkingWhileItIsCompressed) {
  // A race by nature: the file is cut to half once the passes have begun.
  // Whenever the cut lands, the run may only succeed with the data it
  // listed or fail with the read error; never a damaged archive.
  std::string text = textbytes(2000000, 77);
  put("big", text);
  put("save.zip", old);
  liverun lr(dir, {"-y", "-s0", "save", "big"}, stdinclosed);
  ASSERT_TRUE(lr.waitfor("VOflating ")) << lr.seen;
  ASSERT_EQ(truncate(path("big").c_str(), 1000000), 0);
  runresult r = lr.finish();
  if (r.status == 0) {
    checkall("save.zip", {{"big", text}});
    notemporary();
  } else {
    expectfailed(r, "Error: big could not be read", {"big", "save.zip"});
  }
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
  checkall("save.zip", {{"a/one.txt", "one\n"}, {"a/toc/two.txt", "two\n"}}, false);
  // Both named: each is walked under its own name, neither link entered.
  r = run({"-y", "-r", "-s4", "save", "a", "c"});
  ASSERT_EQ(r.status, 0) << r.out;
  checkall("save.zip", {{"a/one.txt", "one\n"}, {"c/two.txt", "two\n"}}, false);
  notemporary();
}

// ---- Signals and the unanswered question -------------------------------------

TEST_F(Faults, SignalDuringCompressionRemovesTheTemporaryArchive) {
  put("big", textbytes(2000000, 78));
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    put("save.zip", old);
    liverun lr(dir, {"-y", sig == SIGINT ? "-j1" : "-j4", "save", "big", "big"}, stdinclosed);
    // The progress word is flushed once the blocks are laid out: the passes
    // have begun and the temporary archive is open.
    ASSERT_TRUE(lr.waitfor(adding("big"))) << lr.seen;
    EXPECT_EQ(listdir().size(), 3u) << "no temporary archive";
    kill(lr.pid, sig);
    runresult r = lr.finish();
    EXPECT_EQ(r.status, 128 + sig) << r.out;
    EXPECT_EQ(readfile(path("save.zip")), old);
    EXPECT_EQ(listdir(), (std::vector<std::string>{"big", "save.zip"}));
  }
}

TEST_F(Faults, UnansweredQuestionCreatesNothing) {
  put("a.txt", "A");
  put("save.zip", old);
  const char *ways[] = {"standard input closed", "pipe closed before the question",
                        "keys that are no answer, then the pipe closed", "a signal while the question waits"};
  for (int way = 0; way < 4; way++) {
    SCOPED_TRACE(ways[way]);
    liverun lr(dir, {"-s4", "save", "a.txt"}, way == 0 ? stdinclosed : stdinpipe);
    if (way == 1) lr.closeinput();
    if (way >= 2) {
      ASSERT_TRUE(lr.waitfor("Overwrite? (y/n)\n")) << lr.seen;
    }
    if (way == 2) lr.answer("x\r\n ");
    if (way == 3) kill(lr.pid, SIGINT);
    runresult r = lr.finish();
    if (way < 3) {
      EXPECT_EQ(r.out, "save.zip already exists. Overwrite? (y/n)\nOperation cancelled.\n");
      expectfailed(r, "", {"a.txt", "save.zip"});
    } else {
      EXPECT_EQ(r.status, 128 + SIGINT);
      EXPECT_EQ(readfile(path("save.zip")), old);
      EXPECT_EQ(listdir(), (std::vector<std::string>{"a.txt", "save.zip"}));
    }
  }
}

}  // namespace
