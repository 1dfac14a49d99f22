#!/usr/bin/env python3
"""Bytes against CPU seconds for every tool and level, as a picture.

Two sets of data, each coded by every tool in one run, side by side:
- the Canterbury corpus (data/canterbury, 11 files), and
- an archive of small entries: a JAR from a Debian package
  (/usr/share/java/commons-io.jar of libcommons-io-java by default, installed
  with apt-get when missing and the script runs as root), its entries
  extracted into a scratch directory.

Tools: vorpak (default, -x1, -x, -x6) archiving the files; Info-ZIP zip -9
and 7-Zip (-mx=9 -mpass=15) archiving the files; zopfli --i15 and --i100 on
each file alone (raw Deflate); and the recompressors on an archive of the
files (for Canterbury the zip -9 archive, for the JAR the JAR itself):
vorpak -z, vorpak -z -x, advzip -z -3 and advzip -z -4. Every output is read
back and compared with the input. The bytes are those of the Deflate data
(the entries' compressed sizes, a stored entry at its size), the seconds
those of the children's CPU time (wait4: all threads together).

Prints a markdown table per set, saves the figures beside the picture
(bench/bytes-cpu.json) and draws the picture (matplotlib) into
bench/bytes-cpu.png, or --png; --draw JSON only draws saved figures.

usage: python3 bench/picture.py [--vorpak PATH] [--jar PATH] [--png PATH] [--sets canterbury,jar] [--draw JSON]
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile
import zlib

from peers import DEFAULT_CORPUS, DEFAULT_VORPAK, fmtbytes, printtable, runchild

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_JAR = "/usr/share/java/commons-io.jar"
DEFAULT_PNG = os.path.join(HERE, "bytes-cpu.png")


def zipdata(path):
    with zipfile.ZipFile(path) as z:
        return sum(i.compress_size for i in z.infolist())


def zipfiles(path):
    with zipfile.ZipFile(path) as z:
        return {i.filename: z.read(i) for i in z.infolist() if not i.filename.endswith("/")}


def archivers(vorpak):
    """Tools that archive a directory's files into out: label, argv."""
    v = lambda *opts: (lambda out: [vorpak, "-r", "-y", "-q"] + list(opts) + [out])
    return [("vorpak", v()), ("vorpak -x1", v("-x1")), ("vorpak -x", v("-x")), ("vorpak -x6", v("-x6")),
            ("zip -9", lambda out: ["zip", "-q", "-r", "-X", "-9", out, "."]),
            ("7zz -mx=9 -mpass=15", lambda out: ["7zz", "a", "-tzip", "-mx=9", "-mm=Deflate", "-mfb=258",
                                                 "-mpass=15", out, "."])]


def recompressors(vorpak):
    return [("vorpak -z", lambda p: [vorpak, "-z", "-q", p]), ("vorpak -z -x", lambda p: [vorpak, "-z", "-x", "-q", p]),
            ("advzip -z -3", lambda p: ["advzip", "-z", "-3", "-q", p]),
            ("advzip -z -4", lambda p: ["advzip", "-z", "-4", "-q", p])]


def installed(exe):
    return shutil.which(exe) or os.access(exe, os.X_OK)


def zipresult(label, cmd, cwd, out, files):
    """Runs cmd, checks the archive out against files; (label, bytes, CPU s)."""
    status, cpu, _, err = runchild(cmd, cwd, subprocess.DEVNULL)
    if status != 0 or zipfiles(out) != files:
        sys.exit("%s failed: %s" % (label, err.strip()[:300]))
    return label, zipdata(out), cpu


def measure(files, srcdir, archive, vorpak, tmp):
    """files: {name: bytes} laid out under srcdir; archive: a ZIP of them.
    Returns [(label, bytes, cpu s)]."""
    results = []
    for label, argv in archivers(vorpak):
        if not installed(argv("x")[0]):
            print("missing: %s" % label)
            continue
        out = os.path.join(tmp, "out.zip")
        if os.path.exists(out):
            os.remove(out)
        # vorpak takes the names; zip and 7zz walk "." themselves.
        cmd = argv(out) + (sorted(os.listdir(srcdir)) if argv(out)[0] == vorpak else [])
        results.append(zipresult(label, cmd, srcdir, out, files))
    for iters in (15, 100) if installed("zopfli") else ():
        total, cpu = 0, 0.0
        for name, data in files.items():
            out = os.path.join(tmp, "z.deflate")
            with open(out, "wb") as sink:
                status, c, _, err = runchild(["zopfli", "--deflate", "--i%d" % iters, "-c", os.path.join(srcdir, name)],
                                             tmp, sink)
            raw = open(out, "rb").read()
            d = zlib.decompressobj(-15)
            if status != 0 or d.decompress(raw) + d.flush() != data:
                sys.exit("zopfli failed on %s" % name)
            total += len(raw)
            cpu += c
        results.append(("zopfli --i%d" % iters, total, cpu))
    for label, argv in recompressors(vorpak):
        if not installed(argv("x")[0]):
            print("missing: %s" % label)
            continue
        dst = os.path.join(tmp, "re.zip")
        shutil.copy(archive, dst)
        results.append(zipresult(label, argv(dst), tmp, dst, files))
    return results


def canterbury(vorpak, tmp):
    names = sorted(os.listdir(DEFAULT_CORPUS))
    files = {n: open(os.path.join(DEFAULT_CORPUS, n), "rb").read() for n in names}
    archive = os.path.join(tmp, "canterbury.zip")
    subprocess.run(["zip", "-q", "-j", "-X", "-9", archive] + [os.path.join(DEFAULT_CORPUS, n) for n in names], check=True)
    return "Canterbury corpus (%d files, %s bytes)" % (len(files), fmtbytes(sum(map(len, files.values())))), \
        measure(files, DEFAULT_CORPUS, archive, vorpak, tmp)


