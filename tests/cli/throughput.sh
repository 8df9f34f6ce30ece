#!/usr/bin/env bash
# Measures velbrin's frames per second on a 1080p clip: decoding and
# encoding alone (--bypass: frames copied, no filter) against the whole run
# with the filter, for 1 and 2 threads, all in one go so the ratios come
# from the same machine state. Not part of the test suite (it takes minutes).
#   tests/cli/throughput.sh [FRAMES] [REPEAT] [build/native/velbrin]
# Each line is the best of REPEAT runs (default 1), which keeps out most of
# what other programs on a shared machine cost.
set -euo pipefail
frames=${1:-60}
repeat=${2:-1}
velbrin=${3:-build/native/velbrin}
work=$(mktemp -d /tmp/velbrin-throughput-XXXXXX)
trap 'rm -rf "$work"' EXIT

clip=$work/clip1080.mp4
seconds=$(awk "BEGIN{print $frames/25}")
# A noisy 1080p H.264 clip (yuv420p, as cameras write) with an AAC track.
ffmpeg -nostdin -hide_banner -loglevel error -y \
  -f lavfi -i "testsrc2=size=1920x1080:rate=25,noise=alls=16:allf=t+u" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000" -t "$seconds" \
  -c:v libx264 -preset veryfast -crf 18 -pix_fmt yuv420p -c:a aac "$clip"

run() {  # label, velbrin options...  (best of $repeat runs)
  local label=$1
  shift
  local best="" t
  for ((k = 0; k < repeat; ++k)); do
    t=$( { TIMEFORMAT='%R %U %S'; time "$velbrin" -q -y "$@" "$clip" "$work/out.mkv" >/dev/null; } 2>&1 )
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN{split(a,x," ");split(b,y," ");exit !(x[1]<y[1])}'; then
      best=$t
    fi
  done
  # Wall time gives frames per second; user+system time the processor
  # work per frame, which other programs on the machine inflate less.
  echo "$best" | awk -v l="$label" -v f="$frames" \
    '{printf "%-34s %6.2f s wall  %6.2f fps  %6.1f ms cpu/frame\n", l, $1, f/$1, ($2+$3)*1000/f}'
}

echo "1080p, $frames frames, H.264 in, FFV1 out, $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg)"
run "decode+encode only, --threads 1" --bypass --threads 1
run "decode+encode only, --threads 2" --bypass --threads 2
run "with the filter, --threads 1" --threads 1
run "with the filter, --threads 2" --threads 2
run "with the filter disabled, -t 2" --disable --threads 2
