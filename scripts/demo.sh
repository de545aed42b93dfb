#!/usr/bin/env bash
# The main job on the bundled simulator: builds the program and the simulator, has the simulator
# generate a controller's reading as a data file, and converts it into the text output with an
# unattended run (no window, no display needed). The results are left in out/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j"$(nproc)" --target vir05win vir05sim

mkdir -p out
cd out
../build/release/sim/vir05sim generate --seed 1 --circuits 2 -o 500001.vi5
env -u DISPLAY ../build/release/app/vir05win -z500001.vi5
echo "Data file:   $(pwd)/500001.vi5"
echo "Text output: $(pwd)/def.txt ($(grep -c '^\[' def.txt) sections)"
echo "Run log:     $(pwd)/def.txt.log"
