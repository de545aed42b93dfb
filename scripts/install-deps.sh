#!/usr/bin/env bash
# Installs the Debian packages this project builds, tests and runs with.
# Idempotent: packages already present are left as they are.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-charts-dev qt6-serialport-dev
  libqt6opengl6-dev libxkbcommon-dev libvulkan-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libtomlplusplus-dev libsqlite3-dev
  libpq-dev libmosquitto-dev postgresql mosquitto
  xvfb xauth
  clang libclang-rt-14-dev clang-format
  locales fonts-dejavu-core
  dpkg-dev scdoc librsvg2-bin lintian desktop-file-utils appstream
  shared-mime-info libglib2.0-bin man-db xdotool
  qt6-translations-l10n
  poppler-utils
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -ne 0 ]; then
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

# A Russian locale, so that the program and its tests meet the regional formats it is used with
# (a decimal comma, Russian dates).
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  $SUDO localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi
