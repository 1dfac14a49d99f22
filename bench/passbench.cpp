// Throughput of one compression pass, without the driver around it.
//
// The file is read into memory once, so the figure is the encoder's own
// speed (parse, match search, Huffman coding, the sink's ring over a file)
// and not the disk's. Two passes are measured for each file, both over a
// single block and from the fixed starting lengths of a first pass:
//   strategy 3 (Huffman Only): a literal pass, no match search at all;
//   strategy 0 (Xtreme): the full search, the most expensive pass there is.
// Each measurement repeats the pass until the time asked for has gone by,
// after one untimed pass that touches the tables' memory. MB = 1,048,576
// bytes.
//
//   passbench [-t seconds] [file ...]     (default: every file of the corpus)
#include <dirent.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "deflate/deflate.h"
#include "deflate/startingtables.h"

static double now(clockid_t c) {
  timespec ts;
  clock_gettime(c, &ts);
  return (double)ts.tv_sec + ts.tv_nsec * 1e-9;
}

int main(int argc, char **argv) {
  double target = 1.0;
  std::vector<std::string> files;
  for (int k = 1; k < argc; k++) {
    if (!strcmp(argv[k], "-t") && k + 1 < argc) target = atof(argv[++k]);
    else files.push_back(argv[k]);
  }
  if (files.empty()) {
    DIR *d = opendir(VORPAK_CORPUS);
    if (!d) return fprintf(stderr, "passbench: no corpus at %s; name the files\n", VORPAK_CORPUS), 1;
    while (dirent *e = readdir(d))
      if (e->d_name[0] != '.') files.push_back(std::string(VORPAK_CORPUS) + "/" + e->d_name);
    closedir(d);
    std::sort(files.begin(), files.end());
  }
  char tmp[] = "/tmp/passbench.XXXXXX";
  int fd = mkstemp(tmp);
  unlink(tmp);
  std::unique_ptr<encoder> enc(new encoder);
  double bytes[2] = {}, wall[2] = {}, cpu[2] = {};
  printf("%-14s %10s  %-13s %7s %7s %9s %9s %10s\n", "file", "bytes", "pass", "passes", "secs", "MB/s", "MB/s cpu", "deflated");
  for (auto &path : files) {
    std::stringstream ss;
    ss << std::ifstream(path, std::ios::binary).rdbuf();
    const std::string data = ss.str();
    memorysource in((const uint8_t *)data.data(), data.size());
    const int32_t end = (int32_t)data.size();
    for (int32_t k = 0; k < 2; k++) {
      const int32_t strategy = k ? 0 : 3;
      std::vector<int32_t> lengths(slotcount);
      fixedlengths(strategy == 3, lengths.data());
      bytesink out(fd);
      int64_t len = 0;
      int32_t passes = -1;   // the first pass is not timed
      double w0 = 0, c0 = 0;
      while (passes < 1 || now(CLOCK_MONOTONIC) - w0 < target) {
        if (passes == 0) w0 = now(CLOCK_MONOTONIC), c0 = now(CLOCK_PROCESS_CPUTIME_ID);
        enc->setblocks({.strategy = strategy}, &end, 1, lengths.data());
        out.seek(0);
        len = enc->onepass(in, end, out);
        passes++;
      }
      double w = now(CLOCK_MONOTONIC) - w0, c = now(CLOCK_PROCESS_CPUTIME_ID) - c0, mb = data.size() * passes / 1048576.0;
      const char *name = strrchr(path.c_str(), '/') ? strrchr(path.c_str(), '/') + 1 : path.c_str();
      printf("%-14s %10zu  %-13s %7d %7.3f %9.2f %9.2f %10lld\n", name, data.size(), k ? "Xtreme (-s0)" : "literal (-s3)",
             passes, w, mb / w, mb / c, (long long)len);
      bytes[k] += data.size() * (double)passes, wall[k] += w, cpu[k] += c;
    }
  }
  for (int32_t k = 0; k < 2; k++)
    printf("total %-13s MB/s %9.2f  MB/s cpu %9.2f\n", k ? "Xtreme (-s0)" : "literal (-s3)", bytes[k] / 1048576.0 / wall[k],
           bytes[k] / 1048576.0 / cpu[k]);
  close(fd);
  return 0;
}
