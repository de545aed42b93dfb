#!/usr/bin/env bash
# Runs a command beside N busy loops, as on a loaded machine; the loops end with the command.
#   bash scripts/with-load.sh 3 build/release/tests/ui_tests --gtest_filter='SessionTest.*'
set -euo pipefail
n=$1
shift
pids=()
stop_load() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap stop_load EXIT
for ((i = 0; i < n; i++)); do
  (while :; do :; done) &
  pids+=($!)
done
"$@"
