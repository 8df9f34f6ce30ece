#!/usr/bin/env bash
# The Windows download as a user unpacks it: exactly the files of its
# layout, a README-Windows.txt with Windows line ends that names every
# folder, and each DLL, from where the zip put it, loaded under Wine by the
# Windows test hosts as the hosts load them: the 32-bit and 64-bit
# noname.vdf by the module host of the win32 and win64 builds, velbrin.dll
# by the frei0r host.
#   tests/package/zip_test.sh ZIP WIN32_BUILD WIN64_BUILD
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
zip_file=$(readlink -f "$1")
win32=$(cd "$2" && pwd)
win64=$(cd "$3" && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }

want='Kdenlive/effects/frei0r_velbrin.xml
README-Windows.txt
Shotcut/share/shotcut/qml/filters/velbrin/meta.qml
Shotcut/share/shotcut/qml/filters/velbrin/ui.qml
VirtualDub/plugins/noname.vdf
VirtualDub/plugins64/noname.vdf
frei0r/lib/frei0r-1/velbrin.dll'
got=$(unzip -Z1 "$zip_file" | grep -v '/$' | LC_ALL=C sort)
[ "$got" = "$want" ] || fail "the zip holds other files: $(diff <(echo "$want") <(echo "$got") | grep '^[<>]' | tr '\n' ' ')"

work=$(mktemp -d /tmp/velbrin-zip-test-XXXXXX)
trap 'rm -rf "$work"' EXIT
unzip -q "$zip_file" -d "$work"
readme=$work/README-Windows.txt
! grep -q $'[^\r]$' "$readme" && ! grep -qx '' "$readme" || fail "README-Windows.txt has lines without CRLF"
for folder in 'VirtualDub\plugins\' 'VirtualDub\plugins64\' 'frei0r\lib\frei0r-1\' 'Shotcut\share\shotcut\qml\filters\velbrin\' \
  'Kdenlive\effects\' '%APPDATA%\kdenlive\effects\'; do
  grep -qF "$folder" "$readme" || fail "README-Windows.txt does not mention $folder"
done

wine_host() {
  local build=$1
  shift
  sh "$source_dir/tests/win/run_under_wine.sh" "$source_dir/scripts/wine-run.sh" "$build/tests/win/velbrin_win_host.exe" "$@" \
    > "$work/host.log" 2>&1 || { tail -n 20 "$work/host.log" >&2; fail "the Windows host failed: $*"; }
}
wine_host "$win32" module "$work/VirtualDub/plugins/noname.vdf"
wine_host "$win64" module "$work/VirtualDub/plugins64/noname.vdf"
wine_host "$win64" frei0r "$work/frei0r/lib/frei0r-1/velbrin.dll"
echo "zip: its layout and README-Windows.txt are right; both noname.vdf and velbrin.dll load and pass the hosts' cases from it"
