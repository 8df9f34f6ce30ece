#!/usr/bin/env bash
# Benchmarks the smoothing kernels and the run procedure on 1920x1080,
# 3840x2160 and 320x240 frames (the last below the size at which the module
# shares a frame among threads): the native 64-bit build, then the 32-bit
# and 64-bit Windows builds under Wine. Each run prints milliseconds per
# frame (median of interleaved rounds), megapixels per second, speed-up over
# the reference, time relative to memcpy and speed-up over one thread.
# Extra arguments go to the benchmark (e.g. --rounds 51, --size 1280x720).
# Use --native-only to skip the Windows builds. VELBRIN_THREADS caps the
# threads of the run procedure's column as it does in a host.
set -euo pipefail
cd "$(dirname "$0")/.."

presets=(native win32 win64)
if [ "${1:-}" = "--native-only" ]; then
  presets=(native)
  shift
fi
case " $* " in
  *" --size "*) ;;
  *) set -- --size 1920x1080,3840x2160,320x240 "$@" ;;
esac
# The processor and how busy the machine is: figures from a shared machine
# are only comparable within one run.
lscpu | grep -E "^(Model name|CPU\(s\)|Thread\(s\) per core)" || true
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
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
