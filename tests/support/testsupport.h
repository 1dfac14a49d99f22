// Helpers of the test programs: scratch directories, child processes, test
// data, and the independent readers that check every archive.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct runresult {
  int status;        // exit status, or 128 + signal number
  std::string out;   // standard output (and standard error for runshell)
  std::string err;   // standard error (runvorpak)
};
using namedata = std::vector<std::pair<std::string, std::string>>;

std::string maketempdir();
void removetree(const std::string &dir);
// The built vorpak in dir, standard input from stdinpath.
runresult runvorpak(const std::string &dir, const std::vector<std::string> &args,
                    const std::string &stdinpath = "/dev/null");
runresult runshell(const std::string &dir, const std::string &cmd);
// Reads a forked child's output from fd to its end, closes fd and reaps pid.
runresult waitoutput(int pid, int fd);
std::string shq(const std::string &s);   // quoted for the shell

void writefile(const std::string &path, const std::string &data);
std::string readfile(const std::string &path);
bool fileexists(const std::string &path);

// Deterministic test data: noise, and word-like text with repeats.
std::string randombytes(size_t n, uint32_t seed);
std::string textbytes(size_t n, uint32_t seed);

// A corpus file's bytes, checked against its size and CRC-32 (throws naming
// the path), and the rows of one section of EXPECTED.md.
std::string corpusfile(const std::string &name);
struct expectedrow {
  std::string file;
  int method = 0, bytes = 0, passes = 0, blocks = 0;
  std::vector<int> ends;   // block ends shown (a list cut off with "..." shows a prefix)
  bool cut;                // the list was cut: its last number may be cut off too
};
std::vector<expectedrow> expectedrows(const std::string &section);
bool quick();   // VORPAK_QUICK: the sanitizers' run keeps to small inputs

// Raw Deflate through zlib; ok only if valid and ending with the data.
std::string inflateraw(const std::string &deflated, bool *ok);

// The blocks of a raw Deflate stream as zlib's inflate finds them (it stops
// at every block's end), each with its BTYPE (read from the stream's bits
// where zlib says the block begins) and where its data ends in out, the
// inflated data; empty when the stream is not valid to its last byte.
struct inflatedblock {
  int type;
  int64_t end;
};
std::vector<inflatedblock> inflateblocks(const std::string &deflated, std::string &out);

// One entry as the central directory and its local header describe it.
struct zipentry {
  std::string name, extra, comment, lextra;
  uint16_t made = 0, version = 0, flags = 0, method = 0, time = 0, date = 0, intattr = 0;
  uint16_t lversion = 0, lflags = 0, lmethod = 0, ltime = 0, ldate = 0;
  uint32_t crc = 0, csize = 0, usize = 0, headoff = 0, extattr = 0, lcrc = 0, lcsize = 0, lusize = 0;
  std::string data;   // the entry's data as stored in the archive
};
uint32_t le16(const std::string &b, size_t o);
uint32_t le32(const std::string &b, size_t o);
// An archive's records; ok is false when one is missing or inconsistent.
std::vector<zipentry> parsezip(const std::string &bytes, bool *ok, std::string *comment = nullptr);

// unzip -t, Python's zipfile, zlib (and the CRCs), bsdtar and 7-Zip find
// exactly these entries in this order; returns what they said, or "".
std::string checkreaders(const std::string &zippath, const namedata &entries);
