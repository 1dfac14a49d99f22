#!/usr/bin/env python3
"""vorpak --gzip against the tools that make precompressed .gz files: the
Canterbury corpus and a set of web files, each file on its own.

Tools: vorpak --gzip (default options and -x), zopfli --i15 and --i100,
pigz -11 and libdeflate-gzip -12. Every .gz is decompressed by gzip and
compared with its file before it is counted; bytes are the whole .gz file
(header and trailer included), CPU seconds those of the child (wait4).

The web set comes from Debian packages, installed when missing: an HTML
page (libjs-bootstrap5-doc's cheatsheet example), a CSS file and a minified
JavaScript library (libjs-bootstrap4) and an SVG (fonts-font-awesome).

usage: python3 bench/gzipweb.py [corpus] [--vorpak PATH] [--markdown]
"""

import os
import shutil
import subprocess
import sys
import tempfile

from peers import commonargs, fmtbytes, printtable, runchild

WEB = [
    ("libjs-bootstrap5-doc", "/usr/share/doc/libjs-bootstrap5/examples/cheatsheet/index.html"),
    ("libjs-bootstrap4", "/usr/share/nodejs/bootstrap/dist/css/bootstrap.min.css"),
    ("libjs-bootstrap4", "/usr/share/nodejs/bootstrap/dist/js/bootstrap.bundle.min.js"),
    ("fonts-font-awesome", "/usr/share/fonts-font-awesome/fonts/fontawesome-webfont.svg"),
]

# label, executable, Debian package, arguments for (program, input) writing the .gz to standard output or beside
TOOLS = [
    ("vorpak --gzip", None, None, lambda exe, f: [exe, "--gzip", "-q", "-y", f]),
    ("vorpak --gzip -x", None, None, lambda exe, f: [exe, "--gzip", "-x", "-q", "-y", f]),
    ("zopfli --i15", "zopfli", "zopfli", lambda exe, f: [exe, "--i15", "-c", f]),
    ("zopfli --i100", "zopfli", "zopfli", lambda exe, f: [exe, "--i100", "-c", f]),
    ("pigz -11", "pigz", "pigz", lambda exe, f: [exe, "-11", "-c", f]),
    ("libdeflate-gzip -12", "libdeflate-gzip", "libdeflate-tools", lambda exe, f: [exe, "-12", "-c", f]),
]


def install(packages):
    missing = [p for p in packages if subprocess.run(["dpkg", "-s", p], capture_output=True).returncode != 0]
    if missing:
        subprocess.run(["apt-get", "install", "-y", "-qq"] + missing, check=False, capture_output=True)


def gzbytes(tool, exe, src, tmp):
    """Codes src with the tool; returns (bytes, CPU seconds), checked."""
    work = os.path.join(tmp, os.path.basename(src))
    shutil.copyfile(src, work)
    out = work + ".gz"
    if os.path.exists(out):
        os.remove(out)
    argv = tool[3](exe, work)
    with open(out + ".tmp", "wb") as f:
        rc, cpu, _, err = runchild(argv, tmp, f)
    if rc != 0:
        sys.exit("%s failed on %s: %s" % (tool[0], src, err))
    if os.path.getsize(out + ".tmp") > 0:
        os.replace(out + ".tmp", out)
    else:
        os.remove(out + ".tmp")
    back = subprocess.run(["gzip", "-dc", out], capture_output=True).stdout
    if back != open(src, "rb").read():
        sys.exit("%s: %s does not come back" % (tool[0], src))
    size = os.path.getsize(out)
    os.remove(out)
    os.remove(work)
    return size, cpu


def main():
    a = commonargs(__doc__)
    install(sorted({p for p, _ in WEB} | {t[2] for t in TOOLS if t[2]}))
    sets = [("Canterbury", sorted(os.path.join(a.corpus, n) for n in os.listdir(a.corpus))),
            ("web", [f for _, f in WEB if os.path.exists(f)])]
    tools = []
    for t in TOOLS:
        exe = a.vorpak if t[1] is None else shutil.which(t[1])
        if exe:
            tools.append((t, exe))
        else:
            print("missing: %s (Debian package %s)" % (t[0], t[2]))
    with tempfile.TemporaryDirectory() as tmp:
        for name, files in sets:
            results = {t[0]: [gzbytes(t, exe, f, tmp) for f in files] for t, exe in tools}
            rows = [[os.path.basename(f)] + [fmtbytes(results[t[0]][k][0]) for t, _ in tools] for k, f in enumerate(files)]
            totals = {t[0]: (sum(r[0] for r in results[t[0]]), sum(r[1] for r in results[t[0]])) for t, _ in tools}
            rows.append(["total"] + [fmtbytes(totals[t[0]][0]) for t, _ in tools])
            rows.append(["CPU s"] + ["%.2f" % totals[t[0]][1] for t, _ in tools])
            printtable("%s: .gz bytes, each file alone" % name, ["file"] + [t[0] for t, _ in tools], rows, a.markdown)


if __name__ == "__main__":
    main()
