#!/usr/bin/env bash
# Builds the Release tree and runs every benchmark of the project, in one run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j"$(nproc)"
for b in core_bench process_bench link_bench window_bench memory_bench store_bench fleet_bench; do
  echo "== $b"
  "build/release/bench/$b"
done
# Pollers sharing a fleet need a database server: a throwaway one, stopped whatever happens.
services_dir="$(mktemp -d /tmp/vir05-services.XXXXXX)"
trap 'bash scripts/services.sh stop "$services_dir"' EXIT
bash scripts/services.sh start "$services_dir"
echo "== shared_bench"
(. "$services_dir/env" && build/release/bench/shared_bench)
