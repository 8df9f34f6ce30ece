#!/usr/bin/env bash
# Measures velbrin against FFmpeg's own quick smoother, side by side in one
# run, on two 1080p H.264 4:2:0 clips with a tone: a noisy one (BT.601) and
# a low-noise one (BT.709):
#  - the filter stage: decoding, filtering and writing Y4M to /dev/null
#    without audio, `velbrin` against `ffmpeg -vf hqdn3d` (wall and
#    processor time), both clips;
#  - end to end: velbrin's default output against `ffmpeg -vf hqdn3d`
#    writing the same codec, pixel format and encoder settings (H.264,
#    yuv420p, medium, CRF 16), both clips; the output's size against the
#    input's;
#  - --threads 2 against --threads 1 (and that their outputs are identical);
#  - segments: `--frames 0-9` against the last ten frames of an 800-frame
#    clip (default output);
#  - the colour round trip with --disable (PSNR against the input) against
#    swscale's exact flags;
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
make_clip() {  # size, file, noise filter, extra x264 options...
  local size=$1 file=$2 noise=$3
  shift 3
  ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=$size:rate=25,$noise" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000" -t "$seconds" \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p "$@" -c:a aac "$file"
}
clip=$work/clip1080.mp4
make_clip 1920x1080 "$clip" "noise=alls=16:allf=t+u" -crf 18
clean=$work/clean1080.mp4
make_clip 1920x1080 "$clean" "noise=alls=3:allf=t" -crf 20 -colorspace bt709 -color_primaries bt709 \
  -color_trc bt709 -color_range tv
# The filter stage has no audio to carry.
for c in clip clean; do ffmpeg -nostdin -loglevel error -y -i "$work/${c}1080.mp4" -an -c copy "$work/$c-video.mp4"; done
long=$work/long1080.mp4
saved_seconds=$seconds
seconds=32
make_clip 1920x1080 "$long" "noise=alls=3:allf=t" -crf 20
seconds=$saved_seconds

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
runs="stage_ff stage_vb stage_ff_clean stage_vb_clean ffmpeg velbrin ffmpeg_clean velbrin_clean t1 t2 seg_early seg_late"
for ((k = 0; k < repeat; ++k)); do
  for run in $runs; do
    case $run in
      stage_ff) r=$(measure ffmpeg -nostdin -loglevel error -i "$work/clip-video.mp4" -vf hqdn3d -f yuv4mpegpipe -y /dev/null) ;;
      stage_vb) r=$(measure "$velbrin" -q -y "$work/clip-video.mp4" -f yuv4mpegpipe -) ;;
      stage_ff_clean) r=$(measure ffmpeg -nostdin -loglevel error -i "$work/clean-video.mp4" -vf hqdn3d -f yuv4mpegpipe -y /dev/null) ;;
      stage_vb_clean) r=$(measure "$velbrin" -q -y "$work/clean-video.mp4" -f yuv4mpegpipe -) ;;
      ffmpeg) r=$(measure_hqdn3d "$clip" "$work/ffmpeg.mkv") ;;
      velbrin) r=$(measure "$velbrin" -q -y "$clip" "$work/velbrin.mkv") ;;
      ffmpeg_clean) r=$(measure_hqdn3d "$clean" "$work/ffmpeg-clean.mkv") ;;
      velbrin_clean) r=$(measure "$velbrin" -q -y "$clean" "$work/velbrin-clean.mkv") ;;
      t1) r=$(measure "$velbrin" -q -y --threads 1 "$clip" "$work/t1.mkv") ;;
      t2) r=$(measure "$velbrin" -q -y --threads 2 "$clip" "$work/t2.mkv") ;;
      seg_early) r=$(measure "$velbrin" -q -y --frames 0-9 "$long" "$work/early.mkv") ;;
      seg_late) r=$(measure "$velbrin" -q -y --frames 790-799 "$long" "$work/late.mkv") ;;
    esac
    read -r w c m <<<"$r"
    wall[$run]+="$w "
    cpu[$run]+="$c "
    peak[$run]+="$m "
  done
done
med() { tr ' ' '\n' <<<"$1" | grep . | median; }

echo "velbrin against ffmpeg -vf hqdn3d: $(date -u '+%Y-%m-%d %H:%M UTC'), $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) processors, load $(cut -d' ' -f1 /proc/loadavg)"
echo "clips: 1920x1080 H.264 yuv420p + AAC, $frames frames: noisy (BT.601) $(stat -c %s "$clip" | awk '{printf "%.1f MB", $1/1e6}'), low-noise (BT.709) $(stat -c %s "$clean" | awk '{printf "%.1f MB", $1/1e6}'); medians of $repeat runs"
printf '%-58s %8s %8s %10s\n' "" "wall s" "cpu s" "peak MB"
for run in $runs; do
  case $run in
    stage_ff) label="filter stage, noisy: ffmpeg -vf hqdn3d -f yuv4mpegpipe" ;;
    stage_vb) label="filter stage, noisy: velbrin -f yuv4mpegpipe" ;;
    stage_ff_clean) label="filter stage, low-noise: ffmpeg -vf hqdn3d" ;;
    stage_vb_clean) label="filter stage, low-noise: velbrin" ;;
    ffmpeg) label="x264, noisy: ffmpeg -vf hqdn3d, medium CRF 16 yuv420p" ;;
    velbrin) label="x264, noisy: velbrin IN OUT.mkv (default output)" ;;
    ffmpeg_clean) label="x264, low-noise: ffmpeg -vf hqdn3d, same settings" ;;
    velbrin_clean) label="x264, low-noise: velbrin IN OUT.mkv" ;;
    t1) label="x264, noisy: velbrin --threads 1" ;;
    t2) label="x264, noisy: velbrin --threads 2" ;;
    seg_early) label="800-frame clip: velbrin --frames 0-9" ;;
    seg_late) label="800-frame clip: velbrin --frames 790-799" ;;
  esac
  printf '%-58s %8.2f %8.2f %10.0f\n' "$label" "$(med "${wall[$run]}")" "$(med "${cpu[$run]}")" \
    "$(awk "BEGIN{print $(med "${peak[$run]}")/1024}")"
