#!/usr/bin/env bash
# velbrin --frames A-B and segments side by side, end to end:
#  - a range's frames are exactly input frames A..B in presentation order
#    (H.264 with B-frames and open GOPs, in MP4 and Matroska), as ffmpeg's
#    tool selects and converts them with the exact conversion;
#  - segments planned by velbrin --plan-segments, run with GNU parallel and
#    joined with the concat demuxer, on constant- and variable-rate input, on
#    an MP4 cut with an edit list and on a file whose filtered video is its
#    second stream: lossless ones give the frames and timestamps of one run,
#    lossy ones every frame once with the one run's video and audio
#    timestamps.
# (What a late range costs against an early one is measured by
# scripts/bench.sh, not asserted here.)
#   tests/cli/segments_test.sh VELBRIN
set -euo pipefail
velbrin=$1
# GNU parallel is optional for a build: without it this test is skipped
# (CTest shows the reason), not failed. scripts/install-deps.sh installs it.
if ! command -v parallel >/dev/null; then
  echo "skipped: GNU parallel is not installed (scripts/install-deps.sh installs it)"
  exit 77
fi
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

frame_hashes() { ffmpeg -nostdin -v error -i "$1" -map 0:v:0 -pix_fmt bgr24 -f framemd5 - | grep -v '^#' | cut -d, -f6; }
# Presentation times of a stream's packets, in presentation order (an
# encoder with B-frames stores them in another order at segment starts).
stream_times() { ffprobe -v error -select_streams "$2" -show_entries packet=pts_time -of csv=p=0 "$1" | sort -n; }

# Frame accuracy: starts at, before and after key frames, and the tail.
for input in clip.mp4 clip.mkv; do
  # An open range reads ahead only to frame A: with B-frames, frame A may
  # lie several packets later than A in decoding order.
  for range in 0-9 47-60 48-48 95-110 290-299 101-; do
    a=${range%-*} b=${range#*-}
    b=${b:-299}
    "$velbrin" -q -y --lossless --disable --frames "$range" "$input" got.mkv
    ff -i "$input" -vf "select=between(n\,$a\,$b)" -fps_mode passthrough \
      -sws_flags bicubic+accurate_rnd+bitexact -pix_fmt bgra -c:v ffv1 want.mkv
    [ "$(frame_hashes got.mkv)" = "$(frame_hashes want.mkv)" ] || fail "$input --frames $range: other frames"
    [ "$(ffprobe -v error -show_entries format=start_time -of csv=p=0 got.mkv)" = "0.000000" ] ||
      fail "$input --frames $range: does not start at 0"
  done
done

# A transport stream picked up in the middle of a group of pictures: its
# first packets give no frame, so frames are counted as they are decoded.
ff -f lavfi -i "testsrc2=size=160x120:rate=25" -t 8 -c:v libx264 -preset veryfast -g 50 -bf 2 clip.ts
size=$(stat -c %s clip.ts)
tail -c +$((size / 3 / 188 * 188 + 1)) clip.ts > mid.ts
"$velbrin" -q -y --lossless --disable --frames 41-80 mid.ts got.mkv || [ $? = 3 ] || fail "mid.ts --frames 41-80 failed"
ffmpeg -nostdin -v quiet -y -i mid.ts -vf "select=between(n\,41\,80)" -fps_mode passthrough -sws_flags bicubic+accurate_rnd+bitexact \
  -pix_fmt bgra -c:v ffv1 want.mkv
[ "$(frame_hashes got.mkv)" = "$(frame_hashes want.mkv)" ] || fail "mid.ts --frames 41-80: other frames"

# Variable rate (gaps of 0.37 s and 0.11 s), and an MP4 cut at 1.3 s with
# -c copy (an edit list with a pre-roll the decoder drops).
ff -f lavfi -i "testsrc2=size=160x120:rate=25,setpts='PTS+gt(N\,30)*0.37/TB+gt(N\,70)*0.11/TB'" \
  -f lavfi -i "sine=frequency=300:sample_rate=48000" -t 5 -c:v libx264 -preset veryfast -g 20 -bf 2 -fps_mode vfr \
  -c:a aac vfr.mkv
ff -ss 1.3 -i clip.mp4 -c copy edit-list.mp4
# Two video streams, the second (100 frames, the default) the one filtered;
# the first has 40 frames.
ff -f lavfi -i "testsrc2=size=96x64:rate=25:duration=1.6" -f lavfi -i "testsrc2=size=160x120:rate=25:duration=4" \
  -map 0:v -map 1:v -c:v libx264 -preset veryfast -g 20 -bf 2 -disposition:v:0 0 -disposition:v:1 default \
  second-video.mkv

# Segments with GNU parallel, planned for 3 workers, against one run of the
# whole input.
"$velbrin" --plan-segments 3 clip.mp4 > ranges.txt 2> notes.txt
[ "$(tr '\n' ' ' < ranges.txt)" = "0-95 96-191 192-299 " ] ||
  fail "plan does not start at key frames or cover the clip: $(tr '\n' ' ' < ranges.txt)"
grep -q "96 to 108 frames" notes.txt || fail "plan does not say how uneven it is: $(cat notes.txt)"
# Key frames every 48 frames allow 7 ranges, not 20.
"$velbrin" --plan-segments 20 clip.mp4 > ranges.txt 2> notes.txt
[ "$(wc -l < ranges.txt)" = 7 ] && grep -q "20 ranges asked, 7 possible" notes.txt ||
  fail "plan for 20 on sparse key frames: $(tr '\n' ' ' < ranges.txt) / $(cat notes.txt)"
for input in clip.mp4 vfr.mkv edit-list.mp4 second-video.mkv; do
  "$velbrin" -q --plan-segments 3 $input > ranges.txt
  [ "$(wc -l < ranges.txt)" = 3 ] || fail "$input plan: $(tr '\n' ' ' < ranges.txt)"
  for kind in lossless lossy; do
    opt=()
    [ $kind = lossless ] && opt=(--lossless)
    parallel --will-cite -j 2 "$velbrin" -q -y "${opt[@]}" --frames {} $input $kind-{}.mkv :::: ranges.txt
    while read -r r; do echo "file '$kind-$r.mkv'"; done < ranges.txt > list.txt
    ff -f concat -safe 0 -i list.txt -c copy $kind-joined.mkv
    # A whole run of second-video.mkv also copies its other, unfiltered
    # video, which ranges leave out (and whose B-frames make the muxer start
    # both streams later, as ffmpeg does): there the one run is a range over
    # every frame.
    whole_run=()
    [ $input = second-video.mkv ] && whole_run=(--frames 0-)
    "$velbrin" -q -y "${opt[@]}" "${whole_run[@]}" $input $kind-whole.mkv
    for s in v:0 a:0; do
      [ "$(stream_times $kind-joined.mkv $s)" = "$(stream_times $kind-whole.mkv $s)" ] ||
        fail "$input $kind segments joined: $s timestamps differ from one run's"
    done
    joined=$(frame_hashes $kind-joined.mkv | wc -l) whole=$(frame_hashes $kind-whole.mkv | wc -l)
    [ "$joined" = "$whole" ] || fail "$input $kind segments joined: $joined frames, one run $whole"
    if [ $kind = lossless ]; then
      [ "$(frame_hashes $kind-joined.mkv)" = "$(frame_hashes $kind-whole.mkv)" ] ||
        fail "$input lossless segments joined: other frames than one run's"
    fi
    rm -f $kind-*.mkv
  done
done

[ $failures = 0 ] && echo "segments: all checks passed"
exit $((failures > 0))
