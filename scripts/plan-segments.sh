#!/usr/bin/env bash
# Plans `velbrin --frames A-B` segments of a video for N workers: prints one
# range "A-B" a line (frames counted from 0 in presentation order, as
# --frames counts them), N ranges of about equal length, each starting at a
# key frame, so that no worker decodes frames it does not write. The ranges
# cover every frame once; their outputs join with ffmpeg's concat demuxer
# (see docs/segments.md).
#   scripts/plan-segments.sh N INPUT
set -euo pipefail
if [ $# -ne 2 ] || ! [[ $1 =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 N INPUT   (N workers, at least 1)" >&2
  exit 2
fi
workers=$1
input=$2
[ -r "$input" ] || { echo "$0: cannot read '$input'" >&2; exit 1; }

# Packets of the first video stream in file order: pts and key flag. Their
# rank by pts is the frame's number in presentation order.
packets=$(ffprobe -v error -select_streams v:0 -show_entries packet=pts,flags -of csv=p=0 -- "$input")
[ -n "$packets" ] || { echo "$0: '$input' has no video packets" >&2; exit 1; }
if grep -q '^N/A' <<<"$packets"; then
  echo "$0: '$input' has video packets without timestamps; give ranges by hand" >&2
  exit 1
fi
awk -F, '{print $1, ($2 ~ /K/) ? 1 : 0}' <<<"$packets" | sort -s -n -k1,1 |
  awk -v workers="$workers" '
    { key[NR - 1] = $2 }
    END {
      total = NR
      start[0] = 0
      n = 1
      # The key frame nearest to each ideal boundary, after the previous one.
      for (k = 1; k < workers; ++k) {
        ideal = int(k * total / workers + 0.5)
        best = -1
        for (f = start[n - 1] + 1; f < total; ++f)
          if (key[f] && (best < 0 || (f - ideal) ^ 2 < (best - ideal) ^ 2)) best = f
        if (best > start[n - 1]) start[n++] = best
      }
      for (i = 0; i < n; ++i) printf "%d-%d\n", start[i], (i + 1 < n ? start[i + 1] : total) - 1
    }'
