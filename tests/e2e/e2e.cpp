#include "e2e.h"

#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <filesystem>

void E2E::put(const std::string &rel, const std::string &data) {
  std::filesystem::create_directories(std::filesystem::path(path(rel)).parent_path());
  writefile(path(rel), data);
}

runresult E2E::run(const std::vector<std::string> &args, const std::string &input) {
  std::string in = dir + "/../" + std::filesystem::path(dir).filename().string() + ".stdin";
  writefile(in, input);
  runresult r = runvorpak(dir, args, in);
  std::filesystem::remove(in);
  return r;
}

runresult E2E::runonterminal(std::vector<std::string> args) {
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    termios raw{};
    cfmakeraw(&raw);
    tcsetattr(1, TCSANOW, &raw);
    args.insert(args.begin(), VORPAK_BIN);
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (chdir(dir.c_str()) == 0) execv(VORPAK_BIN, argv.data());
    _exit(127);
  }
  return waitoutput(pid, master);   // the master fails once the program has ended
}

void E2E::checkall(const std::string &zip, const namedata &want) {
  ASSERT_TRUE(fileexists(path(zip))) << zip << " was not written";
  EXPECT_EQ(checkreaders(path(zip), want), "") << zip;
}

std::vector<zipentry> E2E::entries(const std::string &zip) {
  bool ok = false;
  auto v = parsezip(readfile(path(zip)), &ok);
  EXPECT_TRUE(ok) << zip << ": records unreadable";
  return v;
}

std::vector<std::string> E2E::listdir() {
  std::vector<std::string> r;
  for (auto &e : std::filesystem::directory_iterator(dir)) r.push_back(e.path().filename());
  std::sort(r.begin(), r.end());
  return r;
}

std::string fmt(const char *f, ...) {
  char buf[4096];
  va_list ap;
  va_start(ap, f);
  vsnprintf(buf, sizeof buf, f, ap);
  va_end(ap);
  return buf;
}

std::vector<std::string> rendered(const std::string &out) {
  std::vector<std::string> lines(1);
  size_t col = 0;
  for (char c : out) {
    std::string &line = lines.back();
    if (c == '\n') {
      lines.emplace_back();
      col = 0;
    } else if (c == '\b') {
      col -= col > 0;
    } else {
      if (col < line.size()) line[col] = c;
      else line += c;
      col++;
    }
  }
  return lines;
}

std::string adding(const std::string &name) { return fmt("  Adding: %-12s VOflating ", name.c_str()); }

std::string figures(int64_t compressed, int64_t original) {
  int64_t p = original ? 100 - compressed * 100 / original : 0;
  return fmt("%9lld/%9lld bytes (%2lld%%)", (long long)compressed, (long long)original, (long long)p);
}

std::string storedtext(int64_t size) { return fmt("Stored :( %9lld/%9lld bytes ( 0%%)  ", (long long)size, (long long)size); }

std::string totalsline(int64_t archive, int64_t input) {
  return "      Total (including headers): " + figures(archive, input);
}

