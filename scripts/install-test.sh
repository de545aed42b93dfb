#!/usr/bin/env bash
# Installs the package that scripts/package.sh built, checks the programs as installed (from
# PATH, with a fresh home directory), and purges the package again. Needs root for dpkg; it
# says so and skips where it cannot install.
#   VIR05_SHOT_DIR=DIR  also keeps a picture of the window opened from the desktop entry
#   VIR05_SCREEN=WxH    the virtual screen (default 1366x768)
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
  echo "install test: FAILED: $*" >&2
  exit 1
}

# Polls until the command succeeds, at most $1 seconds (a busy machine starts programs slowly).
wait_until() {
  local limit=$1
  shift
  local end=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.2
  done
}

if [ "${1:-}" = --window ]; then
  # Under the virtual display: the desktop entry's Exec line opens a reading, and the
  # connection dialog's "ОК" saves the settings. $2 the reading, $3 where pictures go.
  reading=$2
  shots=$3
  exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/vir05win.desktop)
  [ -n "$exec_line" ] || fail "the desktop entry has no Exec line"
  read -r -a argv <<<"${exec_line//%f/$reading}"
  "${argv[@]}" >"$HOME/window.out" 2>&1 &
  pid=$!
  # The window's caption is the name of the file it opened.
  wait_until 90 xdotool search --onlyvisible --name "^$reading\$" ||
    { kill "$pid" 2>/dev/null; cat "$HOME/window.out"; fail "no window showing $reading"; }
  if [ -n "$shots" ]; then
    mkdir -p "$shots"
    import -window root "$shots/installed-open-${VIR05_SCREEN:-1366x768}.png"
  fi
  wait_until 30 test -s "$HOME/.local/share/vir05/def.txt" ||
    { kill "$pid"; fail "the window's text output is not in ~/.local/share/vir05/"; }
  # Nothing of the program's own lands in the directory the desktop started it in.
  for stray in def.txt test.txt; do
    [ ! -e "$HOME/$stray" ] || { kill "$pid"; fail "the window wrote $stray into the home directory"; }
  done
  # The menu "Подключение" (third in the menu bar), then "ОК" in the dialog. Escape first
  # closes whatever an earlier try may have opened.
  win=$(xdotool search --onlyvisible --name "^$reading\$" | sed -n 1p)
  dialog_name='^Настройки подключения$'
  for try in 1 2 3; do
    xdotool windowfocus --sync "$win" || true
    xdotool key Escape
    xdotool key alt
    xdotool key Right Right Return
    if wait_until 20 xdotool search --onlyvisible --name "$dialog_name"; then break; fi
    [ $try -lt 3 ] || { kill "$pid"; fail "the connection dialog did not open"; }
  done
  dialog=$(xdotool search --onlyvisible --name "$dialog_name" | sed -n 1p)
  xdotool windowfocus --sync "$dialog" || true
  [ -n "$shots" ] && import -window root "$shots/installed-connect-${VIR05_SCREEN:-1366x768}.png"
  xdotool key Return
  wait_until 30 grep -q '^Interface=' "$HOME/.config/vir05/vir05.ini" ||
    { kill "$pid"; fail "the settings were not saved in ~/.config/vir05/vir05.ini"; }
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install test: SKIPPED: dpkg -i needs root (CI runs as root)"
  exit 0
fi
if [[ "$(dpkg-query -W -f='${Status}' vir05 2>/dev/null || true)" == *"ok installed"* ]]; then
  echo "install test: SKIPPED: a vir05 package is installed on this machine already;" \
    "the test installs and purges only its own"
  exit 0
fi
deb=$(ls build/package/vir05_*.deb 2>/dev/null) || fail "no package in build/package (run scripts/package.sh)"

work=$(mktemp -d /tmp/vir05-install-XXXXXX)
home=$work/home
mkdir -p "$home"
installed=0
cleanup() {
  if [ $installed = 1 ]; then dpkg -P vir05 >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# A fresh user: no XDG variables, an empty home.
as_user() { env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_RUNTIME_DIR HOME="$home" "$@"; }

dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' | grep -v '/$' >"$work/files"
dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; }
installed=1
echo "install test: installed $(basename "$deb")"

[ "$(command -v vir05win)" = /usr/bin/vir05win ] || fail "vir05win is not /usr/bin/vir05win in PATH"
while read -r f; do [ -e "$f" ] || fail "$f missing after install"; done <"$work/files"

