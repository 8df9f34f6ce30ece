#!/usr/bin/env bash
# Velbrin in the editors' windows: installs the build (the frei0r plug-in and
# the editors' descriptions of it) into a scratch prefix, starts Shotcut and
# then Kdenlive on an Xvfb display with those files, searches "smooth" in
# each one's filter list, applies Velbrin to a clip and sets Level 150 and
# Dynamic 4 in its panel, and saves pictures of the list and the panel:
#   docs/shotcut-list.png   docs/shotcut-panel.png
#   docs/kdenlive-list.png  docs/kdenlive-panel.png
# Then it ticks Show noise and saves each editor's project into
# tests/frei0r/projects/ (shotcut-velbrin.mlt, kdenlive-velbrin.kdenlive),
# the projects that tests/frei0r/frei0r_editor_projects_test.cpp renders
# with melt; each saved project is checked for the values set.
#
#   scripts/editors-screenshot.sh [--keep]   (--keep: leave the scratch folder)
#
# The editors are driven with xdotool at the positions of Debian 12's
# Shotcut 22.12 and Kdenlive 22.12 in a 1600x1000 window; each step waits for
# what it needs (a window, a line of Shotcut's log, a file) and the script
# stops with a message when one does not come. Installs what is missing
# (shotcut, kdenlive, xdotool, ...; run as root or with sudo available).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
keep=0
[ "${1:-}" = "--keep" ] && keep=1

fail() { echo "editors-screenshot: $*" >&2; exit 1; }

packages=(shotcut kdenlive xdotool xvfb xauth imagemagick dbus ffmpeg melt cmake ninja-build g++)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
fi

# The build, installed as a user installs it.
cmake --preset native >/dev/null
cmake --build --preset native -j2 --target velbrin noname velbrin_frei0r >/dev/null
work=$(mktemp -d /tmp/velbrin-editors-XXXXXX)
if [ "$keep" -eq 0 ]; then trap 'rm -rf "$work"' EXIT; else echo "scratch folder: $work"; fi
prefix=$work/prefix
cmake --install build/native --prefix "$prefix" >/dev/null