done
ratio() { awk "BEGIN{printf \"%.2f\", $(med "$1")/$(med "$2")}"; }
echo "filter stage, velbrin faster than ffmpeg -vf hqdn3d: noisy $(ratio "${wall[stage_ff]}" "${wall[stage_vb]}")x wall," \
  "$(ratio "${cpu[stage_ff]}" "${cpu[stage_vb]}")x processor; low-noise $(ratio "${wall[stage_ff_clean]}" "${wall[stage_vb_clean]}")x wall," \
  "$(ratio "${cpu[stage_ff_clean]}" "${cpu[stage_vb_clean]}")x processor"
echo "x264 end to end, velbrin faster by: noisy $(ratio "${wall[ffmpeg]}" "${wall[velbrin]}")x wall," \
  "low-noise $(ratio "${wall[ffmpeg_clean]}" "${wall[velbrin_clean]}")x wall"
echo "--threads 2 faster than --threads 1 by $(ratio "${wall[t1]}" "${wall[t2]}")x (wall)"
same=$(for f in t1 t2; do ffmpeg -v error -i "$work/$f.mkv" -map 0 -c copy -f md5 -; done | uniq | wc -l)
echo "--threads 1 and 2 give identical streams: $([ "$same" = 1 ] && echo yes || echo NO)"
echo "late segment / early segment: $(ratio "${wall[seg_late]}" "${wall[seg_early]}") (wall)," \
  "$(ratio "${cpu[seg_late]}" "${cpu[seg_early]}") (processor)"
size() { awk "BEGIN{printf \"%.2f\", $(stat -c %s "$1")/$(stat -c %s "$2")}"; }
echo "output size / input size: noisy $(size "$work/velbrin.mkv" "$clip") (ffmpeg's $(size "$work/ffmpeg.mkv" "$clip")), low-noise $(size "$work/velbrin-clean.mkv" "$clean") (ffmpeg's $(size "$work/ffmpeg-clean.mkv" "$clean"))"

# The colour round trip with --disable, PSNR (Y U V) against the input:
# velbrin's conversions for lossy outputs against swscale's exact flags.
for c in clip clean; do
  in=$work/$c-video.mp4
  "$velbrin" -q -y --disable "$in" "$work/$c-rt.y4m"
  ffmpeg -nostdin -loglevel error -y -i "$in" -sws_flags bicubic+accurate_rnd+bitexact -pix_fmt bgra -c:v ffv1 "$work/$c-rgb.mkv"
  matrix=bt601
  [ $c = clean ] && matrix=bt709
  ffmpeg -nostdin -loglevel error -y -i "$work/$c-rgb.mkv" -sws_flags bicubic+accurate_rnd+bitexact \
    -vf "scale=out_color_matrix=$matrix:out_range=tv,format=yuv420p" -c:v ffv1 "$work/$c-sws.mkv"
  # Frames paired by number: both decoded to raw planes first (the psnr
  # filter pairs frames by time, and a time base that does not match
  # pairs the wrong ones now and then).
  psnr() {
    ffmpeg -nostdin -loglevel error -y -i "$1" -f rawvideo -pix_fmt yuv420p "$work/a.yuv"
    ffmpeg -nostdin -loglevel error -y -i "$in" -f rawvideo -pix_fmt yuv420p "$work/b.yuv"
    ffmpeg -nostdin -hide_banner -f rawvideo -s 1920x1080 -pix_fmt yuv420p -i "$work/a.yuv" \
      -f rawvideo -s 1920x1080 -pix_fmt yuv420p -i "$work/b.yuv" -lavfi psnr -f null - 2>&1 |
      sed -n 's/.*PSNR \(y:[0-9.]* u:[0-9.]* v:[0-9.]*\).*/\1/p'
    rm -f "$work/a.yuv" "$work/b.yuv"
  }
  echo "round trip --disable, $([ $c = clip ] && echo noisy BT.601 || echo low-noise BT.709): velbrin $(psnr "$work/$c-rt.y4m") dB; swscale exact $(psnr "$work/$c-sws.mkv") dB"
done

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
make_clip 3840x2160 "$clip4k" "noise=alls=16:allf=t+u" -crf 18
m_ff=$(measure_hqdn3d "$clip4k" "$work/ffmpeg4k.mkv" | cut -d' ' -f3)
m_vb=$(measure "$velbrin" -q -y "$clip4k" "$work/velbrin4k.mkv" | cut -d' ' -f3)
echo "4K ($frames frames) peak memory: velbrin $((m_vb / 1024)) MB, ffmpeg $((m_ff / 1024)) MB," \
  "ratio $(awk "BEGIN{printf \"%.2f\", $m_vb/$m_ff}")"
