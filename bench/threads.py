#!/usr/bin/env python3
"""What threads buy: the whole corpus as one archive with -j1 and -j2
(default options, and -x), wall and CPU seconds, with the archives compared
byte for byte; one file of 16 MiB with -j1 and -j2 (its passes coded in
ranges of blocks on both threads); and the peak memory of -x -j2 on it.

usage: python3 bench/threads.py [corpus] [--vorpak PATH] [--markdown]
"""

import os
import subprocess
import sys
import tempfile

from peers import commonargs, fmtbytes, printtable, runchild


def main():
    a = commonargs(__doc__)
    vorpak = a.vorpak
    names = sorted(os.path.join(a.corpus, n) for n in os.listdir(a.corpus))
    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        for opts in ([], ["-x"]):
            made = {}
            for j in ("-j1", "-j2"):
                out = os.path.join(tmp, "c%s.zip" % j)
                wall = []
                rc, cpu, rss, err = runchild([vorpak, "-y", "-q", j] + opts + [out] + names, tmp, subprocess.DEVNULL, wall)
                if rc != 0:
                    sys.exit("vorpak failed: " + err)
                made[j] = open(out, "rb").read()
                rows.append([" ".join(["vorpak", j] + opts), fmtbytes(len(made[j])), "%.2f" % wall[0], "%.2f" % cpu, ""])
            if made["-j1"] != made["-j2"]:
                sys.exit("the archives of -j1 and -j2 differ")
        for k in range(0, len(rows), 2):
            rows[k + 1][4] = "%.2f" % (float(rows[k + 1][2]) / float(rows[k][2]))
            rows[k][4] = "1.00"
        printtable("The corpus (%d files) in one archive" % len(names),
                   ["run", "archive bytes", "wall s", "CPU s", "wall / -j1"], rows, a.markdown)

        # 16 MiB: the corpus again and again, each copy a little different.
        big = os.path.join(tmp, "big.bin")
        data = b"".join(open(n, "rb").read() for n in names)
        with open(big, "wb") as f:
            k = 0
            while f.tell() < 16 << 20:
                f.write(data[: (16 << 20) - f.tell()].replace(b"e", bytes([97 + k % 26])))
                k += 1
        rows = []
        made = {}
        for j in ("-j1", "-j2"):
            out = os.path.join(tmp, "big%s.zip" % j)
            wall = []
            rc, cpu, rss, err = runchild([vorpak, "-y", "-q", j, out, big], tmp, subprocess.DEVNULL, wall)
            if rc != 0:
                sys.exit("vorpak failed: " + err)
            made[j] = open(out, "rb").read()
            rows.append(["vorpak " + j, fmtbytes(len(made[j])), "%.2f" % wall[0], "%.2f" % cpu,
                         "%.1f" % (rss / 1024.0), "%.2f" % (wall[0] / float(rows[0][2])) if rows else "1.00"])
        if made["-j1"] != made["-j2"]:
            sys.exit("the archives of -j1 and -j2 differ")
        printtable("One file of 16 MiB (the corpus over and over), default options",
                   ["run", "archive bytes", "wall s", "CPU s", "peak MiB", "wall / -j1"], rows, a.markdown)

        wall = []
        rc, cpu, rss, err = runchild([vorpak, "-y", "-q", "-x", "-j2", os.path.join(tmp, "big.zip"), big], tmp,
                                     subprocess.DEVNULL, wall)
        if rc != 0:
            sys.exit("vorpak failed: " + err)
        print("\nvorpak -x -j2 on 16 MiB: peak resident memory %.1f MiB, %.1f s wall, %.1f s CPU, %s bytes"
              % (rss / 1024.0, wall[0], cpu, fmtbytes(os.path.getsize(os.path.join(tmp, "big.zip")))))


if __name__ == "__main__":
    main()
