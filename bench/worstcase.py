#!/usr/bin/env python3
"""VORPAK on inputs that make the match search work hard.

Two inputs of 1 MB (1,048,576 bytes) each:
- abc2000: "abc" repeated, with 2000 single bytes changed at random positions
  (fixed seed). Every position has thousands of earlier positions that match
  it for hundreds of bytes, and the changed bytes keep cutting those matches
  short, so the candidate lists stay long everywhere.
- text: plain English, the corpus's .txt files concatenated and cut at 1 MB.

Each is compressed with vorpak -s0 and -s1; the script reports the Deflate
bytes (the entry's compressed size from the central directory), the CPU
seconds of the child (user + system) and the CPU seconds per MB. The output
is extracted and compared with the input before its figures are counted.

Times are noisy; only ratios measured side by side in one run mean much.
"""

import argparse
import os
import random
import subprocess
import sys
import tempfile

from peers import DEFAULT_CORPUS, DEFAULT_VORPAK, deflatebytes, fmtbytes, printtable, runchild

SIZE = 1 << 20
CHANGED = 2000
SEED = 1951


def abcinput(seed):
    data = bytearray((b"abc" * (SIZE // 3 + 1))[:SIZE])
    rng = random.Random(seed)
    for p in rng.sample(range(SIZE), CHANGED):
        # A byte other than the one there, so every change breaks the pattern.
        v = rng.randrange(255)
        data[p] = v if v < data[p] else v + 1
    return bytes(data)


def textinput(corpus):
    names = sorted(n for n in os.listdir(corpus) if n.endswith(".txt"))
    data = b""
    for n in names:
        with open(os.path.join(corpus, n), "rb") as f:
            data += f.read()
    if len(data) < SIZE:
        sys.exit("the .txt files of %s hold only %d bytes, not %d" % (corpus, len(data), SIZE))
    return data[:SIZE], names


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--corpus", default=DEFAULT_CORPUS, help="where the .txt files are (default: %(default)s)")
    ap.add_argument("--vorpak", default=DEFAULT_VORPAK, help="the program (default: %(default)s)")
    ap.add_argument("--strategies", default="0,1", help="comma-separated -s values (default: %(default)s)")
    ap.add_argument("--seed", type=int, default=SEED, help="seed of the changed positions (default: %(default)s)")
    ap.add_argument("--markdown", action="store_true", help="print a markdown table")
    args = ap.parse_args()
    # The tools run in a temporary directory.
    args.vorpak = os.path.abspath(args.vorpak)

    if not os.access(args.vorpak, os.X_OK):
        sys.exit("missing: %s (build it with: cmake --workflow --preset release, or give --vorpak)"
                 % args.vorpak)
    strategies = [s.strip() for s in args.strategies.split(",") if s.strip()]

    text, textnames = textinput(args.corpus)
    inputs = [("abc2000", abcinput(args.seed)), ("text", text)]
    print("abc2000: \"abc\" x %d bytes, %d bytes changed (seed %d)" % (SIZE, CHANGED, args.seed))
    print("text: first %d bytes of %s" % (SIZE, " + ".join(textnames)))

    rows = []
    failed = False
    with tempfile.TemporaryDirectory(prefix="vorpak-worst-") as tmp:
        for name, data in inputs:
            src = os.path.join(tmp, name)
            with open(src, "wb") as f:
                f.write(data)
            for s in strategies:
                out = os.path.join(tmp, "%s-s%s.zip" % (name, s))
                rc, cpu, rss, err = runchild([args.vorpak, "-s" + s, "-y", "-q", out, src], tmp,
                                             subprocess.DEVNULL)
                if rc != 0:
                    print("failed: vorpak -s%s on %s: exit status %d %s" % (s, name, rc, err.strip()[:200]))
                    failed = True
                    continue
                try:
                    n, note = deflatebytes("zip", out, data)
                except Exception as e:
                    print("failed: vorpak -s%s on %s: %s" % (s, name, e))
                    failed = True
                    continue
                os.remove(out)
                mb = len(data) / SIZE
                rows.append([name, "vorpak -s" + s, fmtbytes(n) + (" (%s)" % note if note else ""),
                             "%.2f" % cpu, "%.2f" % (cpu / mb), "%.1f" % (rss / 1024.0)])
    printtable("Worst cases (MB = 1,048,576 bytes)",
               ["input", "run", "bytes", "CPU s", "CPU s/MB", "peak MiB"], rows, args.markdown)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
