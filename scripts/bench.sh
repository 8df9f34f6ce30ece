#!/usr/bin/env bash
# Benchmarks the smoothing kernels on one 1920x1080 frame: the native 64-bit
# build, then the 32-bit and 64-bit Windows builds under Wine. Each run
# prints milliseconds per frame (median of interleaved rounds), megapixels
# per second, speed-up over the reference and time relative to memcpy.
# Extra arguments go to the benchmark (e.g. --rounds 51). Use --native-only
# to skip the Windows builds.
set -euo pipefail
cd "$(dirname "$0")/.."

presets=(native win32 win64)
if [ "${1:-}" = "--native-only" ]; then
  presets=(native)
  shift
fi
for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target velbrin_bench >/dev/null
  echo "=== $preset ==="
  if [ "$preset" = native ]; then
    "build/$preset/bench/velbrin_bench" "$@"
  else
    scripts/wine-run.sh "build/$preset/bench/velbrin_bench.exe" "$@"
  fi
  echo
done
