#!/usr/bin/env python3
"""What -u saves: a tree made from the corpus archived, one file changed,
then the archive updated with -u and made afresh, side by side; wall and CPU
seconds, the two archives compared byte for byte. With the default options
on a tree of four copies of the corpus (each a little different), and with
-x on the corpus alone.

usage: python3 bench/update.py [corpus] [--vorpak PATH] [--markdown]
"""

import os
import subprocess
import sys
import tempfile

from peers import commonargs, fmtbytes, printtable, runchild


def maketree(corpus, root, copies):
    """copies folders of the corpus's files, each copy with one letter
    replaced by another, so that no two files are alike."""
    for k in range(copies):
        d = os.path.join(root, "copy%d" % k)
        os.makedirs(d)
        for n in sorted(os.listdir(corpus)):
            data = open(os.path.join(corpus, n), "rb").read()
            if k:
                data = data.replace(b"e", bytes([97 + k]))
            open(os.path.join(d, n), "wb").write(data)


def timed(vorpak, args, cwd):
    wall = []
    rc, cpu, _, err = runchild([vorpak, "-q"] + args, cwd, subprocess.DEVNULL, wall)
    if rc != 0:
        sys.exit("vorpak %s failed: %s" % (" ".join(args), err))
    return wall[0], cpu


def main():
    a = commonargs(__doc__)
    rows = []
    for opts, copies in (([], 4), (["-x"], 1)):
        with tempfile.TemporaryDirectory() as tmp:
            maketree(a.corpus, os.path.join(tmp, "tree"), copies)
            timed(a.vorpak, opts + ["-y", "-r", "up.zip", "tree"], tmp)
            # One small file changed: a line appended to a C source.
            with open(os.path.join(tmp, "tree", "copy0", "fields.c"), "ab") as f:
                f.write(b"/* changed */\n")
            uwall, ucpu = timed(a.vorpak, opts + ["-u", "-r", "up.zip", "tree"], tmp)
            fwall, fcpu = timed(a.vorpak, opts + ["-y", "-r", "fresh.zip", "tree"], tmp)
            up = open(os.path.join(tmp, "up.zip"), "rb").read()
            if up != open(os.path.join(tmp, "fresh.zip"), "rb").read():
                sys.exit("the updated archive differs from the fresh one")
            size = sum(os.path.getsize(os.path.join(r, n)) for r, _, ns in os.walk(os.path.join(tmp, "tree")) for n in ns)
            label = "vorpak %s (%d files, %s bytes)" % (" ".join(opts) or "default", 11 * copies, fmtbytes(size))
            rows.append([label, fmtbytes(len(up)), "%.2f" % fwall, "%.2f" % fcpu, "%.2f" % uwall, "%.2f" % ucpu,
                         "%.3f" % (uwall / fwall)])
    printtable("One file changed: -u against a fresh run",
               ["options (tree)", "archive bytes", "fresh wall s", "fresh CPU s", "-u wall s", "-u CPU s", "wall -u / fresh"],
               rows, a.markdown)


if __name__ == "__main__":
    main()
