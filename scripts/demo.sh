#!/usr/bin/env bash
# The main job on the bundled simulator: builds the program and the simulator, starts the
# simulated controller on a free local TCP port and reads its whole archive. With a display the
# window opens connected to the simulator and shows what it read (close it to end the demo);
# without one the same read runs unattended. The text output, its run log, the data file named
# after the controller's serial number and the link's byte trace are left in out/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j"$(nproc)" --target vir05win vir05sim

mkdir -p out
cd out
rm -f ready.txt def.txt def.txt.log test.txt ./*.vi5
../build/release/sim/vir05sim --tcp 0 --seed 1 --circuits 2 --ready-file ready.txt >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s ready.txt ] && break; sleep 0.05; done
port=$(sed -n 's/^TCP 127\.0\.0\.1://p' ready.txt)
echo "Simulated controller on 127.0.0.1:$port"

status=0
files=$(pwd)
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Opening the window; close it to end the demo."
  ../build/release/app/vir05win -si127.0.0.1 -sp"$port" -n1 -show || status=$?
  # The window keeps the data file and the text output in the program's directory.
  files=$(cd ../build/release/app && pwd)
else
  echo "No display: the archive is read without the window."
  ../build/release/app/vir05win -si127.0.0.1 -sp"$port" -n1 || status=$?
fi
echo "Exit code:   $status"
for f in "$files"/*.vi5; do echo "Data file:   $f"; done
echo "Text output: $files/def.txt ($(grep -c '^\[' "$files/def.txt") sections)"
echo "Run log:     $(pwd)/def.txt.log"
echo "Link trace:  $(pwd)/test.txt"
exit "$status"
