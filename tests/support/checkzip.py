#!/usr/bin/env python3
"""Checks a ZIP archive with Python's zipfile: every member's CRC, the names
in order, and each member's bytes against a file.

usage: checkzip.py ZIP [NAME PATH]...
Prints what is wrong and exits 1, or exits 0 when all holds."""
import sys
import zipfile

def main():
    zpath = sys.argv[1]
    pairs = sys.argv[2:]
    want = [(pairs[k], pairs[k + 1]) for k in range(0, len(pairs), 2)]
    problems = []
    with zipfile.ZipFile(zpath) as z:
        bad = z.testzip()
        if bad is not None:
            problems.append("CRC or data error in member %r" % bad)
        names = z.namelist()
        if names != [n for n, _ in want]:
            problems.append("names %r, expected %r" % (names, [n for n, _ in want]))
        else:
            for info, (name, path) in zip(z.infolist(), want):
                with open(path, "rb") as f:
                    expect = f.read()
                got = z.read(info)
                if got != expect:
                    problems.append("member %r: %d bytes differ from %s (%d bytes)"
                                    % (name, len(got), path, len(expect)))
                if info.file_size != len(expect):
                    problems.append("member %r: size %d, expected %d" % (name, info.file_size, len(expect)))
    if problems:
        print("\n".join(problems))
        sys.exit(1)

main()
