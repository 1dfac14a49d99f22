#include "testsupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

std::string maketempdir() {
  const char *base = getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/vorpaktest.XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back(0);
  if (!mkdtemp(buf.data())) abort();
  return std::string(buf.data());
}

void removetree(const std::string &dir) {
  if (dir.size() < 8) return;
  std::string cmd = "chmod -R u+rwx '" + dir + "' 2>/dev/null; rm -rf '" + dir + "'";
  if (system(cmd.c_str()) != 0) {
  }
}

static runresult runargv(const std::string &dir, const std::vector<std::string> &argv,
                         const std::string &stdinpath, bool mergestderr) {
  // With descriptor 0 closed the pipe would take it and the child's
  // redirections would undo each other.
  if (fcntl(0, F_GETFD) < 0) open("/dev/null", O_RDONLY);
  int fds[2];
  if (pipe(fds) != 0) abort();
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    int in = open(stdinpath.c_str(), O_RDONLY);
    if (in >= 0) {
      dup2(in, 0);
      close(in);
    } else {
      close(0);
    }
    dup2(fds[1], 1);
    if (mergestderr) dup2(fds[1], 2);
    close(fds[0]);
    close(fds[1]);
    std::vector<char *> args;
    for (auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  return waitoutput(pid, fds[0]);
}

runresult waitoutput(int pid, int fd) {
  std::string out;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, (size_t)n);
  close(fd);
  int st = 0;
  waitpid(pid, &st, 0);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st), out};
}

void redirectstdout(const std::string &path) {
  fflush(stdout);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) abort();
  dup2(fd, 1);
  close(fd);
}

runresult runvorpak(const std::string &dir, const std::vector<std::string> &args,
                    const std::string &stdinpath) {
  std::vector<std::string> argv{VORPAK_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  return runargv(dir, argv, stdinpath, false);
}

runresult runshell(const std::string &dir, const std::string &cmd) {
  return runargv(dir, {"/bin/sh", "-c", cmd}, "/dev/null", true);
}

void writefile(const std::string &path, const std::string &data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(data.data(), (std::streamsize)data.size());
}

std::string readfile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool fileexists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

namespace {
struct corpusentry {
  const char *name;
  size_t size;
  uint32_t crc;
};
// The Canterbury corpus as tests/data/README.md lists it.
const corpusentry corpustable[] = {
    {"alice29.txt", 152089, 0x66007dba}, {"asyoulik.txt", 125179, 0x015e5966}, {"cp.html", 24603, 0xa8e0b833},
    {"fields.c", 11150, 0x4f618664},     {"grammar.lsp", 3721, 0xd313977d},    {"kennedy.xls", 1029744, 0x43e6dc8c},
    {"lcet10.txt", 426754, 0x4d331faf},  {"plrabn12.txt", 481861, 0xa3247aeb}, {"ptt5", 513216, 0x4b17e59c},
    {"sum", 38240, 0x37aa0cbb},          {"xargs.1", 4227, 0xdecc31f7},
};
}  // namespace

const std::vector<std::string> &corpusnames() {
  static std::vector<std::string> names;
  if (names.empty())
    for (auto &e : corpustable) names.push_back(e.name);
  return names;
}

std::string corpusfile(const std::string &name) {
  std::string path = std::string(VORPAK_CORPUS) + "/" + name;
  for (auto &e : corpustable) {
    if (name != e.name) continue;
    if (!fileexists(path)) throw std::runtime_error("corpus file missing: " + path);
    std::string data = readfile(path);
    if (data.size() != e.size || crc32(0, (const Bytef *)data.data(), (uInt)data.size()) != e.crc)
      throw std::runtime_error("corpus file changed (size or CRC-32 differ from tests/data/README.md): " + path);
    return data;
  }
  throw std::runtime_error("not a corpus file: " + path);
}

std::string expectedtable() {
  std::string path = std::string(VORPAK_CORPUS) + "/../EXPECTED.md";
  if (!fileexists(path)) throw std::runtime_error("expected results missing: " + path);
  return readfile(path);
}

static uint32_t xorshift(uint32_t &s) {
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  return s;
}

std::string randombytes(size_t n, uint32_t seed) {
  uint32_t s = seed * 2654435761u + 1;
  std::string r(n, '\0');
  for (size_t k = 0; k < n; k++) r[k] = (char)(xorshift(s) >> 24);
  return r;
}

std::string textbytes(size_t n, uint32_t seed) {
  static const char *words[] = {"the ", "quick ", "brown ", "fox ", "jumps ", "over ", "lazy ",
                                "dog ", "and ", "a ", "zip ", "file ", "of ", "bytes ", "deflate\n",
                                "Huffman ", "block ", "pass, ", "match. ", "literal "};
  uint32_t s = seed * 2654435761u + 7;
  std::string r;
  while (r.size() < n) r += words[xorshift(s) % 20];
  r.resize(n);
  return r;
}

std::string inflateraw(const std::string &deflated, bool *ok) {
  z_stream z;
  memset(&z, 0, sizeof z);
  *ok = false;
  if (inflateInit2(&z, -15) != Z_OK) return "";
  z.next_in = (Bytef *)deflated.data();
  z.avail_in = (uInt)deflated.size();
  std::string out;
  char buf[65536];
  int rc;
  do {
    z.next_out = (Bytef *)buf;
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buf, sizeof buf - z.avail_out);
  } while (rc == Z_OK && (z.avail_in > 0 || z.avail_out == 0));
  *ok = rc == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return out;
}

