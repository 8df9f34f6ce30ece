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
#
# Then the frei0r plug-in, natively: its update against the run procedure at
# 1080p with the same threads, and ffmpeg on 200 frames of 1920x1080
# testsrc2 with the plug-in against the same command with hqdn3d (wall
# time, medians of FREI0R_FFMPEG_RUNS interleaved runs, default 7).
# --frei0r-only runs this part alone.
set -euo pipefail
cd "$(dirname "$0")/.."

presets=(native win32 win64)
frei0r_only=no
case "${1:-}" in
  --native-only) presets=(native); shift ;;
  --frei0r-only) presets=(); frei0r_only=yes; shift ;;
esac
case " $* " in
  *" --size "*) ;;
  *) set -- --size 1920x1080,3840x2160,320x240 "$@" ;;
esac
# The processor and how busy the machine is: figures from a shared machine
# are only comparable within one run.
lscpu | grep -E "^(Model name|CPU\(s\)|Thread\(s\) per core)" || true
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
for preset in ${presets[@]+"${presets[@]}"}; do
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

# The frei0r plug-in.
cmake --preset native >/dev/null
cmake --build --preset native --target velbrin_frei0r_bench velbrin_frei0r >/dev/null
echo "=== frei0r plug-in (native) ==="
build/native/bench/velbrin_frei0r_bench build/native/frei0r-1/velbrin.so

# ffmpeg with the plug-in against ffmpeg with hqdn3d, and ffmpeg's own
# conversions to BGRA and back without a filter between them (what the
# plug-in's command costs besides the plug-in). Each run's wall time in
# seconds; the commands alternate so that a busy machine slows all alike.
runs=${FREI0R_FFMPEG_RUNS:-7}
export FREI0R_PATH=$PWD/build/native/frei0r-1
filters=("format=bgra,frei0r=velbrin,format=yuv420p" "hqdn3d" "format=bgra,format=yuv420p")
times=("" "" "")
TIMEFORMAT=%R
for ((r = 0; r < runs; r++)); do
  for k in 0 1 2; do
    t=$({ time ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=1920x1080 -frames:v 200 \
            -vf "${filters[$k]}" -f null - >/dev/null; } 2>&1)
    times[k]="${times[k]} $t"
  done
done
median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
frei0r_s=$(echo "${times[0]}" | median)
hqdn3d_s=$(echo "${times[1]}" | median)
convert_s=$(echo "${times[2]}" | median)
echo
echo "ffmpeg -f lavfi -i testsrc2=size=1920x1080 -frames:v 200 -vf FILTER -f null -  (wall s, median of $runs interleaved runs)"
for k in 0 1 2; do
  printf '  %-46s %6.2f s  (runs:%s)\n' "${filters[$k]}" "$(echo "${times[k]}" | median)" "${times[k]}"
done
echo "  hqdn3d time / plug-in time: $(awk -v a="$hqdn3d_s" -v b="$frei0r_s" 'BEGIN {printf "%.2f", a / b}')x (1.00 or more: the plug-in is at least as fast)"
echo "  conversions alone / hqdn3d time: $(awk -v a="$convert_s" -v b="$hqdn3d_s" 'BEGIN {printf "%.2f", a / b}');" \
  "the plug-in per frame: $(awk -v a="$frei0r_s" -v b="$convert_s" 'BEGIN {printf "%.1f", (a - b) * 5}') ms"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
