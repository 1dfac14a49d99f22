// A Unix tree through the program and back through the readers: modes,
// empty directories, links, the same bytes for the same tree, exclusions,
// and no failure that passes for success.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "e2e.h"

namespace {

using UnixTree = E2E;

std::string program() { return shq(VORPAK_BIN); }

// The tree of these tests, made by the shell in the given order of
// creation, every time set to one second so that only the order differs.
std::string maketree(bool reverse) {
  std::vector<std::string> steps = {
      "mkdir -p t/src t/empty t/.git t/b/c", "printf '#!/bin/sh\\necho built\\n' >t/build.sh && chmod 755 t/build.sh",
      "printf 'key' >t/secret && chmod 600 t/secret", "printf 'int main(void) { return 0; }\\n' >t/src/main.c",
      "printf 'object' >t/src/main.o", "printf '[core]' >t/.git/config", "printf 'deep' >t/b/c/deep.txt",
      "printf 'Zebra' >t/Z.txt", "printf 'read only' >t/ro.txt && chmod 444 t/ro.txt"};
  if (reverse) std::reverse(steps.begin() + 1, steps.end());
  std::string s;
  for (auto &step : steps) s += step + " && ";
  return s + "find t -exec touch -h -d @1500000000 {} +";
}

// Reads back the modes a reader restored (bits below the file type).
uint32_t modeof(const std::string &p) {
  struct stat st;
  return lstat(p.c_str(), &st) == 0 ? st.st_mode : 0;
}

// unzip and bsdtar restore the execute bit, a 0600 and a 0444 file, the
// empty directory with its mode; Python's zipfile reads every mode from the
// records. --symlinks: the link comes back as a link. --dos-attributes: the
// MS-DOS records, nothing else changed.
TEST_F(UnixTree, ModesDirectoriesAndLinksComeBack) {
  ASSERT_EQ(runshell(dir, maketree(false) + " && chmod 750 t/empty && ln -s build.sh t/ln").status, 0);
  const std::string script = "#!/bin/sh\necho built\n";
  // Breadth first, each directory in byte order of its names.
  const namedata files = {{"t/Z.txt", "Zebra"}, {"t/build.sh", script}, {"t/empty/", ""}, {"t/ln", script},
                          {"t/ro.txt", "read only"}, {"t/secret", "key"}, {"t/.git/config", "[core]"},
                          {"t/src/main.c", "int main(void) { return 0; }\n"}, {"t/src/main.o", "object"}, {"t/b/c/deep.txt", "deep"}};
  for (bool links : {false, true}) {
    std::vector<std::string> args = {"-y", "-r", "-s3", "save", "t"};
    if (links) args.push_back("--symlinks");
    runresult r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    namedata want = files;
    if (links) want[3].second = "build.sh";
    checkall("save.zip", want);
    removetree(path("x")), removetree(path("y"));
    ASSERT_EQ(runshell(dir, "mkdir x y && unzip -qq save.zip -d x && bsdtar -xpf save.zip -C y").status, 0);
    const std::pair<std::string, uint32_t> modes[] = {{"t/build.sh", 0100755}, {"t/secret", 0100600}, {"t/ro.txt", 0100444},
                                                      {"t/empty", 040750}, {"t/Z.txt", 0100644}, {"t/ln", links ? 0120777 : 0100755}};
    for (auto &[name, mode] : modes)
      EXPECT_EQ(std::make_pair(modeof(path("x/" + name)), modeof(path("y/" + name))), std::make_pair(mode, mode)) << name;
    for (const char *x : {"x/t/ln", "y/t/ln"}) EXPECT_TRUE(!links || std::filesystem::read_symlink(path(x)) == "build.sh") << x;
    runresult py = runshell(dir, "python3 -c 'import zipfile\nfor i in zipfile.ZipFile(\"save.zip\").infolist(): "
                                 "print(i.filename, oct(i.external_attr >> 16), i.create_system)'");
    for (auto &[name, mode] : modes)
      EXPECT_NE(py.out.find(name + (name == "t/empty" ? "/ " : " ") + fmt("0o%o 3", mode)), std::string::npos) << py.out;
  }
  // The MS-DOS records: made by MS-DOS, 0x20 or 0x10; every other byte as in
  // the Unix archive.
  const std::string unixzip = readfile(path("save.zip"));
  ASSERT_EQ(run({"-y", "-r", "-s3", "--symlinks", "--dos-attributes", "dos", "t"}).status, 0);
  std::string doszip = readfile(path("dos.zip"));
  ASSERT_EQ(doszip.size(), unixzip.size());
  for (auto &e : entries("dos.zip")) {
    bool link = e.name == "t/ln";   // a link is a link only in a Unix record
    EXPECT_EQ(std::make_pair((uint32_t)e.made, e.extattr),
              std::make_pair(link ? 0x314u : 20u, link ? 0120777u << 16 | 0x20 : e.name == "t/empty/" ? 0x10u : 0x20u)) << e.name;
  }
  size_t cd = le32(unixzip, unixzip.size() - 6);
  for (size_t o = cd; le32(unixzip, o) == 0x02014b50; o += 46 + le16(unixzip, o + 28) + le16(unixzip, o + 30) + le16(unixzip, o + 32))
    for (size_t k : {o + 4, o + 5, o + 38, o + 39, o + 40, o + 41}) doszip[k] = unixzip[k];
  EXPECT_TRUE(doszip == unixzip);
}

// The same tree created in the opposite order on a tmpfs (or, where no mount
// can be made, on the same disk) gives the same bytes; SOURCE_DATE_EPOCH
// clamps every later time; --exclude leaves out a directory and a pattern.
TEST_F(UnixTree, SameTreeSameBytes) {
  ASSERT_EQ(runshell(dir, maketree(false)).status, 0);
  const std::string opts = " -q -r -s3 --exclude=.git --exclude '*.o' ";
  ASSERT_EQ(runshell(dir, "TZ=UTC " + program() + opts + "disk.zip t").status, 0);
  std::string other = "cd m && " + maketree(true) + " && TZ=UTC " + program() + opts + "../other.zip t";
  runresult r = runshell(dir, "mkdir m && unshare -Urm sh -c " + shq("mount -t tmpfs tmpfs m || exit 99; " + other));
  if (r.status == 99) r = runshell(dir, other);   // no mount without root here: the disk again
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(readfile(path("disk.zip")) == readfile(path("other.zip")));
  checkall("disk.zip", {{"t/Z.txt", "Zebra"}, {"t/build.sh", "#!/bin/sh\necho built\n"}, {"t/empty/", ""}, {"t/ro.txt", "read only"},
                        {"t/secret", "key"}, {"t/src/main.c", "int main(void) { return 0; }\n"}, {"t/b/c/deep.txt", "deep"}});
  // 2001-09-09 01:46:40 UTC: every time after it is stored as it; earlier ones stay.
  ASSERT_EQ(runshell(dir, "touch -d @900000000 t/Z.txt && SOURCE_DATE_EPOCH=1000000000 TZ=UTC " + program() + " -q -r -s3 clamped t").status, 0);
  for (auto &e : entries("clamped.zip"))
    EXPECT_EQ(std::make_pair((int)e.date, (int)e.time), e.name == "t/Z.txt" ? std::make_pair(9 + 18 * 512 + 7 * 32, 16 * 2048)
                                                                 : std::make_pair(9 + 21 * 512 + 9 * 32, 1 * 2048 + 46 * 32 + 20)) << e.name;
}

// Every failure that once passed for success: its message on standard
// error, its status, and nothing lost of what could be archived.
TEST_F(UnixTree, NothingFailsSilently) {
  put("a.txt", "alpha");
  put("with blank.txt", "blank");
  // A name without wildcards that finds nothing fails the run; a pattern does not.
  runresult r = run({"-s4", "save", "a.txt", "missing.txt", "*.none", "-k"});
  EXPECT_EQ(std::make_tuple(r.status, r.err), std::make_tuple(1, "Warning: option -k not known, ignored\n"
                                                                 "Warning: missing.txt matches no file\nWarning: *.none matches no file\n"));
  checkall("save.zip", {{"a.txt", "alpha"}});
  r = run({"-y", "-s4", "save", "a.txt", "*.none"});
  EXPECT_EQ(std::make_tuple(r.status, r.err), std::make_tuple(0, "Warning: *.none matches no file\n"));
  // List files are read whole: 1500 names in 78 KB, from a file and a pipe;
  // -@ takes one name per line, blanks kept.
  std::string list;
  namedata many;
  for (int k = 0; k < 1500; k++) {
    std::string n = fmt("many/a_file_whose_name_is_long_enough_to_fill_%04d", k);
    put(n, std::to_string(k));
    list += n + "\n";
    many.push_back({n.substr(5), std::to_string(k)});
  }
  put("list", list);
  for (auto [from, how] : {std::pair{"", "@list"}, {"cat list | ", "@/dev/stdin"}, {"cat list | ", "-@"}}) {
    r = runshell(dir, from + program() + " -y -q -s4 many.zip " + how + "; echo status $?");
    EXPECT_EQ(r.out, "status 0\n") << how;
    EXPECT_EQ(entries("many.zip").size(), 1500u) << how;
  }
  checkall("many.zip", many);
  r = run({"-y", "-s4", "blanks", "-@"}, "with blank.txt\r\na.txt\n");
  EXPECT_EQ(r.status, 0) << r.err;
  checkall("blanks.zip", {{"with blank.txt", "blank"}, {"a.txt", "alpha"}});
  // A job started under nohup keeps ignoring SIGHUP and finishes.
  const std::string big = textbytes(600000, 5);
  put("big", big);
  r = runshell(dir, "nohup " + program() + " -y -j1 save big >out 2>&1 & p=$!; until grep -q VOflating out 2>/dev/null; do sleep 0.02; done;"
                    " kill -HUP $p; wait $p; echo status $?");
  EXPECT_EQ(r.out, "status 0\n");
  checkall("save.zip", {{"big", big}});
}

// "-": the archive to a pipe, the console text to standard error; never to
// a terminal; no temporary file left behind either way.
TEST_F(UnixTree, ArchiveToStandardOutput) {
  put("a.txt", textbytes(5000, 3));
  put("tmp/keep", "");
  runresult r = runshell(dir, "TMPDIR=" + path("tmp") + " " + program() + " - a.txt 2>err | cat >piped.zip; echo status $?; cat err");
  EXPECT_EQ(r.out.rfind("status 0\nCreating ZIP: -\n  Adding: a.txt", 0), 0u) << r.out;
  checkall("piped.zip", {{"a.txt", textbytes(5000, 3)}});
  r = runonterminal({"-", "a.txt"});
  EXPECT_EQ(std::make_pair(r.status, r.out), std::make_pair(1, std::string("Error: the archive would go to a terminal; "
                                                                           "redirect standard output or name a file\n")));
  EXPECT_EQ(listdir(), (std::vector<std::string>{"a.txt", "err", "piped.zip", "tmp"}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path("tmp")), {}), 1);
}

// A directory that is there but cannot be listed says why; its siblings
// are archived, the run fails.
TEST_F(UnixTree, UnlistableDirectory) {
  if (geteuid() != 0 && access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no way to run without reading rights";
  put("d/a.txt", "alpha");
  put("d/locked/x", "x");
  ASSERT_EQ(runshell(dir, "chmod 777 . d && chmod 000 d/locked").status, 0);
  // As an unprivileged user: root reads everything.
  std::string as = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  runresult r = runshell(dir, as + program() + " -r -s4 two d >/dev/null; echo status $?");
  EXPECT_EQ(r.out, "Warning: d/locked: Permission denied, its files not archived\nstatus 1\n");
  checkall("two.zip", {{"d/a.txt", "alpha"}});
}

}  // namespace
