#!/usr/bin/env bash
# Pictures of the window for looking at it: every page after an archive read from the simulated
# controller, every dialog and the printed chart, at a laptop's 1366x768 and at 1920x1080, under
# a virtual X server. Usage: bash scripts/screenshots.sh [DIR] (default /tmp/vir05-shots).
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-/tmp/vir05-shots}"
mkdir -p "$dir"
bash scripts/install-deps.sh >/dev/null
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVIR05_WERROR=ON >/dev/null
cmake --build build/release -j2 --target ui_tests >/dev/null
for size in 1366x768 1920x1080; do
  VIR05_SHOT_DIR="$dir" VIR05_SHOT_PREFIX="$size" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 ${size}x24" \
    build/release/tests/ui_tests --gtest_filter='ScreenshotSession.*' >/dev/null
  pdftoppm -png -r 60 -singlefile "$dir/$size-printed.pdf" "$dir/$size-printed"
done
ls "$dir"
