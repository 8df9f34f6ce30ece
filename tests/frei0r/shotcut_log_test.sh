#!/usr/bin/env bash
# Shotcut reads the installed filter folder and adds Velbrin to its filters,
# as its own log tells. The build is installed into a fresh prefix, and
# Shotcut (Debian's, copied into the prefix's bin/) is started there, so it
# looks in <prefix>/share/shotcut/qml/filters/, as Debian's Shotcut looks in
# /usr/share/shotcut/qml/filters/ after cmake --install --prefix /usr. The
# rest of its share/shotcut is linked from its own installation. It opens
# the Shotcut project of tests/frei0r/projects/ on an Xvfb display, with the
# installed plug-in on FREI0R_PATH, and runs until the project is open.
#   shotcut_log_test.sh BUILD_DIR PROJECTS_DIR
# With --installed instead of BUILD_DIR, the installed package is read: Debian's
# Shotcut runs as a user starts it, from /usr, without FREI0R_PATH, so MLT
# finds the plug-in in Debian's frei0r folder /usr/lib/frei0r-1 by itself.
# Exit 77 (skipped) when Shotcut is not installed.
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }

if [ "${1:-}" = "--inside-display" ]; then
  # On the Xvfb display: start Shotcut, wait until the project is open and
  # a moment more for its first frame, and end it.
  shift
  prefix=$1 appdata=$2 project=$3
  "$prefix/bin/shotcut" --noupgrade --appdata "$appdata" "$project" >"$appdata/stdout.txt" 2>&1 &
  shotcut=$!
  log=$appdata/shotcut-log.txt
  for _ in $(seq 600); do
    # Shotcut logs the project's name at Debug level as it starts opening
    # it, and at Info level once it is open: a loaded machine may take
    # seconds between the two.
    grep -qF "[Info   ] <MainWindow::open> \"$project\"" "$log" 2>/dev/null && break
    kill -0 "$shotcut" 2>/dev/null || break
    sleep 0.2
  done
  sleep 3
  status=running
  kill -0 "$shotcut" 2>/dev/null || status=ended
  echo "$status" >"$appdata/status.txt"
  kill "$shotcut" 2>/dev/null || true
  for _ in $(seq 25); do kill -0 "$shotcut" 2>/dev/null || break; sleep 0.2; done
  kill -9 "$shotcut" 2>/dev/null || true
  wait "$shotcut" 2>/dev/null || true
  exit 0
fi

installed=false
[ "$1" = --installed ] && installed=true
$installed || build=$(cd "$1" && pwd)
projects=$(cd "$2" && pwd)
shotcut=$(command -v shotcut || true)
[ -n "$shotcut" ] || { echo "Shotcut is not installed (scripts/install-deps.sh installs it)"; exit 77; }
shotcut=$(readlink -f "$shotcut")
shotcut_share=$(dirname "$shotcut")/../share/shotcut
[ -d "$shotcut_share/qml/filters" ] || fail "no $shotcut_share/qml/filters beside $shotcut"

work=$(mktemp -d /tmp/velbrin-shotcut-test-XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
frei0r_path=(FREI0R_PATH="$prefix/lib/frei0r-1")
if $installed; then
  prefix=/usr
  frei0r_path=(-u FREI0R_PATH)
  [ "$shotcut" = /usr/bin/shotcut ] || fail "Shotcut is not Debian's /usr/bin/shotcut but $shotcut"
else
  cmake --install "$build" --prefix "$prefix" >/dev/null
fi
[ -f "$prefix/share/shotcut/qml/filters/velbrin/meta.qml" ] || fail "the filter folder is not installed"
[ -f "$prefix/lib/frei0r-1/velbrin.so" ] || fail "the plug-in is not installed"

# Shotcut in the prefix: its binary, its own QML (views, modules, ...) and
# filters, and the installed velbrin folder among them.
if ! $installed; then
  cp "$shotcut" "$prefix/bin/shotcut"
  for entry in "$shotcut_share"/*; do
    [ "$(basename "$entry")" = qml ] || ln -s "$(readlink -f "$entry")" "$prefix/share/shotcut/"
  done
  for entry in "$shotcut_share"/qml/*; do
    [ "$(basename "$entry")" = filters ] || ln -s "$(readlink -f "$entry")" "$prefix/share/shotcut/qml/"
  done
  for entry in "$shotcut_share"/qml/filters/*; do
    [ "$(basename "$entry")" = velbrin ] || ln -s "$(readlink -f "$entry")" "$prefix/share/shotcut/qml/filters/"
  done
fi

# The project and the clip it names (640x360, 25 frames a second).
mkdir -p "$work/project" "$work/appdata" "$work/home"
cp "$projects/shotcut-velbrin.mlt" "$work/project/"
ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=s=640x360:r=25,noise=alls=12:allf=t" -frames:v 50 \
  -c:v ffv1 -pix_fmt bgr0 "$work/project/clip.mkv"

env "${frei0r_path[@]}" HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
  XDG_DATA_HOME="$work/home/.local/share" XDG_CACHE_HOME="$work/home/.cache" \
  xvfb-run -a -s "-screen 0 1280x800x24" "$0" --inside-display "$prefix" "$work/appdata" \
  "$work/project/shotcut-velbrin.mlt"

log=$work/appdata/shotcut-log.txt
[ -s "$log" ] || fail "Shotcut wrote no log; its output: $(tail -n 20 "$work/appdata/stdout.txt")"
show() { echo "--- Shotcut's log, the lines about velbrin and the project:" >&2; grep -iE 'velbrin|MainWindow::open' "$log" >&2 || true; }
grep -qF '<FilterController::loadFilterMetadata> reading filter metadata "velbrin" "meta.qml"' "$log" ||
  { show; fail "Shotcut did not read the installed filter folder"; }
grep -qF '<FilterController::loadFilterMetadata> added filter "Reduce Noise: Velbrin"' "$log" ||
  { show; fail "Shotcut read the folder but did not add the filter (is the plug-in found?)"; }
if grep -E '^\[(Warning|Error|Fatal)' "$log" | grep -iE 'filters/velbrin|frei0r\.velbrin'; then
  show
  fail "Shotcut reported a problem with the filter"
fi
grep -qF "[Info   ] <MainWindow::open> \"$work/project/shotcut-velbrin.mlt\"" "$log" ||
  { show; fail "Shotcut did not open the project"; }
[ "$(cat "$work/appdata/status.txt")" = running ] ||
  { show; fail "Shotcut ended before it was closed, with the project using the filter open"; }
echo "Shotcut read the installed filter folder, added \"Reduce Noise: Velbrin\" and opened a project using it"
