#!/usr/bin/env python3
"""Checks a ZIP archive with Python's zipfile: every member's CRC, and the
names in order with their bytes equal to the files given.

usage: checkzip.py ZIP [NAME PATH]...   exits 1 saying what is wrong."""
import sys, zipfile

pairs = sys.argv[2:]
want = [(pairs[k], pairs[k + 1]) for k in range(0, len(pairs), 2)]
problems = []
with zipfile.ZipFile(sys.argv[1]) as z:
    if z.testzip() is not None:
        problems.append("CRC or data error in member %r" % z.testzip())
    if z.namelist() != [n for n, _ in want]:
        problems.append("names %r, expected %r" % (z.namelist(), [n for n, _ in want]))
    else:
        for info, (name, path) in zip(z.infolist(), want):
            if z.read(info) != open(path, "rb").read():
                problems.append("member %r differs from %s" % (name, path))
if problems:
    print("\n".join(problems))
    sys.exit(1)
