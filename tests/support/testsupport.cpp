#include "testsupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <tuple>

std::string maketempdir() {
  const char *base = getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/vorpaktest.XXXXXX";
  if (!mkdtemp(tmpl.data())) abort();
  return tmpl;
}

void removetree(const std::string &dir) {
  if (dir.size() > 8) runshell("/", "chmod -R u+rwx " + shq(dir) + " 2>/dev/null; rm -rf " + shq(dir));
}

std::string shq(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Standard error goes to the output pipe too (mergestderr) or to a file
// read when the child has ended.
static runresult runargv(const std::string &dir, const std::vector<std::string> &argv, const std::string &in,
                         bool mergestderr) {
  int fds[2];
  if (pipe(fds) != 0) abort();
  std::string errpath;
  if (!mergestderr) {
    const char *base = getenv("TMPDIR");
    errpath = std::string(base && *base ? base : "/tmp") + "/vorpakstderr.XXXXXX";
    int efd = mkstemp(errpath.data());
    if (efd < 0) abort();
    close(efd);
  }
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(in.c_str(), O_RDONLY);
    int errfd = mergestderr ? fds[1] : open(errpath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (chdir(dir.c_str()) != 0 || fd < 0 || errfd < 0) _exit(126);
    dup2(fd, 0);
    dup2(fds[1], 1);
    dup2(errfd, 2);
    std::vector<char *> args;
    for (auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  runresult r = waitoutput(pid, fds[0]);
  if (!mergestderr) {
    r.err = readfile(errpath);
    unlink(errpath.c_str());
  }
  return r;
}

runresult waitoutput(int pid, int fd) {
  std::string out;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, (size_t)n);
  close(fd);
  int st = 0;
  waitpid(pid, &st, 0);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st), out, ""};
}

runresult runvorpak(const std::string &dir, const std::vector<std::string> &args, const std::string &in) {
  std::vector<std::string> argv{VORPAK_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  return runargv(dir, argv, in, false);
}

runresult runshell(const std::string &dir, const std::string &cmd) {
  return runargv(dir, {"/bin/sh", "-c", cmd}, "/dev/null", true);
}

void writefile(const std::string &path, const std::string &data) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(data.data(), (std::streamsize)data.size());
}

std::string readfile(const std::string &path) {
  std::stringstream ss;
  ss << std::ifstream(path, std::ios::binary).rdbuf();
  return ss.str();
}

bool fileexists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

static uint32_t xorshift(uint32_t &s) { return s ^= s << 13, s ^= s >> 17, s ^= s << 5; }

std::string randombytes(size_t n, uint32_t seed) {
  uint32_t s = seed * 2654435761u + 1;
  std::string r(n, '\0');
  for (auto &c : r) c = (char)(xorshift(s) >> 24);
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

bool quick() { return getenv("VORPAK_QUICK") != nullptr; }

std::string corpusfile(const std::string &name) {
  // The Canterbury corpus as data/README.md lists it.
  static const std::vector<std::tuple<std::string, size_t, uint32_t>> table = {
      {"alice29.txt", 152089, 0x66007dba}, {"asyoulik.txt", 125179, 0x015e5966}, {"cp.html", 24603, 0xa8e0b833},
      {"fields.c", 11150, 0x4f618664},     {"grammar.lsp", 3721, 0xd313977d},    {"kennedy.xls", 1029744, 0x43e6dc8c},
      {"lcet10.txt", 426754, 0x4d331faf},  {"plrabn12.txt", 481861, 0xa3247aeb}, {"ptt5", 513216, 0x4b17e59c},
      {"sum", 38240, 0x37aa0cbb},          {"xargs.1", 4227, 0xdecc31f7}};
  std::string path = std::string(VORPAK_DATA) + "/canterbury/" + name;
  for (auto &[file, size, crc] : table) {
    if (name != file) continue;
    std::string data = readfile(path);
    if (data.size() != size || crc32(0, (const Bytef *)data.data(), (uInt)data.size()) != crc)
      throw std::runtime_error("corpus file missing or changed (see data/README.md): " + path);
    return data;
  }
  throw std::runtime_error("not a corpus file: " + path);
}

std::vector<expectedrow> expectedrows(const std::string &section) {
  std::string path = std::string(VORPAK_DATA) + "/EXPECTED.md";
  std::istringstream in(readfile(path));
  std::vector<expectedrow> rows;
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("## ", 0) == 0) inside = line == "## vorpak " + section;
    char file[64], ends[4096];
    expectedrow r;
    if (!inside || sscanf(line.c_str(), "| %63s | %d | %d | %d | %d | %4095[^|]", file, &r.method, &r.bytes, &r.passes, &r.blocks, ends) != 6) continue;
    r.file = file, r.cut = strstr(ends, "...");
    for (char *p = ends; (p = strpbrk(p, "0123456789"));) r.ends.push_back((int)strtol(p, &p, 10));
    rows.push_back(r);
  }
  if (rows.size() != 11) throw std::runtime_error("section '" + section + "' of " + path + " (missing?) has no 11 rows");
  return rows;
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

