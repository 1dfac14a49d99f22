#!/usr/bin/env python3
"""vorpak -z against advzip -z -4 on archives that other tools made.

A handful of archives are built from the corpus in a temporary directory:
by Info-ZIP zip -9, by zip -6, by Python's zipfile (level 6, and level 9
written to a pipe, so with data descriptors), and by 7-Zip (-mx=5). Each is
copied once per tool and rewritten in place by that tool; the script checks
that every member still reads back to the corpus file (Python's zipfile) and
reports the archive's bytes before and after, with the bytes of the entries'
compressed data alone in brackets (advzip drops extra fields such as 7-Zip's
timestamps, which -z keeps), and wall and CPU seconds.

usage: python3 bench/rezip.py [corpus] [--vorpak PATH] [--markdown]
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

from peers import commonargs, fmtbytes, printtable, runchild


def build(kind, corpus, names, out):
    paths = [os.path.join(corpus, n) for n in names]
    if kind in ("zip -9", "zip -6"):
        subprocess.run(["zip", "-q", "-j", "-X", kind.split()[1], out] + paths, check=True)
    elif kind == "7zz -mx=5":
        subprocess.run(["7zz", "a", "-tzip", "-mx=5", out] + paths, check=True, stdout=subprocess.DEVNULL)
    elif kind == "zipfile level 6":
        with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
            for p in paths:
                z.write(p, os.path.basename(p))
    else:   # zipfile level 9 on a pipe: data descriptors
        with open(out, "wb") as f:
            proc = subprocess.Popen(["cat"], stdin=subprocess.PIPE, stdout=f)
            with zipfile.ZipFile(proc.stdin, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
                for p in paths:
                    z.write(p, os.path.basename(p))
            proc.stdin.close()
            proc.wait()


def databytes(path):
    with zipfile.ZipFile(path) as z:
        return sum(i.compress_size for i in z.infolist())


def cell(archive, data):
    return "%s (%s)" % (fmtbytes(archive), fmtbytes(data))


def intact(path, corpus):
    with zipfile.ZipFile(path) as z:
        return z.testzip() is None and all(
            z.read(i) == open(os.path.join(corpus, i.filename), "rb").read() for i in z.infolist())


def main():
    a = commonargs(__doc__)
    names = sorted(n for n in os.listdir(a.corpus) if os.path.isfile(os.path.join(a.corpus, n)))
    kinds = ["zip -9", "zip -6", "zipfile level 6", "zipfile level 9, descriptors", "7zz -mx=5"]
    vorpak = a.vorpak
    tools = [("vorpak -z", lambda p: [vorpak, "-z", "-q", p]), ("vorpak -z -x", lambda p: [vorpak, "-z", "-x", "-q", p]),
             ("advzip -z -4", lambda p: ["advzip", "-z", "-4", p])]
    rows, totals = [], {}
    with tempfile.TemporaryDirectory() as tmp:
        for kind in kinds:
            src = os.path.join(tmp, "src.zip")
            if os.path.exists(src):
                os.remove(src)
            build(kind, a.corpus, names, src)
            before, beforedata = os.path.getsize(src), databytes(src)
            row = [kind, cell(before, beforedata)]
            for label, argv in tools:
                dst = os.path.join(tmp, "dst.zip")
                shutil.copy(src, dst)
                t0 = time.time()
                status, cpu, _, err = runchild(argv(dst), tmp, subprocess.DEVNULL)
                wall = time.time() - t0
                after, afterdata = os.path.getsize(dst), databytes(dst)
                if status != 0 or not intact(dst, a.corpus):
                    sys.exit("%s failed on %s: %s" % (label, kind, err))
                row += [cell(after, afterdata), "%.1f / %.1f" % (wall, cpu)]
                t = totals.setdefault(label, [0, 0, 0.0, 0.0, 0, 0])
                t[0] += before
                t[1] += after
                t[2] += wall
                t[3] += cpu
                t[4] += beforedata
                t[5] += afterdata
            rows.append(row)
        t = totals[tools[0][0]]
        row = ["total", cell(t[0], t[4])]
        for label, _ in tools:
            t = totals[label]
            row += ["%s, -%.2f %% (-%.2f %%)" % (cell(t[1], t[5]), 100.0 * (t[0] - t[1]) / t[0], 100.0 * (t[4] - t[5]) / t[4]),
                    "%.1f / %.1f" % (t[2], t[3])]
        rows.append(row)
    header = ["archive made by", "bytes (data)"]
    for label, _ in tools:
        header += [label, "wall / CPU s"]
    printtable("Canterbury corpus (%d files) in one archive, rewritten in place" % len(names), header, rows, a.markdown)


if __name__ == "__main__":
    main()
