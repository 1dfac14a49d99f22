#!/usr/bin/env python3
"""VORPAK against other Deflate encoders, one file at a time.

Every file of the corpus is compressed on its own by each tool, and for each
run the script reports the bytes of Deflate data and the CPU seconds the
child used (user + system). For ZIP output the bytes are the entry's
compressed size from the central directory, so local headers, names and the
directory itself are left out and every tool is measured on its Deflate
stream alone; for zopfli --deflate they are the size of the raw stream.

Each output is inflated again and compared with its input before its size is
counted: a figure for a broken stream would mean nothing.

A tool that is not installed is reported and skipped. The peers come with
the Debian packages zip, 7zip, advancecomp and zopfli.

CPU seconds are the child's (all its threads); wall seconds are by the
clock, so they show what -j gains where a tool runs several threads. Ratios
are against zopfli --i100 when it runs, else against zopfli --i15. Times are
noisy; only ratios measured side by side in one run mean much.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_CORPUS = os.path.normpath(os.path.join(HERE, "..", "data", "canterbury"))
DEFAULT_VORPAK = os.path.normpath(os.path.join(HERE, "..", "build", "release", "vorpak"))

# Every tool: key for --tools, label, executable, Debian package, how to call
# it (input path, output path) and the kind of output it writes.
TOOLS = [
    ("vorpak-s0", "vorpak -s0", None, None,
     lambda exe, src, out: [exe, "-s0", "-y", "-q", out, src], "zip"),
    ("vorpak-s1", "vorpak -s1", None, None,
     lambda exe, src, out: [exe, "-s1", "-y", "-q", out, src], "zip"),
    ("zip", "zip -9", "zip", "zip",
     lambda exe, src, out: [exe, "-9", "-q", "-j", "-X", out, src], "zip"),
    ("7zz", "7zz -mx=9 -mpass=15", "7zz", "7zip",
     lambda exe, src, out: [exe, "a", "-tzip", "-mx=9", "-mm=Deflate", "-mfb=258", "-mpass=15",
                            out, src], "zip"),
    ("advzip", "advzip -a -4", "advzip", "advancecomp",
     lambda exe, src, out: [exe, "-a", "-4", out, src], "zip"),
    ("zopfli", "zopfli --i15", "zopfli", "zopfli",
     lambda exe, src, out: [exe, "--deflate", "--i15", "-c", src], "deflate"),
    ("zopfli100", "zopfli --i100", "zopfli", "zopfli",
     lambda exe, src, out: [exe, "--deflate", "--i100", "-c", src], "deflate"),
    ("vorpak-x1", "vorpak -x1", None, None,
     lambda exe, src, out: [exe, "-x1", "-y", "-q", out, src], "zip"),
    ("vorpak-x", "vorpak -x", None, None,
     lambda exe, src, out: [exe, "-x", "-y", "-q", out, src], "zip"),
    ("vorpak-x6", "vorpak -x6", None, None,
     lambda exe, src, out: [exe, "-x6", "-y", "-q", out, src], "zip"),
]
TOOLKEYS = [t[0] for t in TOOLS]
REFERENCE = "zopfli"


def commonargs(doc):
    """The arguments of threads.py and rezip.py: a corpus, the program, the
    table format. The program's path is made absolute, since the runs happen
    in a scratch directory."""
    ap = argparse.ArgumentParser(description=doc.split("\n")[0])
    ap.add_argument("corpus", nargs="?", default=DEFAULT_CORPUS)
    ap.add_argument("--vorpak", default=DEFAULT_VORPAK)
    ap.add_argument("--markdown", action="store_true")
    a = ap.parse_args()
    a.vorpak = os.path.abspath(a.vorpak)
    return a


def runchild(argv, cwd, stdout, wall=None):
    """Runs argv and returns (exit status, CPU seconds, peak resident KiB,
    error text) of that child alone, from wait4; with a list in wall, also
    appends the seconds it took by the clock."""
    t0 = time.time()
    with tempfile.TemporaryFile() as errf:
        proc = subprocess.Popen(argv, cwd=cwd, stdin=subprocess.DEVNULL, stdout=stdout, stderr=errf)
        try:
            _, status, usage = os.wait4(proc.pid, 0)
        except BaseException:
            proc.kill()
            proc.wait()
            raise
        proc.returncode = os.waitstatus_to_exitcode(status)
        errf.seek(0)
        err = errf.read().decode("utf-8", "replace")
    if wall is not None:
        wall.append(time.time() - t0)
    return proc.returncode, usage.ru_utime + usage.ru_stime, usage.ru_maxrss, err


def deflatebytes(kind, outpath, original):
    """The bytes of Deflate data in the output, after checking that it
    inflates to the original. Returns (bytes, note) or raises ValueError."""
    if kind == "deflate":
        with open(outpath, "rb") as f:
            data = f.read()
        d = zlib.decompressobj(-15)
        back = d.decompress(data) + d.flush()
        if back != original or not d.eof:
            raise ValueError("raw Deflate stream does not inflate to the input")
        return len(data), ""
    with zipfile.ZipFile(outpath) as z:
        infos = z.infolist()
        if len(infos) != 1:
            raise ValueError("archive holds %d entries, not 1" % len(infos))
        info = infos[0]
        if z.read(info) != original:
            raise ValueError("entry does not extract to the input")
        note = "" if info.compress_type == zipfile.ZIP_DEFLATED else "stored"
        return info.compress_size, note


def fmtbytes(n):
    return "{:,}".format(n)


def fmtratio(a, b):
    return "%.4f" % (a / b) if b else "-"


def fmtcpuratio(a, b):
    return "%.2f" % (a / b) if b > 0 else "-"


def printtable(title, header, rows, markdown):
    if markdown:
        print("\n**%s**\n" % title)
        print("| " + " | ".join(header) + " |")
        print("|" + "|".join("---" if i == 0 else "---:" for i in range(len(header))) + "|")
        for r in rows:
            print("| " + " | ".join(r) + " |")
        return
    print("\n" + title)
    widths = [max(len(h), *(len(r[i]) for r in rows)) if rows else len(h)
              for i, h in enumerate(header)]
    line = "  ".join(h.ljust(widths[0]) if i == 0 else h.rjust(widths[i])
                     for i, h in enumerate(header))
    print(line)
    print("-" * len(line))
    for r in rows:
        print("  ".join(c.ljust(widths[0]) if i == 0 else c.rjust(widths[i])
                        for i, c in enumerate(r)))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("corpus", nargs="?", default=DEFAULT_CORPUS,
                    help="directory of files to compress (default: %(default)s)")
    ap.add_argument("--files", help="comma-separated names of files in the corpus (default: all)")
    ap.add_argument("--tools", help="comma-separated tools among %s (default: all)"
                    % ",".join(TOOLKEYS))
    ap.add_argument("--vorpak", default=DEFAULT_VORPAK, help="the program (default: %(default)s)")
    ap.add_argument("--markdown", action="store_true", help="print markdown tables")
    args = ap.parse_args()
    # The tools run in a temporary directory.
    args.vorpak = os.path.abspath(args.vorpak)

    if not os.path.isdir(args.corpus):
        sys.exit("no such directory: %s" % args.corpus)
    names = sorted(n for n in os.listdir(args.corpus)
                   if os.path.isfile(os.path.join(args.corpus, n)))
    if args.files:
        wanted = [n.strip() for n in args.files.split(",") if n.strip()]
        unknown = [n for n in wanted if n not in names]
        if unknown:
            sys.exit("not in %s: %s" % (args.corpus, ", ".join(unknown)))
        names = wanted
    if not names:
        sys.exit("no files to compress")

    keys = TOOLKEYS
    if args.tools:
        keys = [k.strip() for k in args.tools.split(",") if k.strip()]
        unknown = [k for k in keys if k not in TOOLKEYS]
        if unknown:
            sys.exit("unknown tools: %s (choose from %s)" % (", ".join(unknown), ",".join(TOOLKEYS)))

    # Find every tool; a missing one is reported and left out.
    tools = []
    for key, label, exe, package, argv, kind in TOOLS:
        if key not in keys:
            continue
        if exe is None:
            path = args.vorpak if os.access(args.vorpak, os.X_OK) else None
            hint = "build it with: cmake --workflow --preset release, or give --vorpak"
        else:
            path = shutil.which(exe)
            hint = "apt-get install %s" % package
        if path is None:
            print("missing: %s (%s); going on without it" % (label, hint))
            continue
        tools.append((key, label, path, argv, kind))
    if not tools:
        sys.exit("none of the chosen tools is installed")
    print("corpus: %s (%d files)" % (args.corpus, len(names)))
    print("tools: %s" % ", ".join(t[1] for t in tools))

    # Ratios are against the strongest zopfli run.
    global REFERENCE
    REFERENCE = "zopfli100" if any(t[0] == "zopfli100" for t in tools) else "zopfli"
    progress = sys.stderr.isatty()
    results = {}   # (file, key) -> (bytes, cpu, maxrss KiB, note)
    failures = []
    with tempfile.TemporaryDirectory(prefix="vorpak-peers-") as tmp:
        for name in names:
            src = os.path.join(args.corpus, name)
            with open(src, "rb") as f:
                original = f.read()
            for key, label, path, argv, kind in tools:
                out = os.path.join(tmp, "%s-%s.%s" % (name, key, "zip" if kind == "zip" else "deflate"))
                if os.path.exists(out):
                    os.remove(out)
                if progress:
                    sys.stderr.write("  %-14s %-30s\r" % (name, label))
                    sys.stderr.flush()
                wall = []
                if kind == "deflate":
                    with open(out, "wb") as sink:
                        rc, cpu, rss, err = runchild(argv(path, src, out), tmp, sink, wall)
                else:
                    rc, cpu, rss, err = runchild(argv(path, src, out), tmp, subprocess.DEVNULL, wall)
                if rc != 0:
                    failures.append("%s on %s: exit status %d %s" % (label, name, rc, err.strip()[:200]))
                    continue
                try:
                    n, note = deflatebytes(kind, out, original)
                except (ValueError, zipfile.BadZipFile, zlib.error, OSError) as e:
                    failures.append("%s on %s: %s" % (label, name, e))
                    continue
                results[(name, key)] = (n, cpu, rss, note, wall[0])
                os.remove(out)
        if progress:
            sys.stderr.write(" " * 50 + "\r")

    for f in failures:
        print("failed: " + f)

    header = ["tool", "bytes", "CPU s", "wall s", "bytes/ref", "CPU/ref"]
    sizes = {name: os.path.getsize(os.path.join(args.corpus, name)) for name in names}
    for name in names:
        ref = results.get((name, REFERENCE))
        rows = []
        for key, label, _, _, _ in tools:
            r = results.get((name, key))
            if r is None:
                rows.append([label, "failed", "-", "-", "-", "-"])
                continue
            n, cpu, _, note, w = r
            rows.append([label + (" (%s)" % note if note else ""), fmtbytes(n), "%.2f" % cpu, "%.2f" % w,
                         fmtratio(n, ref[0]) if ref else "-",
                         fmtcpuratio(cpu, ref[1]) if ref else "-"])
        printtable("%s (%s bytes)" % (name, fmtbytes(sizes[name])), header, rows, args.markdown)

    # Bytes of every file by every tool, side by side.
    complete = [t for t in tools if all((name, t[0]) in results for name in names)]
    matrix = []
    for name in names:
        matrix.append([name] + [fmtbytes(results[(name, t[0])][0]) for t in complete])
    printtable("Bytes of Deflate data per file", ["file"] + [t[1] for t in complete],
               matrix, args.markdown)

    # Totals over the files every tool compressed, so that a failed run does
    # not make one tool look smaller than another.
    common = [name for name in names if all((name, t[0]) in results for t in tools)]
    total = {}
    for key, _, _, _, _ in tools:
        total[key] = tuple(sum(results[(n, key)][i] for n in common) for i in (0, 1, 4))
    ref = total.get(REFERENCE)
    rows = []
    for key, label, _, _, _ in tools:
        n, cpu, w = total[key]
        rows.append([label, fmtbytes(n), "%.2f" % cpu, "%.2f" % w,
                     fmtratio(n, ref[0]) if ref else "-",
                     fmtcpuratio(cpu, ref[1]) if ref else "-"])
    title = "Total over %d files (%s bytes)" % (len(common), fmtbytes(sum(sizes[n] for n in common)))
    printtable(title, header, rows, args.markdown)
    if not ref:
        print("(zopfli was not run: no ratios)")

    largest = max(names, key=lambda n: sizes[n])
    r = results.get((largest, "vorpak-s0"))
    if r:
        print("\nPeak resident memory of vorpak -s0 on %s (%s bytes): %.1f MiB (ru_maxrss %d KiB)"
              % (largest, fmtbytes(sizes[largest]), r[2] / 1024.0, r[2]))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
