#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test; then builds the core and link
# tests with AddressSanitizer and UndefinedBehaviorSanitizer and runs them again.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
# VIR05_TEST_LOAD=N runs the tests (not the builds) beside N busy loops, as on a loaded machine.
loaded() {
  if [[ "${VIR05_TEST_LOAD:-0}" -gt 0 ]]; then bash scripts/with-load.sh "$VIR05_TEST_LOAD" "$@"; else "$@"; fi
}

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVIR05_WERROR=ON
cmake --build build/release -j"$jobs"
# The poller's sharing tests use a real PostgreSQL server and a real MQTT broker: throwaway ones
# on loopback and a Unix socket, stopped at the end whatever happens.
services_dir="$(mktemp -d /tmp/vir05-services.XXXXXX)"
trap 'bash scripts/services.sh stop "$services_dir"' EXIT
bash scripts/services.sh start "$services_dir"
# The fault soak runs once, in the sanitizer pass below.
(
  . "$services_dir/env"
  VIR05_REQUIRE_SERVICES=1 loaded ctest --test-dir build/release --output-on-failure -E '^soak_tests$'
)
bash scripts/services.sh stop "$services_dir"
trap - EXIT
# The Debian package of this Release build, checked, installed, tried as installed and purged.
bash scripts/package.sh
bash scripts/install-test.sh

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVIR05_SANITIZE=ON -DVIR05_WERROR=ON \
  -DVIR05_BUILD_UI=OFF -DVIR05_BUILD_BENCH=OFF
asan_targets=(core_tests link_tests soak_tests poll_tests)
cmake --build build/asan -j"$jobs" --target "${asan_targets[@]}"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  loaded ctest --test-dir build/asan --output-on-failure -R "^($(IFS='|'; echo "${asan_targets[*]}"))\$"

loaded bash scripts/fuzz.sh 60
