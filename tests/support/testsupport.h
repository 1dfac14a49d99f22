// Helpers shared by the test programs: temporary directories, running the
// built program, files, and checks of archives by independent readers
// (zlib's inflate, unzip -t, Python's zipfile).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct runresult {
  int status;        // exit status, or 128 + signal number
  std::string out;   // everything written to standard output
};

// A new empty directory under $TMPDIR (or /tmp), removed by removetree.
std::string maketempdir();
void removetree(const std::string &dir);

// Runs the built vorpak in dir with args; standard input from stdinpath.
runresult runvorpak(const std::string &dir, const std::vector<std::string> &args,
                    const std::string &stdinpath = "/dev/null");
// Runs a shell command line in dir; standard output and error both captured.
runresult runshell(const std::string &dir, const std::string &cmd);
// Reads a forked child's output from fd to its end, closes fd and reaps pid.
runresult waitoutput(int pid, int fd);
// Sends this process's standard output to the file at path, from now on.
void redirectstdout(const std::string &path);

void writefile(const std::string &path, const std::string &data);
std::string readfile(const std::string &path);
bool fileexists(const std::string &path);

// The corpus under tests/data: the 11 file names, and a file's bytes after a
// check of its size and CRC-32. A missing or changed file throws, naming its
// path, so a test that uses it fails loudly instead of counting nothing.
const std::vector<std::string> &corpusnames();
std::string corpusfile(const std::string &name);
// EXPECTED.md beside the corpus; throws, naming the path, when it is missing.
std::string expectedtable();

// Deterministic test data.
std::string randombytes(size_t n, uint32_t seed);
std::string textbytes(size_t n, uint32_t seed);   // word-like text with repeats

// Raw Deflate inflate through zlib; ok is false when the stream is invalid
// or does not end exactly at the end of the data.
std::string inflateraw(const std::string &deflated, bool *ok);

// One entry as the central directory describes it, with its data.
struct zipentry {
  std::string name;
  uint16_t flags = 0, method = 0, version = 0, made = 0, time = 0, date = 0;
  uint32_t crc = 0, csize = 0, usize = 0, headoff = 0, extattr = 0;
  uint16_t lflags = 0, lmethod = 0;   // the local header's flags and method
  uint32_t lcrc = 0, lcsize = 0, lusize = 0;
  std::string data;   // the entry's data as stored in the archive
};
// Reads an archive's records (end record, central directory, local headers);
// ok is false when a record is missing or inconsistent.
std::vector<zipentry> parsezip(const std::string &bytes, bool *ok);

// Puts the real Python interpreter first on PATH (once per process).
void directpython();

// Checks zippath with `unzip -t` and with Python's zipfile (every CRC, the
// names in order, every member's bytes equal to the given file). Returns an
// empty string when both readers accept it, else what they said.
std::string checkarchive(const std::string &zippath,
                         const std::vector<std::pair<std::string, std::string>> &namesandfiles);

// Every deflated entry of the archive inflated by zlib equals expected; returns
// an empty string when so.
std::string checkinflate(const std::string &zipbytes,
                         const std::vector<std::pair<std::string, std::string>> &namesanddata);
