#!/usr/bin/env bash
# Builds the two downloads from this tree, into build/package/:
#   velbrin_<version>_amd64.deb       (Debian 12; apt install ./velbrin_*.deb)
#   velbrin-<version>-windows.zip     (VirtualDub, Shotcut, Kdenlive on Windows)
# The version is the one of CMake's project(). Builds only the targets the
# packages hold, in the native, win32 and win64 presets.
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${VELBRIN_JOBS:-2}

# The MinGW-w64 compilers, dpkg-dev and zip among what the builds need.
scripts/install-deps.sh

build() {
  local preset=$1
  shift
  cmake --preset "$preset" >/dev/null
  cmake --build "build/$preset" -j"$jobs" --target "$@"
}
build native velbrin noname velbrin_frei0r
build win32 noname
build win64 noname velbrin_frei0r

version=$(scripts/project-version.sh build/native)
packaging/make-deb.sh build/native build/package "$version"
packaging/make-zip.sh build/win32 build/win64 build/package "$version"
