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
