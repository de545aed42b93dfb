#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60) on its corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVIR05_FUZZ=ON -DVIR05_BUILD_QT=OFF -DVIR05_BUILD_TESTS=OFF -DVIR05_BUILD_BENCH=OFF >/dev/null
cmake --build build/fuzz -j"$(nproc)"
for t in datafile settings cmdline; do
  mkdir -p "build/fuzz/work/$t"
  echo "== ${t}_fuzz for ${seconds}s"
  "build/fuzz/fuzz/${t}_fuzz" -max_total_time="$seconds" -timeout=10 -max_len=200000 \
    "build/fuzz/work/$t" "fuzz/corpus/$t" 2>&1 | tail -n 3
done
