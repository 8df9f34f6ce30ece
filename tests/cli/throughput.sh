#!/usr/bin/env bash
# Measures velbrin end to end against FFmpeg's own quick smoother, side by
# side in one run, on a noisy moving 1080p H.264 4:2:0 clip with a tone:
#  - velbrin's default output against `ffmpeg -vf hqdn3d` writing the same
#    codec, pixel format and encoder settings (H.264, yuv420p, medium, CRF 16);
#  - --threads 2 against --threads 1 (and that their outputs are identical);
#  - the output's size against the input's;
#  - where the time goes per frame: decoding and encoding measured with
#    ffmpeg alone on one core, the conversions and the filter by velbrin
#    (--verbose);
#  - peak memory (GNU time -v), 1080p and 4K, velbrin against ffmpeg.
# Each figure is the median of REPEAT runs, interleaved so that the machine's
# load falls on both sides alike. Not part of the test suite (it takes minutes).
#   tests/cli/throughput.sh [FRAMES] [REPEAT] [build/native/velbrin]
set -euo pipefail
frames=${1:-60}
repeat=${2:-3}
velbrin=${3:-build/native/velbrin}
work=$(mktemp -d /tmp/velbrin-throughput-XXXXXX)
trap 'rm -rf "$work"' EXIT
gnu_time=/usr/bin/time
[ -x "$gnu_time" ] || { echo "GNU time is missing (apt-get install time)" >&2; exit 1; }

seconds=$(awk "BEGIN{print $frames/25}")
make_clip() {  # size, file
  ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=$1:rate=25,noise=alls=16:allf=t+u" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000" -t "$seconds" \
    -c:v libx264 -preset veryfast -crf 18 -pix_fmt yuv420p -c:a aac "$2"
}
clip=$work/clip1080.mp4
make_clip 1920x1080 "$clip"

# Runs a command; prints "wall_seconds cpu_seconds peak_kB".
measure() {
  "$gnu_time" -f '%e %U %S %M' -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || {
    cat "$work/stderr" >&2
    return 1
  }
  awk '{printf "%s %.2f %s\n", $1, $2 + $3, $4}' "$work/time"
}
median() { sort -n | awk '{v[NR]=$1} END{print v[int((NR+1)/2)]}'; }

measure_hqdn3d() {  # input, output
  measure ffmpeg -nostdin -hide_banner -loglevel error -y -i "$1" -vf hqdn3d -c:v libx264 -preset medium -crf 16 \
    -pix_fmt yuv420p -c:a copy "$2"
}

declare -A wall cpu peak
for ((k = 0; k < repeat; ++k)); do
  for run in ffmpeg velbrin t1 t2; do
    case $run in
      ffmpeg) r=$(measure_hqdn3d "$clip" "$work/ffmpeg.mkv") ;;
      velbrin) r=$(measure "$velbrin" -q -y "$clip" "$work/velbrin.mkv") ;;
      t1) r=$(measure "$velbrin" -q -y --threads 1 "$clip" "$work/t1.mkv") ;;
      t2) r=$(measure "$velbrin" -q -y --threads 2 "$clip" "$work/t2.mkv") ;;
    esac
    read -r w c m <<<"$r"
    wall[$run]+="$w "
    cpu[$run]+="$c "
    peak[$run]+="$m "
  done
done
med() { tr ' ' '\n' <<<"$1" | grep . | median; }

