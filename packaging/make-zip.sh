#!/usr/bin/env bash
# Makes velbrin-<version>-windows.zip from the win32 and win64 builds, laid
# out by host (README-Windows.txt, in the zip with Windows line ends, says
# where each folder's files go):
#   VirtualDub/plugins/noname.vdf      32-bit module
#   VirtualDub/plugins64/noname.vdf    64-bit module
#   frei0r/lib/frei0r-1/velbrin.dll    frei0r plug-in, for the editors' lib\frei0r-1
#   Shotcut/share/shotcut/qml/filters/velbrin/   Shotcut's filter folder
#   Kdenlive/effects/frei0r_velbrin.xml          for %APPDATA%\kdenlive\effects\
#   packaging/make-zip.sh WIN32_BUILD WIN64_BUILD OUT_DIR VERSION
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
win32=$1 win64=$2 out=$3 version=$4

stage=$(mktemp -d /tmp/velbrin-zip-XXXXXX)
trap 'rm -rf "$stage"' EXIT
place() { mkdir -p "$stage/$2" && cp -R "$1" "$stage/$2/"; }
place "$win32/noname.vdf" VirtualDub/plugins
place "$win64/noname.vdf" VirtualDub/plugins64
place "$win64/frei0r-1/velbrin.dll" frei0r/lib/frei0r-1
place "$source_dir/frei0r/shotcut/velbrin" Shotcut/share/shotcut/qml/filters
place "$source_dir/frei0r/kdenlive/frei0r_velbrin.xml" Kdenlive/effects
sed -e "s/@VERSION@/$version/" -e 's/$/\r/' "$here/windows/README-Windows.txt" > "$stage/README-Windows.txt"

mkdir -p "$out"
zip_file=$(cd "$out" && pwd)/velbrin-$version-windows.zip
rm -f "$zip_file"
# Sorted names and the files' own times: the same builds give the same zip.
(cd "$stage" && find . -mindepth 1 | sed 's|^\./||' | LC_ALL=C sort | zip -q -X -D "$zip_file" -@)
echo "$zip_file"
