# Shared by the recipe tests, sourced: the recipes' code blocks read from
# docs/segments.md, the test clip, and the comparison of joined segments
# with one run over the whole clip.

# recipe DOC NAME: the code block that follows the line
# "<!-- recipe: NAME -->" in DOC, without its fences.
recipe() {
  local text
  text=$(awk -v marker="<!-- recipe: $2 -->" '
      $0 == marker { found = 1; next }
      found == 1 && /^```/ { found = 2; next }
      found == 2 && /^```/ { exit }
      found == 2 { print }' "$1")
  [ -n "$text" ] || { echo "no code block marked '<!-- recipe: $2 -->' in $1" >&2; return 1; }
  printf '%s\n' "$text"
}

# clip.mp4 in the current folder: 12 s of 160x120 H.264 (B-frames, a key
# frame every 30 frames, so the plan finds 8 starts) with an AAC tone.
make_clip() {
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=160x120:rate=25" \
    -f lavfi -i "sine=frequency=300:sample_rate=48000" -t 12 \
    -c:v libx264 -preset veryfast -g 30 -bf 2 -pix_fmt yuv420p -c:a aac clip.mp4
}

# A previous run's outputs, which the recipe must replace: a segment for
# each line of ranges.txt and the joined file, none of them a video.
leave_stale_outputs() {
  local r
  while read -r r; do echo stale > "seg-$r.mkv"; done < ranges.txt
  echo stale > joined.mkv
}

# velbrin on PATH for the recipes, as a node has it: DIR/velbrin running
# the installed velbrin (which finds its module beside itself) with the
# options given here before the recipe's own.
velbrin_with() {
  local dir=$1 installed=$2
  shift 2
  mkdir -p "$dir"
  printf '#!/bin/sh\nexec %q %s "$@"\n' "$installed" "$*" > "$dir/velbrin"
  chmod +x "$dir/velbrin"
}

frame_hashes() { ffmpeg -nostdin -v error -i "$1" -map 0:v -pix_fmt bgr24 -f framemd5 - | grep -v '^#' | cut -d, -f6; }
# A stream's packet times in presentation order.
stream_times() { ffprobe -v error -select_streams "$2" -show_entries packet=pts_time -of csv=p=0 "$1" | sort -n; }

# same_as_one_run JOINED WHOLE lossless|lossy: lossless segments joined have
# one run's frames, and both kinds its video and audio timestamps (so its
# frame count and audio duration). Prints what differs.
same_as_one_run() {
  local joined=$1 whole=$2 kind=$3 ok=0 s
  [ -n "$(stream_times "$whole" v:0)" ] || { echo "one run gave no video" >&2; return 1; }
  for s in v:0 a:0; do
    [ "$(stream_times "$joined" $s)" = "$(stream_times "$whole" $s)" ] ||
      { echo "$kind: $s timestamps of the joined segments differ from one run's" >&2; ok=1; }
  done
  if [ "$kind" = lossless ] && [ "$(frame_hashes "$joined")" != "$(frame_hashes "$whole")" ]; then
    echo "$kind: the joined segments' frames differ from one run's" >&2
    ok=1
  fi
  return $ok
}