# Shotcut looks for filters only under its own share/: a copy of Debian's
# Shotcut in the prefix's bin/ looks in the prefix, as Debian's does in /usr
# after cmake --install --prefix /usr (tests/frei0r/shotcut_log_test.sh does
# the same).
shotcut_bin=$(readlink -f "$(command -v shotcut)")
shotcut_share=$(dirname "$shotcut_bin")/../share/shotcut
cp "$shotcut_bin" "$prefix/bin/shotcut"
for e in "$shotcut_share"/*; do [ "$(basename "$e")" = qml ] || ln -s "$(readlink -f "$e")" "$prefix/share/shotcut/"; done
for e in "$shotcut_share"/qml/*; do [ "$(basename "$e")" = filters ] || ln -s "$(readlink -f "$e")" "$prefix/share/shotcut/qml/"; done
for e in "$shotcut_share"/qml/filters/*; do ln -s "$(readlink -f "$e")" "$prefix/share/shotcut/qml/filters/"; done

# A noisy clip of the size both projects take: 640x360, 25 frames a second,
# 2 seconds, stored exactly (FFV1 RGB).
mkdir -p "$work/media" "$work/home"
ffmpeg -nostdin -loglevel error -f lavfi \
  -i "mandelbrot=size=640x360:rate=25:start_scale=0.4:end_scale=0.3,noise=alls=10:allf=t,format=bgr0" \
  -frames:v 50 -c:v ffv1 "$work/media/clip.mkv"

export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export XDG_CACHE_HOME=$work/home/.cache XDG_RUNTIME_DIR=$work/home/runtime
export XDG_DATA_DIRS=$prefix/share:/usr/local/share:/usr/share
export FREI0R_PATH=$prefix/lib/frei0r-1
# Kdenlive keeps a lock file in the temporary folder while it starts, and
# one left by a run that was ended makes the next ask about a crash.
export TMPDIR=$work/tmp
mkdir -p "$XDG_RUNTIME_DIR" "$TMPDIR" && chmod 700 "$XDG_RUNTIME_DIR"

# Our own display, ended by its process id at the end.
exec 3> "$work/display"
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
exec 3>&-
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=:$(cat "$work/display")
editor=""
bus=""
cleanup_processes() {
  [ -n "$editor" ] && kill -9 "$editor" 2>/dev/null || true
  [ -n "$bus" ] && kill "$bus" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap 'cleanup_processes; [ "$keep" -eq 1 ] || rm -rf "$work"' EXIT

# The visible window whose name matches the extended regular expression $1.
# Names are read with getwindowname and matched here: xdotool's own --name
# misses names that are not Latin-1, such as Kdenlive's "... — Kdenlive".
find_window() {
  local id
  for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do
    [[ "$(xdotool getwindowname "$id" 2>/dev/null)" =~ $1 ]] && { echo "$id"; return 0; }
  done
  return 1
}
# The same, waiting up to $2 seconds (default 30).
wait_window() {
  local id
  for _ in $(seq $((${2:-30} * 5))); do
    id=$(find_window "$1") && { echo "$id"; return 0; }
    sleep 0.2
  done
  fail "no window '$1' appeared"
}
wait_no_window() {
  for _ in $(seq $((${2:-30} * 5))); do
    find_window "$1" >/dev/null || return 0
    sleep 0.2
  done
  fail "window '$1' did not go away"
}
wait_file() {
  for _ in $(seq $((${2:-30} * 5))); do [ -s "$1" ] && return 0; sleep 0.2; done
  fail "$1 was not written"
}
click() { xdotool mousemove "$1" "$2" click 1; sleep "${3:-0.5}"; }
# Types a value into the number field at x y, replacing what is there.
set_field() { xdotool mousemove "$1" "$2" click 1 key ctrl+a type "$3"; xdotool key Return; sleep 0.7; }
# A picture of the screen's region WxH+X+Y.
picture() { import -window root -crop "$2" +repage "$1"; echo "saved $1"; }
# A project file holds each of the given lines (fixed strings).
check_project() {
  local file=$1 line
  shift
  for line in "$@"; do grep -qF -- "$line" "$file" || fail "$file lacks: $line"; done
}

# --- Shotcut ---------------------------------------------------------------
"$prefix/bin/shotcut" --noupgrade --appdata "$work/shotcut" "$work/media/clip.mkv" >"$work/shotcut.out" 2>&1 &
editor=$!
win=$(wait_window ' - Shotcut$' 60)
for _ in $(seq 150); do grep -q 'MainWindow::open> "' "$work/shotcut/shotcut-log.txt" 2>/dev/null && break; sleep 0.2; done
grep -qF 'added filter "Reduce Noise: Velbrin"' "$work/shotcut/shotcut-log.txt" || fail "Shotcut did not add the filter"
xdotool windowmove "$win" 0 0 windowsize "$win" 1600 1000
sleep 2
click 1441 38 2           # the FX layout: filters, keyframes and a large player
click 21 288 1.5          # "+" of the Filters panel: the filter list, its search field focused
xdotool type --delay 60 smooth
sleep 2
picture docs/shotcut-list.png 870x290+0+0
click 128 206 3           # "Reduce Noise: Velbrin": attached, its panel opens
set_field 247 348 150     # Level
set_field 247 374 4       # Dynamic
click 200 600 3           # away from the fields; the player shows the new frame
picture docs/shotcut-panel.png 1540x560+0+0
click 83 404 1            # Show noise
click 1198 346 0.5        # the player, then "a": append the clip to the timeline
xdotool key a
sleep 1
wait_no_window 'Append to Timeline'
sleep 1
xdotool key ctrl+s
wait_window '^Save XML$' >/dev/null
sleep 1
click 790 613 0.3         # its file name field
xdotool key ctrl+a type "$work/media/shotcut-velbrin.mlt"
xdotool key Return
wait_file "$work/media/shotcut-velbrin.mlt"
sleep 1
kill -9 "$editor"; wait "$editor" 2>/dev/null || true; editor=""
check_project "$work/media/shotcut-velbrin.mlt" '<property name="mlt_service">frei0r.velbrin</property>' \
  '<property name="shotcut:filter">velbrin</property>' '<property name="0">0.375</property>' \
  '<property name="1">0.4</property>' '<property name="2">1</property>' '<property name="3">0</property>' \
  '<property name="resource">clip.mkv</property>'

# --- Kdenlive --------------------------------------------------------------
# A session bus of its own (Kdenlive registers there), ended by its id.
dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$work/bus" >/dev/null 2>&1 &
bus=$!
for _ in $(seq 50); do [ -s "$work/bus" ] && break; sleep 0.1; done
[ -s "$work/bus" ] || fail "no session bus"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus")
export DBUS_SESSION_BUS_ADDRESS
kdenlive -i "$work/media/clip.mkv" >"$work/kdenlive.out" 2>&1 &
editor=$!
win=$(wait_window ' — Kdenlive$' 90)
# "No profile found for your clip": switch the project to the clip's 640x360.
dialog=$(wait_window '^Warning — Kdenlive$' 60)
eval "$(xdotool getwindowgeometry --shell "$dialog")"
click $((X + 304)) $((Y + 80)) 2
xdotool windowmove "$win" 0 0 windowsize "$win" 1600 1000
sleep 2
click 46 465 1            # the Project Bin tab
# The clip from the bin to the start of track V1.
xdotool mousemove 58 112 mousedown 1
for x in 70 100 130 160 170; do xdotool mousemove "$x" $((112 + (x - 58) * 5)); sleep 0.15; done
xdotool mousemove 170 703; sleep 0.5; xdotool mouseup 1
sleep 2
click 236 465 1           # the Effects tab
click 200 76 0.3          # its search field
xdotool type --delay 60 smooth
sleep 2
picture docs/kdenlive-list.png 1030x470+0+0
click 183 700 1           # the clip on the timeline
xdotool mousemove 140 151 click --repeat 2 --delay 80 1   # "Velbrin Smooth (Denoise)": added to the clip
sleep 3
set_field 1570 669 150    # Level
set_field 1570 699 4      # Dynamic
click 1325 397 3          # the project monitor's ruler: it shows the frame there
xdotool mousemove 800 990; sleep 1   # no tooltip over the ruler
picture docs/kdenlive-panel.png 1600x720+0+0
click 1416 551 1          # Show noise
xdotool key ctrl+s
wait_window '^Save As — Kdenlive$' >/dev/null
sleep 1
xdotool type "$work/media/kdenlive-velbrin.kdenlive"
xdotool key Return
wait_file "$work/media/kdenlive-velbrin.kdenlive"
sleep 1
kill -9 "$editor"; wait "$editor" 2>/dev/null || true; editor=""
check_project "$work/media/kdenlive-velbrin.kdenlive" '<property name="mlt_service">frei0r.velbrin</property>' \
  '<property name="Level">00:00:00.000=0.375</property>' '<property name="Dynamic">00:00:00.000=0.4</property>' \
  '<property name="Show noise">1</property>' '<property name="Disable">0</property>' \
  '<entry producer="producer1" in="00:00:00.000" out="00:00:01.960">' '<property name="resource">clip.mkv</property>'
# The clip is at the start of its track: no gap before it.
! grep -q '<blank' "$work/media/kdenlive-velbrin.kdenlive" || fail "the clip does not start the Kdenlive timeline"

# The projects for the render test, with the clips' folder left to it.
cp "$work/media/shotcut-velbrin.mlt" tests/frei0r/projects/shotcut-velbrin.mlt
sed "s| root=\"$work/media\"| root=\".\"|" "$work/media/kdenlive-velbrin.kdenlive" \
  >tests/frei0r/projects/kdenlive-velbrin.kdenlive
echo "saved tests/frei0r/projects/shotcut-velbrin.mlt and tests/frei0r/projects/kdenlive-velbrin.kdenlive"
