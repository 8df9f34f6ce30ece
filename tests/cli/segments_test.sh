#!/usr/bin/env bash
# velbrin --frames A-B and segments side by side, end to end:
#  - a range's frames are exactly input frames A..B in presentation order
#    (H.264 with B-frames and open GOPs, in MP4 and Matroska), as ffmpeg's
#    tool selects and converts them with the exact conversion;
#  - a late range costs about what an early one of the same length costs;
#  - segments planned by scripts/plan-segments.sh, run with GNU parallel and
#    joined with the concat demuxer: lossless ones give the frames and
#    timestamps of one run, lossy ones every frame once with the one run's
#    video and audio timestamps.
#   tests/cli/segments_test.sh VELBRIN PLAN_SCRIPT
set -euo pipefail
velbrin=$1
plan=$2
work=$(mktemp -d /tmp/velbrin-segments-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
ff() { ffmpeg -nostdin -v error -y "$@"; }

# 300 frames with B-frames and open GOPs every 48 frames, and a tone.
ff -f lavfi -i "testsrc2=size=160x120:rate=25" -f lavfi -i "sine=frequency=300:sample_rate=48000" -t 12 \
  -c:v libx264 -preset veryfast -x264-params open-gop=1:keyint=48:bframes=3:b-pyramid=normal -pix_fmt yuv420p \
  -c:a aac clip.mp4
ff -i clip.mp4 -c copy clip.mkv

frame_hashes() { ffmpeg -nostdin -v error -i "$1" -map 0:v -pix_fmt bgr24 -f framemd5 - | grep -v '^#' | cut -d, -f6; }
# Presentation times of a stream's packets, in presentation order (an
# encoder with B-frames stores them in another order at segment starts).
stream_times() { ffprobe -v error -select_streams "$2" -show_entries packet=pts_time -of csv=p=0 "$1" | sort -n; }

# Frame accuracy: starts at, before and after key frames, and the tail.
for input in clip.mp4 clip.mkv; do
  for range in 0-9 47-60 48-48 95-110 290-299; do
    a=${range%-*} b=${range#*-}
    "$velbrin" -q -y --lossless --disable --frames "$range" "$input" got.mkv
    ff -i "$input" -vf "select=between(n\,$a\,$b)" -fps_mode passthrough \
      -sws_flags bicubic+accurate_rnd+bitexact -pix_fmt bgra -c:v ffv1 want.mkv
    [ "$(frame_hashes got.mkv)" = "$(frame_hashes want.mkv)" ] || fail "$input --frames $range: other frames"
    [ "$(stream_times got.mkv v:0 | head -1)" = "0.000000" ] || fail "$input --frames $range: does not start at 0"
  done
done

# Cost: ten frames at the end against ten at the start of a longer clip.
ff -f lavfi -i "testsrc2=size=640x360:rate=25" -t 40 -c:v libx264 -preset ultrafast -g 25 long.mp4
cpu() { /usr/bin/time -f '%U %S' -o t "$@" >/dev/null 2>&1; awk '{print $1 + $2}' t; }
early=$(cpu "$velbrin" -q -y --frames 0-9 long.mp4 early.mkv)
late=$(cpu "$velbrin" -q -y --frames 975-984 long.mp4 late.mkv)
awk "BEGIN{exit !($late <= 1.5 * $early + 0.1)}" || fail "frames 975-984 took ${late}s of processor time, 0-9 ${early}s"

# Segments with GNU parallel, planned for 3 workers.
"$plan" 3 clip.mp4 > ranges.txt
[ "$(wc -l < ranges.txt)" = 3 ] || fail "plan: $(tr '\n' ' ' < ranges.txt)"
[ "$(head -1 ranges.txt)" = 0-95 ] && [ "$(tail -1 ranges.txt)" = 192-299 ] ||
  fail "plan does not start at key frames or cover the clip: $(tr '\n' ' ' < ranges.txt)"
for kind in lossless lossy; do
  opt=()
  [ $kind = lossless ] && opt=(--lossless)
  parallel --will-cite -j 2 "$velbrin" -q -y "${opt[@]}" --frames {} clip.mp4 $kind-{}.mkv :::: ranges.txt
  while read -r r; do echo "file '$kind-$r.mkv'"; done < ranges.txt > list.txt
  ff -f concat -safe 0 -i list.txt -c copy $kind-joined.mkv
  "$velbrin" -q -y "${opt[@]}" --frames 0-299 clip.mp4 $kind-whole.mkv
  for s in v:0 a:0; do
    [ "$(stream_times $kind-joined.mkv $s)" = "$(stream_times $kind-whole.mkv $s)" ] ||
      fail "$kind segments joined: $s timestamps differ from one run's"
  done
  joined=$(frame_hashes $kind-joined.mkv | wc -l)
  [ "$joined" = 300 ] || fail "$kind segments joined: $joined frames"
  if [ $kind = lossless ]; then
    [ "$(frame_hashes $kind-joined.mkv)" = "$(frame_hashes $kind-whole.mkv)" ] ||
      fail "lossless segments joined: other frames than one run's"
  fi
done

[ $failures = 0 ] && echo "segments: all checks passed"
exit $((failures > 0))
