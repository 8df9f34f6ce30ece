#!/usr/bin/env bash
# Plans `velbrin --frames A-B` segments of a video for N workers: prints one
# range "A-B" a line, N ranges of about equal length, each starting at a key
# frame, so that no worker decodes frames it does not write. Frames are
# counted as velbrin counts them: from 0, in the order a full decode
# outputs them (after edit lists and the pre-roll a decoder drops), so the
# video is decoded once here (ffprobe, at decoding speed). The ranges cover
# every frame once; their outputs join with ffmpeg's concat demuxer (see
# docs/segments.md).
#   scripts/plan-segments.sh N INPUT
set -euo pipefail
if [ $# -ne 2 ] || ! [[ $1 =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 N INPUT   (N workers, at least 1)" >&2
  exit 2
fi
workers=$1
input=$2
[ -r "$input" ] || { echo "$0: cannot read '$input'" >&2; exit 1; }

# The decoded frames of the first video stream in output order, each with
# its key-frame flag.
frames=$(ffprobe -v error -select_streams v:0 -show_entries frame=key_frame -of csv=p=0 -- "$input")
[ -n "$frames" ] || { echo "$0: '$input' has no video frames" >&2; exit 1; }
# (ffprobe puts a frame's side data on lines of their own: only flags count.)
awk -F, -v workers="$workers" '
    $1 ~ /^[01]$/ { key[total++] = $1 }
    END {
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
    }' <<<"$frames"
