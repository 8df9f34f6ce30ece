#!/usr/bin/env bash
# Builds every target and runs every test: installs what is missing,
# configures and builds each preset, and runs its tests with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

presets=(native native-asan)
for preset in "${presets[@]}"; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

# Windows builds: the kernel checker (and the other Windows tests) under Wine.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
for preset in win32 win64; do
  echo "=== $preset (Wine) ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

# Kernel fuzzing: about a minute from the committed seed corpus.
echo "=== fuzz ==="
tests/fuzz/run.sh 60
