#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60) on its corpus.
# Fails (exit 1) when any target crashes, trips a sanitizer, times out, runs out of memory or
# leaks; the failing input is kept as build/fuzz/work/<target>-crash-... (or -timeout-, -leak-,
# -oom-) and the whole log as build/fuzz/work/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVIR05_FUZZ=ON -DVIR05_BUILD_QT=OFF -DVIR05_BUILD_TESTS=OFF -DVIR05_BUILD_BENCH=OFF >/dev/null
cmake --build build/fuzz -j"$(nproc)"

# A sanitizer finding ends the run with an error exit, whatever the sanitizer's own default.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}

# Target and the longest input it is given: a data file is 135168 bytes, a reply stream holds
# an image reply and up to four compressed archive blocks.
targets=(datafile:200000 settings:200000 cmdline:200000 reply:80000 schedule:1024 fleet:65536)
failed=()
for entry in "${targets[@]}"; do
  t=${entry%%:*}
  max_len=${entry##*:}
  work=build/fuzz/work
  mkdir -p "$work/$t" "fuzz/corpus/$t"
  log="$work/$t.log"
  echo "== ${t}_fuzz for ${seconds}s"
  rc=0
  "build/fuzz/fuzz/${t}_fuzz" -max_total_time="$seconds" -timeout=10 -max_len="$max_len" \
    -print_final_stats=1 -artifact_prefix="$work/$t-" \
    "$work/$t" "fuzz/corpus/$t" >"$log" 2>&1 || rc=$?
  grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true
  grep -E '^stat::number_of_executed_units' "$log" || true
  if [[ $rc -ne 0 ]] || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|==ERROR' "$log"; then
    echo "!! ${t}_fuzz FAILED (exit $rc), see $log:"
    grep -E 'ERROR|runtime error|invariant|SUMMARY|Test unit written' "$log" | head -n 20 || true
    failed+=("$t")
  fi
done
if [[ ${#failed[@]} -ne 0 ]]; then
  echo "fuzzing FAILED: ${failed[*]}"
  exit 1
fi
echo "fuzzing passed: ${#targets[@]} targets, ${seconds}s each"
