#!/usr/bin/env bash
# Runs every fuzz target for N seconds (default 60): the readers from archives
# and .gz files Python writes here, the round trip from nothing. A failure leaves
# its reproducer in fuzz/crashes/ and exits non-zero.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
secs="${1:-60}"
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

build="$root/build/fuzz"
crashes="$root/fuzz/crashes"
mkdir -p "$crashes"
mkdir -p "$build/seeds/roundtrip" "$build/seeds/zipin" "$build/seeds/gzip"
python3 - "$build/seeds/zipin" data/canterbury/fields.c <<'EOF'
import sys, zipfile
text = open(sys.argv[2], "rb").read()[:300]
with zipfile.ZipFile(sys.argv[1] + "/plain", "w") as z:
    z.writestr("a.txt", text, zipfile.ZIP_DEFLATED); z.writestr("dir/", b""); z.comment = b"comment"
f = open(sys.argv[1] + "/descriptor", "wb")   # written as to a pipe: data descriptors
with zipfile.ZipFile(type("pipe", (), {"write": lambda _, b: f.write(b), "flush": f.flush})(), "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("a.txt", text); z.writestr("b.txt", text[:40], zipfile.ZIP_STORED)
with zipfile.ZipFile(sys.argv[1] + "/zip64", "w") as z:
    with z.open("a.txt", "w", force_zip64=True) as w: w.write(text)
EOF
python3 - "$build/seeds/gzip" data/canterbury/fields.c <<'EOF'
import gzip, sys
text = open(sys.argv[2], "rb").read()[:300]
open(sys.argv[1] + "/plain", "wb").write(gzip.compress(text, mtime=0))
with gzip.GzipFile(sys.argv[1] + "/named", "wb", mtime=1) as g: g.write(text)
EOF
failed=0
for t in roundtrip zipin gzip; do
  work="$build/corpus/$t"
  log="$build/$t.log"
  mkdir -p "$work"
  status=ok
  if ! "$build/fuzz/fuzz_$t" -max_total_time="$secs" -timeout=30 -print_final_stats=1 \
      -artifact_prefix="$crashes/$t-" "$work" "$build/seeds/$t" >"$log" 2>&1; then
    status=FAILED
    failed=1
  fi
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  echo "fuzz_$t: ${execs:-unknown} executions in ${secs} s: $status"
  [[ $status == ok ]] || tail -n 60 "$log"
done
exit "$failed"
