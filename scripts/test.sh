#!/usr/bin/env bash
# Builds every target and runs every test: installs what is missing,
# configures and builds each preset, and runs its tests with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

presets=(native native-asan native-tsan)
for preset in "${presets[@]}"; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

# The Windows module, 32- and 64-bit: cross-built with MinGW-w64 and tested
# under Wine (kernel checker, test host, and the dialog on an Xvfb display).
# A fresh machine has no Wine prefix yet: make it once, quietly, before the
# first Windows test.
. scripts/wine-env.sh
if [ ! -f "${WINEPREFIX:-$HOME/.wine}/system.reg" ]; then
  echo "=== making the Wine prefix ==="
  wineboot -i
  wineserver -w
fi
for preset in win32 win64; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2
  ctest --preset "$preset"
done

# Kernel fuzzing: about a minute from the committed seed corpus.
echo "=== fuzz ==="
tests/fuzz/run.sh 60