std::vector<inflatedblock> inflateblocks(const std::string &deflated, std::string &out) {
  std::vector<inflatedblock> blocks;
  out.clear();
  z_stream z;
  memset(&z, 0, sizeof z);
  if (inflateInit2(&z, -15) != Z_OK) return blocks;
  z.next_in = (Bytef *)deflated.data();
  z.avail_in = (uInt)deflated.size();
  // BTYPE: the two bits after BFINAL at the block's first bit.
  auto typeat = [&](uint64_t bit) {
    int v = 0;
    for (uint64_t k = 0; k < 2; k++) {
      uint64_t b = bit + 1 + k;
      if (b / 8 >= deflated.size()) return -1;
      v |= ((uint8_t)deflated[b / 8] >> (b % 8) & 1) << k;
    }
    return v;
  };
  blocks.push_back({typeat(0), 0});
  std::string buf(1 << 20, '\0');
  int rc;
  do {
    z.next_out = (Bytef *)buf.data();
    z.avail_out = (uInt)buf.size();
    // Z_BLOCK: zlib stops after each end of block (bit 128 of data_type; bit
    // 64 once the block ended was the last), and data_type tells how many
    // bits of the last byte it took are the next block's.
    rc = inflate(&z, Z_BLOCK);
    out.append(buf.data(), buf.size() - z.avail_out);
    if (rc == Z_OK && (z.data_type & 128) && !(z.data_type & 64)) {
      blocks.back().end = (int64_t)out.size();
      blocks.push_back({typeat((uint64_t)z.total_in * 8 - (uint64_t)(z.data_type & 7)), 0});
    }
  } while (rc == Z_OK);
  blocks.back().end = (int64_t)out.size();
  if (rc != Z_STREAM_END || z.avail_in != 0) blocks.clear();
  inflateEnd(&z);
  return blocks;
}

uint32_t le16(const std::string &b, size_t o) { return (uint8_t)b[o] | (uint32_t)(uint8_t)b[o + 1] << 8; }
uint32_t le32(const std::string &b, size_t o) { return le16(b, o) | le16(b, o + 2) << 16; }

