#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target for N seconds each
# (first argument, default 60), starting from the seed corpus in
# fuzz/corpus/<target>. Prints the executions of each target; a crash, a
# timeout or a leak prints the sanitizer's report, leaves the reproducer in
# fuzz/crashes/ and makes the script exit non-zero.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
secs="${1:-60}"
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

build="$root/build/fuzz"
crashes="$root/fuzz/crashes"
mkdir -p "$crashes"
failed=0
for t in roundtrip zipin; do
  # New inputs go to a working corpus in the build tree; the seeds in the
  # source tree are only read.
  work="$build/corpus/$t"
  log="$build/$t.log"
  mkdir -p "$work"
  status=ok
  if ! "$build/fuzz/fuzz_$t" -max_total_time="$secs" -timeout=30 -print_final_stats=1 \
      -artifact_prefix="$crashes/$t-" "$work" "$root/fuzz/corpus/$t" >"$log" 2>&1; then
    status=FAILED
    failed=1
  fi
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  echo "fuzz_$t: ${execs:-unknown} executions in ${secs} s: $status"
  # The sanitizer's report and where the reproducer was written.
  [[ $status == ok ]] || tail -n 60 "$log"
done
exit "$failed"
