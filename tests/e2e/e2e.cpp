#include "e2e.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <set>

void E2E::SetUp() {
  directpython();
  dir = maketempdir();
  scratch = maketempdir();
}

void E2E::TearDown() {
  removetree(dir);
  removetree(scratch);
}

void E2E::mkdirs(const std::string &rel) { std::filesystem::create_directories(path(rel)); }

void E2E::put(const std::string &rel, const std::string &data) {
  std::filesystem::create_directories(std::filesystem::path(path(rel)).parent_path());
  writefile(path(rel), data);
}

void E2E::symlinkto(const std::string &rel, const std::string &target) {
  ASSERT_EQ(symlink(target.c_str(), path(rel).c_str()), 0) << rel;
}

runresult E2E::run(const std::vector<std::string> &args) { return runvorpak(dir, args); }

runresult E2E::runwithinput(const std::vector<std::string> &args, const std::string &input) {
  std::string in = scratch + "/stdin";
  writefile(in, input);
  return runvorpak(dir, args, in);
}

bool havetool(const std::string &tool) {
  static std::map<std::string, bool> known;
  auto it = known.find(tool);
  if (it != known.end()) return it->second;
  bool have = runshell("/", "command -v " + tool + " >/dev/null").status == 0;
  if (!have) fprintf(stderr, "[  SKIPPED ] %s is not installed: archives are not checked with it\n", tool.c_str());
  return known[tool] = have;
}

std::string shq(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

void E2E::checkall(const std::string &zip, const namedata &want) {
  std::string zpath = path(zip);
  ASSERT_TRUE(fileexists(zpath)) << zip << " was not written";
  std::string bytes = readfile(zpath);

  namedata namesandfiles;
  std::string all;
  for (size_t k = 0; k < want.size(); k++) {
    std::string f = scratch + "/expect" + std::to_string(k);
    writefile(f, want[k].second);
    namesandfiles.push_back({want[k].first, f});
    all += want[k].second;
  }
  EXPECT_EQ(checkarchive(zpath, namesandfiles), "") << zip;
  EXPECT_EQ(checkinflate(bytes, want), "") << zip;

  if (havetool("bsdtar")) {
    runresult t = runshell("/", "bsdtar -tvf " + shq(zpath));
    EXPECT_EQ(t.status, 0) << "bsdtar -tvf " << zip << ":\n" << t.out;
    EXPECT_EQ((size_t)std::count(t.out.begin(), t.out.end(), '\n'), want.size()) << t.out;
    std::string got = scratch + "/bsdtarout";
    runresult x = runshell("/", "bsdtar -xOf " + shq(zpath) + " > " + shq(got));
    EXPECT_EQ(x.status, 0) << "bsdtar -xOf " << zip << ":\n" << x.out;
    EXPECT_TRUE(readfile(got) == all) << "bsdtar extracts other bytes from " << zip;
  }
  if (havetool("7zz")) {
    runresult s = runshell("/", "7zz t " + shq(zpath));
    EXPECT_EQ(s.status, 0) << "7zz t " << zip << ":\n" << s.out;
    EXPECT_NE(s.out.find("Everything is Ok"), std::string::npos) << s.out;
  }
}

void E2E::checkset(const std::string &zip, const std::map<std::string, std::string> &want) {
  std::vector<std::string> order = names(zip), expected;
  for (auto &w : want) expected.push_back(w.first);
  ASSERT_EQ(std::multiset<std::string>(order.begin(), order.end()),
            std::multiset<std::string>(expected.begin(), expected.end())) << zip;
  namedata ordered;
  for (auto &n : order) ordered.push_back({n, want.at(n)});
  checkall(zip, ordered);
}

std::vector<zipentry> E2E::entries(const std::string &zip) {
  bool ok = false;
  auto v = parsezip(readfile(path(zip)), &ok);
  EXPECT_TRUE(ok) << zip << ": records unreadable";
  return v;
}

std::vector<std::string> E2E::names(const std::string &zip) {
  std::vector<std::string> r;
  for (auto &z : entries(zip)) r.push_back(z.name);
  return r;
}

void E2E::expectcancelled(const runresult &r, const std::string &old) {
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "save.zip already exists. Overwrite? (y/n)\nOperation cancelled.\n");
  EXPECT_EQ(readfile(path("save.zip")), old);
  EXPECT_EQ(listdir(), (std::vector<std::string>{"a.txt", "save.zip"}));
}

std::vector<std::string> E2E::listdir(const std::string &rel) {
  std::vector<std::string> r;
  std::error_code ec;
  for (auto &e : std::filesystem::directory_iterator(path(rel), ec)) r.push_back(e.path().filename());
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
  std::vector<std::string> lines;
  std::string line;
  size_t col = 0;
  for (char c : out) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
      col = 0;
    } else if (c == '\b') {
      if (col > 0) col--;
    } else {
      if (col < line.size()) line[col] = c;
      else line += c;
      col++;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::vector<std::string> rawlines(const std::string &out) {
  std::vector<std::string> lines(1);
  for (char c : out) {
    if (c == '\n') lines.emplace_back();
    else lines.back() += c;
  }
  return lines;
}

std::string figures(int64_t compressed, int64_t original) {
  int64_t p = original ? 100 - compressed * 100 / original : 0;
  return fmt("%9lld/%9lld bytes (%2lld%%)", (long long)compressed, (long long)original, (long long)p);
}

std::string storedtext(int64_t leng) {
  return fmt("Stored :( %9lld/%9lld bytes ( 0%%)  ", (long long)leng, (long long)leng);
}

std::string totalsline(int64_t archive, int64_t input) {
  int64_t p = input ? 100 - archive * 100 / input : 0;
  return fmt("      Total (including headers): %9lld/%9lld bytes (%2lld%%)", (long long)archive,
             (long long)input, (long long)p);
}

int64_t storedarchivesize(const namedata &entries) {
  int64_t n = 22;
  for (auto &e : entries) n += 30 + 46 + 2 * (int64_t)e.first.size() + (int64_t)e.second.size();
  return n;
}