echo "velbrin end to end: $(date -u '+%Y-%m-%d %H:%M UTC'), $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) processors, load $(cut -d' ' -f1 /proc/loadavg)"
echo "clip: 1920x1080 H.264 yuv420p + AAC, $frames frames, $(stat -c %s "$clip" | awk '{printf "%.1f MB", $1/1e6}'); medians of $repeat runs"
printf '%-52s %8s %8s %10s\n' "" "wall s" "cpu s" "peak MB"
for run in ffmpeg velbrin t1 t2; do
  case $run in
    ffmpeg) label="ffmpeg -vf hqdn3d, libx264 medium CRF 16 yuv420p" ;;
    velbrin) label="velbrin IN OUT.mkv (default output)" ;;
    t1) label="velbrin --threads 1" ;;
    t2) label="velbrin --threads 2" ;;
  esac
  printf '%-52s %8.2f %8.2f %10.0f\n' "$label" "$(med "${wall[$run]}")" "$(med "${cpu[$run]}")" \
    "$(awk "BEGIN{print $(med "${peak[$run]}")/1024}")"
done
ratio() { awk "BEGIN{printf \"%.2f\", $(med "$1")/$(med "$2")}"; }
echo "velbrin faster than ffmpeg -vf hqdn3d by  $(ratio "${wall[ffmpeg]}" "${wall[velbrin]}")x (wall)"
echo "--threads 2 faster than --threads 1 by     $(ratio "${wall[t1]}" "${wall[t2]}")x (wall)"
same=$(for f in t1 t2; do ffmpeg -v error -i "$work/$f.mkv" -map 0 -c copy -f md5 -; done | uniq | wc -l)
echo "--threads 1 and 2 give identical streams:  $([ "$same" = 1 ] && echo yes || echo NO)"
echo "output size / input size:                  $(awk "BEGIN{printf \"%.2f\", $(stat -c %s "$work/velbrin.mkv")/$(stat -c %s "$clip")}") (ffmpeg's: $(awk "BEGIN{printf \"%.2f\", $(stat -c %s "$work/ffmpeg.mkv")/$(stat -c %s "$clip")}"))"

# Where the time goes, processor time per frame. Decoding and encoding are
# FFmpeg's work, measured with ffmpeg on one thread; the rest is velbrin's
# own, measured by velbrin itself.
per_frame() { awk "BEGIN{printf \"%.1f\", $1*1000/$frames}"; }
raw=$work/frames.yuv
ffmpeg -nostdin -loglevel error -y -i "$clip" -f rawvideo -pix_fmt yuv420p "$raw"
decode=$(measure ffmpeg -nostdin -threads 1 -i "$clip" -an -f null - | cut -d' ' -f2)
encode=$(measure ffmpeg -nostdin -f rawvideo -pix_fmt yuv420p -s 1920x1080 -r 25 -i "$raw" -c:v libx264 -preset medium \
  -crf 16 -threads 1 -f null - | cut -d' ' -f2)
hqdn3d=$(measure ffmpeg -nostdin -f rawvideo -pix_fmt yuv420p -s 1920x1080 -r 25 -i "$raw" -vf hqdn3d -f null - |
  cut -d' ' -f2)
"$velbrin" -y --verbose --threads 1 "$clip" "$work/v.mkv" 2>&1 >/dev/null | grep 'processor time per frame' |
  sed 's/^velbrin: /velbrin --verbose: /' || true
echo "per frame, one core: decode $(per_frame "$decode") ms, encode (x264 medium CRF 16) $(per_frame "$encode") ms," \
  "hqdn3d $(per_frame "$hqdn3d") ms (ffmpeg alone)"

# 4K peak memory against ffmpeg's for the same transcode.
clip4k=$work/clip2160.mp4
frames=${FRAMES_4K:-30}
seconds=$(awk "BEGIN{print $frames/25}")
make_clip 3840x2160 "$clip4k"
m_ff=$(measure_hqdn3d "$clip4k" "$work/ffmpeg4k.mkv" | cut -d' ' -f3)
m_vb=$(measure "$velbrin" -q -y "$clip4k" "$work/velbrin4k.mkv" | cut -d' ' -f3)
echo "4K ($frames frames) peak memory: velbrin $((m_vb / 1024)) MB, ffmpeg $((m_ff / 1024)) MB," \
  "ratio $(awk "BEGIN{printf \"%.2f\", $m_vb/$m_ff}")"