static uint32_t le16(const std::string &b, size_t o) {
  return (uint8_t)b[o] | (uint32_t)(uint8_t)b[o + 1] << 8;
}
static uint32_t le32(const std::string &b, size_t o) { return le16(b, o) | le16(b, o + 2) << 16; }

std::vector<zipentry> parsezip(const std::string &b, bool *ok) {
  std::vector<zipentry> v;
  *ok = false;
  if (b.size() < 22) return v;
  size_t e = b.size() - 22;
  if (le32(b, e) != 0x06054b50) return v;
  uint32_t n = le16(b, e + 10), cdsize = le32(b, e + 12), cdoff = le32(b, e + 16);
  if (le16(b, e + 8) != n || (size_t)cdoff + cdsize != e) return v;
  size_t o = cdoff;
  for (uint32_t k = 0; k < n; k++) {
    if (o + 46 > e || le32(b, o) != 0x02014b50) return v;
    zipentry z;
    z.made = (uint16_t)le16(b, o + 4);
    z.version = (uint16_t)le16(b, o + 6);
    z.flags = (uint16_t)le16(b, o + 8);
    z.method = (uint16_t)le16(b, o + 10);
    z.time = (uint16_t)le16(b, o + 12);
    z.date = (uint16_t)le16(b, o + 14);
    z.crc = le32(b, o + 16);
    z.csize = le32(b, o + 20);
    z.usize = le32(b, o + 24);
    uint32_t nl = le16(b, o + 28), xl = le16(b, o + 30), cl = le16(b, o + 32);
    z.extattr = le32(b, o + 38);
    z.headoff = le32(b, o + 42);
    z.name = b.substr(o + 46, nl);
    o += 46 + nl + xl + cl;
    size_t h = z.headoff;
    if (h + 30 > b.size() || le32(b, h) != 0x04034b50) return v;
    z.lflags = (uint16_t)le16(b, h + 6);
    z.lmethod = (uint16_t)le16(b, h + 8);
    z.lcrc = le32(b, h + 14);
    z.lcsize = le32(b, h + 18);
    z.lusize = le32(b, h + 22);
    uint32_t lnl = le16(b, h + 26), lxl = le16(b, h + 28);
    if (b.substr(h + 30, lnl) != z.name) return v;
    size_t d = h + 30 + lnl + lxl;
    if (d + z.csize > b.size()) return v;
    z.data = b.substr(d, z.csize);
    v.push_back(z);
  }
  *ok = o == e;
  return v;
}

static std::string shellquote(const std::string &s) {
  std::string r = "'";
  for (char c : s) {
    if (c == '\'') r += "'\\''";
    else r += c;
  }
  return r + "'";
}

// The archive checks start Python once per archive. A version manager's
// shim in front of the interpreter costs more than the check itself, so the
// interpreter it resolves to is looked up once and put first on the path.
void directpython() {
  static bool done = false;
  if (done) return;
  done = true;
  runresult r = runshell("/", "python3 -c 'import os, sys; print(os.path.dirname(os.path.realpath(sys.executable)))'");
  std::string d = r.out.substr(0, r.out.find('\n'));
  if (r.status != 0 || d.empty() || d[0] != '/') return;
  const char *old = getenv("PATH");
  std::string p = d + ":" + (old ? old : "/usr/bin:/bin");
  setenv("PATH", p.c_str(), 1);
}

std::string checkarchive(const std::string &zippath,
                         const std::vector<std::pair<std::string, std::string>> &namesandfiles) {
  directpython();
  std::string problems;
  runresult u = runshell("/", "unzip -t " + shellquote(zippath));
  if (u.status != 0) problems += "unzip -t failed:\n" + u.out;
  std::string cmd = "python3 " + shellquote(std::string(VORPAK_TESTDIR) + "/support/checkzip.py") +
                    " " + shellquote(zippath);
  for (auto &nf : namesandfiles) {
    cmd += ' ';
    cmd += shellquote(nf.first);
    cmd += ' ';
    cmd += shellquote(nf.second);
  }
  runresult p = runshell("/", cmd);
  if (p.status != 0) problems += "zipfile:\n" + p.out;
  return problems;
}

std::string checkinflate(const std::string &zipbytes,
                         const std::vector<std::pair<std::string, std::string>> &namesanddata) {
  bool ok;
  auto entries = parsezip(zipbytes, &ok);
  if (!ok) return "archive records unreadable";
  if (entries.size() != namesanddata.size()) return "wrong number of entries";
  for (size_t k = 0; k < entries.size(); k++) {
    auto &z = entries[k];
    if (z.name != namesanddata[k].first) return "entry " + z.name + " out of order";
    std::string got;
    if (z.method == 8) {
      got = inflateraw(z.data, &ok);
      if (!ok) return "entry " + z.name + ": zlib cannot inflate it";
    } else if (z.method == 0) {
      got = z.data;
    } else {
      return "entry " + z.name + ": unknown method";
    }
    if (got != namesanddata[k].second) return "entry " + z.name + ": data differ";
    if (crc32(0, (const Bytef *)got.data(), (uInt)got.size()) != z.crc) return "entry " + z.name + ": CRC wrong";
  }
  return "";
}
