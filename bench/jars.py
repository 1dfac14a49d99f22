#!/usr/bin/env python3
"""vorpak -z against advzip -z on archives of small entries: Java archives.

The JARs come from Debian packages (libcommons-cli-java, libcommons-io-java,
libguava-java by default), which the script installs with apt-get when they
are missing and it runs as root; the archives are not kept in the
repository. Each JAR is copied once per tool and rewritten in place by that
tool: vorpak -z, vorpak -z -x, advzip -z -3 and advzip -z -4. Every member
of every result is checked against the original with Python's zipfile.

Reported per archive and in total: the bytes of the entries' compressed
data (the figure that -z and advzip change; advzip also drops extra fields
and so saves a few bytes of headers that -z keeps), the difference to
advzip -z -4 in per cent of its data bytes, and wall and CPU seconds
(CPU from wait4: the child's threads together).

usage: python3 bench/jars.py [--vorpak PATH] [--jars a.jar,b.jar] [--markdown]
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

from peers import DEFAULT_VORPAK, fmtbytes, printtable, runchild

# Debian package and the JAR it installs.
DEFAULT_JARS = [("libcommons-cli-java", "/usr/share/java/commons-cli.jar"),
                ("libcommons-io-java", "/usr/share/java/commons-io.jar"),
                ("libguava-java", "/usr/share/java/guava.jar")]


def installjars(jars):
    missing = [pkg for pkg, path in jars if pkg and not os.path.exists(path)]
    if missing and os.geteuid() == 0:
        subprocess.run(["apt-get", "install", "-y", "-qq"] + missing, check=False,
                       env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"), stdout=subprocess.DEVNULL)
    return [(pkg, path) for pkg, path in jars if os.path.exists(path)]


def databytes(path):
    with zipfile.ZipFile(path) as z:
        return sum(i.compress_size for i in z.infolist())


def contents(path):
    with zipfile.ZipFile(path) as z:
        return {i.filename: z.read(i) for i in z.infolist()}


def tools(vorpak):
    return [("vorpak -z", lambda p: [vorpak, "-z", "-q", p]),
            ("vorpak -z -x", lambda p: [vorpak, "-z", "-x", "-q", p]),
            ("advzip -z -3", lambda p: ["advzip", "-z", "-3", "-q", p]),
            ("advzip -z -4", lambda p: ["advzip", "-z", "-4", "-q", p])]


def rewrite(jar, argv, tmp):
    """Rewrites a copy of jar with argv; returns (data bytes, wall s, CPU s)
    after checking every member."""
    dst = os.path.join(tmp, "dst.jar")
    shutil.copy(jar, dst)
    wall = []
    status, cpu, _, err = runchild(argv(dst), tmp, subprocess.DEVNULL, wall)
    if status != 0 or contents(dst) != contents(jar):
        raise RuntimeError("%s failed on %s: %s" % (" ".join(argv("JAR")), jar, err.strip()[:200]))
    return databytes(dst), wall[0], cpu


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--vorpak", default=DEFAULT_VORPAK)
    ap.add_argument("--jars", help="comma-separated JAR paths (default: those of %s)"
                    % ", ".join(p for p, _ in DEFAULT_JARS))
    ap.add_argument("--markdown", action="store_true")
    a = ap.parse_args()
    vorpak = os.path.abspath(a.vorpak)
    jars = [(None, p) for p in a.jars.split(",")] if a.jars else installjars(DEFAULT_JARS)
    if not jars:
        sys.exit("no JARs: apt-get install %s" % " ".join(p for p, _ in DEFAULT_JARS))
    ts = tools(vorpak)
    ref = "advzip -z -4"
    rows, totals = [], {}
    with tempfile.TemporaryDirectory() as tmp:
        for _, jar in jars:
            with zipfile.ZipFile(jar) as z:
                entries = len(z.infolist())
            before = databytes(jar)
            res = {label: rewrite(jar, argv, tmp) for label, argv in ts}
            row = ["%s (%d entries)" % (os.path.basename(jar), entries), fmtbytes(before)]
            for label, _ in ts:
                n, w, c = res[label]
                d = 100.0 * (n - res[ref][0]) / res[ref][0]
                row += ["%s (%+.2f %%)" % (fmtbytes(n), d), "%.1f / %.1f" % (w, c)]
                t = totals.setdefault(label, [0, 0.0, 0.0])
                t[0] += n
                t[1] += w
                t[2] += c
            totals.setdefault("before", [0])[0] += before
            rows.append(row)
    row = ["total", fmtbytes(totals["before"][0])]
    for label, _ in ts:
        n, w, c = totals[label]
        d = 100.0 * (n - totals[ref][0]) / totals[ref][0]
        row += ["%s (%+.2f %%)" % (fmtbytes(n), d), "%.1f / %.1f" % (w, c)]
    rows.append(row)
    header = ["archive", "data bytes"]
    for label, _ in ts:
        header += [label, "wall / CPU s"]
    printtable("JARs rewritten in place: bytes of the entries' data (against advzip -z -4), wall / CPU s",
               header, rows, a.markdown)
    r, z = totals[ref], totals["vorpak -z"]
    zx = totals["vorpak -z -x"]
    print("\nvorpak -z: %+.2f %% of advzip -z -4's data in %.3f of its CPU time; "
          "vorpak -z -x: %+.2f %% in %.3f of its CPU time"
          % (100.0 * (z[0] - r[0]) / r[0], z[2] / r[2], 100.0 * (zx[0] - r[0]) / r[0], zx[2] / r[2]))


if __name__ == "__main__":
    main()