# A generated reading, converted from PATH in a working directory of the user's.
mkdir -p "$work/run"
(cd "$work/run" && as_user vir05sim generate --seed 3 --circuits 2 -o "$work/run/500003.vi5" >/dev/null) ||
  fail "vir05sim generate"
(cd "$work/run" && as_user vir05win -z500003.vi5 2>"$work/run/stderr") ||
  { cat "$work/run/stderr"; fail "vir05win -z from PATH"; }
grep -q '^DevNumber=' "$work/run/def.txt" || fail "vir05win -z wrote no text output"
echo "install test: vir05win -z wrote def.txt"

# The desktop knows the file type and its program.
[ "$(as_user gio info -a standard::content-type "$work/run/500003.vi5" |
  sed -n 's/^ *standard::content-type: //p')" = application/x-vir05-data ] ||
  fail "a .vi5 file is not of type application/x-vir05-data"
handlers=$(as_user gio mime application/x-vir05-data)
grep -q 'vir05win.desktop' <<<"$handlers" || fail "no program is registered for application/x-vir05-data"
echo "install test: .vi5 files are application/x-vir05-data, opened by vir05win.desktop"

# The window, opened through the desktop entry; its settings saved in ~/.config/vir05/.
self=$PWD/scripts/install-test.sh
(cd "$home" && as_user xvfb-run -a -s "-screen 0 ${VIR05_SCREEN:-1366x768}x24" \
  bash "$self" --window "$work/run/500003.vi5" "${VIR05_SHOT_DIR:-}") ||
  fail "the window opened from the desktop entry"
[ ! -e /usr/bin/vir05.ini ] || fail "settings were written into /usr/bin"
[ -s "$home/.local/share/vir05/def.txt" ] || fail "no text output in the data directory"
[ -e "$home/.local/share/vir05/test.txt" ] && [ ! -e "$home/test.txt" ] ||
  fail "the window's link trace is not in the data directory"
echo "install test: the desktop entry opened the reading; settings in ~/.config/vir05/vir05.ini"

# Manual pages and completion.
# (Output is read whole before it is searched: a reader that stops early would fail the pipe.)
for page in vir05win vir05sim; do
  text=$(man -P cat "$page" 2>/dev/null) || fail "man $page"
  grep -q "^NAME" <<<"$text" || fail "man $page shows no page"
done
text=$(LANG=ru_RU.UTF-8 man -L ru -P cat vir05win 2>/dev/null) || fail "man -L ru vir05win"
grep -q 'ФАЙЛЫ' <<<"$text" || fail "man -L ru vir05win is not the Russian page"
reply=$(bash -c 'source /usr/share/bash-completion/completions/vir05win
  COMP_WORDS=(vir05win -s); COMP_CWORD=1; _vir05win; echo "${COMPREPLY[*]}"')
[ "$reply" = "-st -si -sp -show" ] || fail "completion of vir05win -s gave '$reply'"
if [ -x /usr/bin/vir05poll ]; then
  as_user vir05poll --help >/dev/null || fail "vir05poll --help"
  text=$(man -P cat vir05poll 2>/dev/null) || fail "man vir05poll"
  grep -q '^NAME' <<<"$text" || fail "man vir05poll shows no page"
  for unit in vir05poll.service vir05poll.timer; do
    [ -f /lib/systemd/system/$unit ] || fail "$unit not installed"
    # Shipped disabled: nothing links it into a target.
    [ -z "$(find /etc/systemd/system -name "$unit" 2>/dev/null)" ] || fail "$unit is enabled"
  done
  echo "install test: vir05poll --help, man vir05poll, its units"
else
  echo "install test: this tree builds no vir05poll; its checks are skipped"
fi

dpkg -P vir05 >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -P"; }
installed=0
while read -r f; do [ ! -e "$f" ] || fail "$f left after purge"; done <"$work/files"
for d in /usr/share/vir05 /usr/share/doc/vir05; do [ ! -e $d ] || fail "$d left after purge"; done
[ ! -e /usr/share/mime/application/x-vir05-data.xml ] || fail "the file type outlived the package"
! grep -qs vir05win /usr/share/applications/mimeinfo.cache || fail "the desktop still names vir05win"
[ -s "$home/.config/vir05/vir05.ini" ] || fail "the user's settings went with the package"
echo "install test: purged; only the user's own files are left"