def jar(path, vorpak, tmp):
    if not os.path.exists(path) and path == DEFAULT_JAR and os.geteuid() == 0:
        subprocess.run(["apt-get", "install", "-y", "-qq", "libcommons-io-java"], check=False,
                       env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"), stdout=subprocess.DEVNULL)
    if not os.path.exists(path):
        sys.exit("no %s: apt-get install libcommons-io-java" % path)
    src = os.path.join(tmp, "jar")
    os.makedirs(src)
    with zipfile.ZipFile(path) as z:
        z.extractall(src, [i for i in z.infolist() if not i.filename.endswith("/")])
    files = {}
    for root, _, names in os.walk(src):
        for n in names:
            p = os.path.join(root, n)
            files[os.path.relpath(p, src)] = open(p, "rb").read()
    # The JAR's own directory entries aside, the same files: what the
    # recompressors rewrite.
    archive = os.path.join(tmp, "small.jar")
    with zipfile.ZipFile(path) as zin, zipfile.ZipFile(archive, "w") as zout:
        for i in zin.infolist():
            if not i.filename.endswith("/"):
                zout.writestr(i, zin.read(i), compress_type=i.compress_type)
    return "%s (%d entries, %s bytes)" % (os.path.basename(path), len(files), fmtbytes(sum(map(len, files.values())))), \
        measure(files, src, archive, vorpak, tmp)


def draw(sets, png):
    try:
        import matplotlib
    except ImportError:
        sys.exit("no matplotlib for %s: apt-get install python3-matplotlib (Debian's python3), "
                 "then draw again with --draw %s" % (sys.executable, os.path.splitext(png)[0] + ".json"))
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, axes = plt.subplots(1, len(sets), figsize=(7.5 * len(sets), 6.5))
    if len(sets) == 1:
        axes = [axes]
    for ax, (title, results) in zip(axes, sets):
        ax.set_xscale("log")
        ax.set_xlabel("CPU seconds (log scale)")
        ax.set_ylabel("bytes of Deflate data")
        ax.grid(True, which="both", alpha=0.3)
        # The close finishers, not zip -9's distant bytes, set the scale.
        best = min(n for _, n, _ in results)
        top = min(sorted(n for _, n, _ in results)[-2], best * 1.03) * 1.002
        ax.set_ylim(best * 0.998, top)
        ax.set_xlim(min(max(c, 0.01) for _, _, c in results) / 2, max(c for _, _, c in results) * 3)
        off = [label for label, n, _ in results if n > top]
        ax.set_title(title + ("\n(off the scale: %s)" % ", ".join(off) if off else ""), fontsize=10)
        ax.yaxis.set_major_formatter(matplotlib.ticker.FuncFormatter(lambda v, _: "{:,.0f}".format(v)))
        fig.canvas.draw()
        # Each label where it overlaps no label placed before it (in pixels).
        placed = []
        for label, n, cpu in sorted(results, key=lambda r: r[1]):
            if n > top:
                continue
            mine = label.startswith("vorpak")
            colour = "tab:red" if mine else "tab:blue"
            ax.scatter([max(cpu, 0.01)], [n], color=colour, s=30, zorder=3)
            px, py = ax.transData.transform((max(cpu, 0.01), n))
            w, h = 6.2 * len(label), 11
            for dx, dy in [(6, 4), (6, -14), (6, 16), (6, -26), (-8 - w, 4), (-8 - w, -14), (6, 28), (6, -38)]:
                box = (px + dx, py + dy, px + dx + w, py + dy + h)
                if all(box[2] < q[0] or box[0] > q[2] or box[3] < q[1] or box[1] > q[3] for q in placed):
                    break
            placed.append(box)
            ax.annotate(label, (max(cpu, 0.01), n), textcoords="offset points", xytext=(dx * 72 / fig.dpi, dy * 72 / fig.dpi),
                        fontsize=8, color="tab:red" if mine else "black")
    fig.suptitle("Smaller is lower, faster is further left (vorpak in red)")
    fig.tight_layout()
    fig.savefig(png, dpi=110)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--vorpak", default=DEFAULT_VORPAK)
    ap.add_argument("--jar", default=DEFAULT_JAR)
    ap.add_argument("--png", default=DEFAULT_PNG)
    ap.add_argument("--sets", default="canterbury,jar")
    ap.add_argument("--draw", metavar="JSON", help="only draw the results a run saved")
    a = ap.parse_args()
    vorpak = os.path.abspath(a.vorpak)
    saved = os.path.splitext(a.png)[0] + ".json"
    if a.draw:
        with open(a.draw) as f:
            draw(json.load(f), a.png)
        return
    sets = []
    with tempfile.TemporaryDirectory() as tmp:
        for s in a.sets.split(","):
            sets.append(canterbury(vorpak, tmp) if s == "canterbury" else jar(a.jar, vorpak, tmp))
    # The figures are kept beside the picture, so that it can be drawn again.
    with open(saved, "w") as f:
        json.dump(sets, f, indent=1)
    for title, results in sets:
        ref = dict((l, (n, c)) for l, n, c in results).get("zopfli --i100")
        rows = [[label, fmtbytes(n), "%.2f" % cpu, "%.4f" % (n / ref[0]) if ref else "-",
                 "%.3f" % (cpu / ref[1]) if ref else "-"] for label, n, cpu in results]
        printtable(title, ["tool", "bytes", "CPU s", "bytes / zopfli --i100", "CPU / zopfli --i100"], rows, True)
    draw(sets, a.png)
    print("\npicture: %s" % a.png)


if __name__ == "__main__":
    main()
