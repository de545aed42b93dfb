#!/usr/bin/env bash
# Builds the Debian package from the Release build (build/release, which scripts/test.sh makes)
# and leaves it in build/package/; then checks it: lintian must report no error, and the
# desktop entry and the AppStream metadata must validate.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

if [ ! -f build/release/CMakeCache.txt ]; then
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVIR05_WERROR=ON
fi
cmake --build build/release -j"$(nproc)"  # nothing to do after the test command's build

rm -rf build/package
cpack --config build/release/CPackConfig.cmake -B build/package >build/package.log ||
  { cat build/package.log; exit 1; }
deb=$(ls build/package/vir05_*.deb)
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"

desktop-file-validate packaging/vir05win.desktop
echo "desktop-file-validate: no complaints"
appstreamcli validate --no-net --pedantic packaging/ru.vir05.vir05win.metainfo.xml
# Errors fail the step; warnings and notes are printed for the record.
lintian --fail-on error --tag-display-limit 0 --display-info "$deb" || { echo "lintian: errors"; exit 1; }
echo "lintian: no errors"