std::vector<zipentry> parsezip(const std::string &b, bool *ok, std::string *comment) {
  std::vector<zipentry> v;
  *ok = false;
  size_t e = b.size() < 22 ? std::string::npos : b.rfind(std::string("PK\5\6", 4));
  if (e == std::string::npos || e + 22 + le16(b, e + 20) != b.size()) return v;
  if (comment) *comment = b.substr(e + 22);
  uint32_t n = le16(b, e + 10), cdsize = le32(b, e + 12), o = le32(b, e + 16);
  if (le16(b, e + 8) != n || (size_t)o + cdsize != e) return v;
  for (uint32_t k = 0; k < n; k++) {
    if (o + 46 > e || le32(b, o) != 0x02014b50) return v;
    zipentry z;
    z.made = (uint16_t)le16(b, o + 4), z.version = (uint16_t)le16(b, o + 6), z.flags = (uint16_t)le16(b, o + 8);
    z.method = (uint16_t)le16(b, o + 10), z.time = (uint16_t)le16(b, o + 12), z.date = (uint16_t)le16(b, o + 14);
    z.crc = le32(b, o + 16), z.csize = le32(b, o + 20), z.usize = le32(b, o + 24);
    uint32_t nl = le16(b, o + 28), xl = le16(b, o + 30), cl = le16(b, o + 32);
    z.intattr = (uint16_t)le16(b, o + 36), z.extattr = le32(b, o + 38), z.headoff = le32(b, o + 42);
    z.name = b.substr(o + 46, nl), z.extra = b.substr(o + 46 + nl, xl), z.comment = b.substr(o + 46 + nl + xl, cl);
    o += 46 + nl + xl + cl;
    size_t h = z.headoff;
    if (h + 30 > b.size() || le32(b, h) != 0x04034b50) return v;
    z.lversion = (uint16_t)le16(b, h + 4), z.lflags = (uint16_t)le16(b, h + 6), z.lmethod = (uint16_t)le16(b, h + 8);
    z.ltime = (uint16_t)le16(b, h + 10), z.ldate = (uint16_t)le16(b, h + 12);
    z.lcrc = le32(b, h + 14), z.lcsize = le32(b, h + 18), z.lusize = le32(b, h + 22);
    uint32_t lnl = le16(b, h + 26), lxl = le16(b, h + 28);
    if (b.substr(h + 30, lnl) != z.name || h + 30 + lnl + lxl + z.csize > b.size()) return v;
    z.lextra = b.substr(h + 30 + lnl, lxl);
    z.data = b.substr(h + 30 + lnl + lxl, z.csize);
    v.push_back(z);
  }
  *ok = o == e;
  return v;
}

std::string checkreaders(const std::string &zippath, const namedata &want) {
  std::string problems, bytes = readfile(zippath), all, dir = maketempdir();
  bool ok;
  auto entries = parsezip(bytes, &ok);
  if (!ok || entries.size() != want.size()) problems += "records unreadable or a wrong number of entries\n";
  // Python's zipfile: every CRC, and the names in order with their bytes
  // (names and files listed in a file: a long list does not fit a command).
  std::string cmd = "python3 -c 'import os, sys, zipfile\nz = zipfile.ZipFile(sys.argv[1]); assert z.testzip() is None\n"
                    "w = [os.fsdecode(x) for x in open(sys.argv[2], \"rb\").read().split(b\"\\0\")[:-1]]\n"
                    "assert z.namelist() == w[0::2], (z.namelist(), w[0::2])\n"
                    "for n, p in zip(w[0::2], w[1::2]): assert z.read(n) == open(p, \"rb\").read(), n' " + shq(zippath) + " list";
  std::string list;
  for (size_t k = 0; k < want.size(); k++) {
    std::string f = dir + "/" + std::to_string(k);
    writefile(f, want[k].second);
    list += want[k].first + '\0' + f + '\0';
    if (k >= entries.size()) continue;
    const zipentry &z = entries[k];
    // bsdtar -O writes a file's bytes, none for a symbolic link.
    if (!((z.made >> 8) == 3 && (z.extattr >> 28) == 0xA)) all += want[k].second;
    std::string got = z.method == 8 ? inflateraw(z.data, &ok) : z.data;
    if (z.name != want[k].first || (z.method == 8 && !ok) || got != want[k].second ||
        crc32(0, (const Bytef *)got.data(), (uInt)got.size()) != z.crc)
      problems += "zlib: entry " + z.name + " differs\n";
  }
  writefile(dir + "/list", list);
  auto check = [&](const std::string &what, const std::string &c, const std::string &needs = "") {
    runresult r = runshell(dir, c);
    if (r.status != 0 || r.out.find(needs) == std::string::npos) problems += what + ":\n" + r.out;
  };
  check("unzip -t", "unzip -t " + shq(zippath));
  check("Python's zipfile", cmd);
  check("bsdtar", "bsdtar -xOf " + shq(zippath) + " > out");
  if (readfile(dir + "/out") != all) problems += "bsdtar extracts other bytes\n";
  check("7zz", "7zz t " + shq(zippath), "Everything is Ok");
  removetree(dir);
  return problems;
}
