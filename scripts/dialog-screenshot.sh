#!/usr/bin/env bash
# Opens the settings dialog of the 32-bit module (build/win32/noname.vdf)
# under Wine on an Xvfb display, as the Windows test host does, and saves a
# PNG screenshot of it: docs/dialog.png unless another path is given.
#
#   scripts/dialog-screenshot.sh [out.png]
#
# Needs the win32 preset's build tools, wine, xvfb and imagemagick
# (scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/dialog.png}")
mkdir -p "$(dirname "$out")"

cmake --preset win32 >/dev/null
cmake --build --preset win32 -j2 --target noname velbrin_win_host >/dev/null

. scripts/wine-env.sh
export VELBRIN_HOST=$PWD/build/win32/tests/win/velbrin_win_host.exe
export VELBRIN_VDF=$PWD/build/win32/noname.vdf
export VELBRIN_PNG=$out

# A Wine desktop lives as long as its Wine server: start with none, so this
# run's desktop is made on this run's display (see tests/win/run_under_wine.sh).
wineserver -w
xvfb-run -a -s "-screen 0 800x600x24" bash -c '
  set -euo pipefail
  # Wine draws the caption bar itself: Xvfb has no window manager to do it.
  wine reg add "HKCU\\Software\\Wine\\AppDefaults\\velbrin_win_host.exe\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
  log=$(mktemp)
  wine "$VELBRIN_HOST" show "$VELBRIN_VDF" 4000 >"$log" &
  host=$!
  for _ in $(seq 150); do
    grep -q "^dialog at" "$log" && break
    sleep 0.2
  done
  # "dialog at X Y size W H": the window on the screen, caption bar included.
  read -r _ _ x y _ w h < <(grep "^dialog at" "$log")
  # Wait until the dialog is painted: an unpainted window is one colour.
  for _ in $(seq 20); do
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$VELBRIN_PNG"
    [ "$(identify -format %k "$VELBRIN_PNG")" -gt 4 ] && break
    sleep 0.2
  done
  wait "$host"
  rm -f "$log"
'
wineserver -w
echo "saved $out"
