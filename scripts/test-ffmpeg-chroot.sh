#!/usr/bin/env bash
# velbrin on another Debian's FFmpeg: builds the native preset (warnings are
# errors) in a chroot of that Debian made by mmdebstrap from Debian's own
# packages, runs the command-line and frei0r tests there, and checks that
# lossless outputs of the chroot's velbrin hold the same frames and
# timestamps as those of this machine's build (Debian 12, FFmpeg 5.1) for
# the same inputs.
#   scripts/test-ffmpeg-chroot.sh SUITE [HOST_BUILD_DIR]    (default build/native)
# SUITE is trixie (Debian 13, FFmpeg 7.1) or forky (Debian's testing, FFmpeg
# 9.0 when this was written). Needs root (mmdebstrap, chroot and mounts).
# The chroot is kept in build/chroot-SUITE with its own build folder, and
# reused (packages added to the list below are installed into it); the
# source is mounted into it read-only.
# The mirror is Debian's unless VELBRIN_DEBIAN_MIRROR names another.
#   scripts/test-ffmpeg-chroot.sh --make-root SUITE    only makes the chroot (scripts/test.sh
#                                                      does that while the other presets build)
set -euo pipefail
cd "$(dirname "$0")/.."
make_root_only=false
if [ "${1:-}" = --make-root ]; then
  make_root_only=true
  shift
fi
suite=${1:-}
case $suite in
  trixie | forky) shift ;;
  *) echo "usage: scripts/test-ffmpeg-chroot.sh [--make-root] trixie|forky [HOST_BUILD_DIR]" >&2; exit 2 ;;
esac
source_dir=$PWD
host_build=$(realpath "${1:-build/native}")
root=$source_dir/build/chroot-$suite
mirror=${VELBRIN_DEBIAN_MIRROR:-http://deb.debian.org/debian}
packages=(
  cmake ninja-build g++ pkg-config ccache libgtest-dev libbenchmark-dev
  ffmpeg libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  parallel frei0r-plugins-dev melt gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad
  xvfb xauth strace man-db bsdutils
)
# A testing suite's Release file carries an expiry date, which a mirror's
# snapshot may have passed; its packages are still Debian's signed ones.
apt_options=()
[ "$suite" = forky ] && apt_options=(--aptopt='Acquire::Check-Valid-Until "false"')

fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "needs root for mmdebstrap, chroot and mount"
$make_root_only || [ -x "$host_build/velbrin" ] || fail "no velbrin in $host_build: build the native preset first"
started=$SECONDS
t0=$SECONDS
lap() { echo "$1: $((SECONDS - t0)) s"; t0=$SECONDS; }

# 1. The chroot: made once; a kept one gets the packages added to the list
# since.
grep -qF " $root/" /proc/mounts && fail "$root has mounts left (see /proc/mounts)"
stamp="${packages[*]}"
if [ ! -f "$root/.velbrin-packages" ]; then
  rm -rf "$root"
  include=$(IFS=,; echo "${packages[*]}")
  mmdebstrap --quiet --variant=apt "${apt_options[@]}" --include="$include" "$suite" "$root" "$mirror"
  echo "$stamp" > "$root/.velbrin-packages"
  lap "chroot made ($(du -sh "$root" | cut -f1))"
fi
$make_root_only && exit 0

mounted=()
cleanup() {
  local k
  for ((k = ${#mounted[@]} - 1; k >= 0; k--)); do umount -l "${mounted[k]}" || true; done
}
trap cleanup EXIT
for m in proc dev dev/pts sys; do
  mkdir -p "$root/$m"
  case $m in
    proc) mount -t proc proc "$root/proc" ;;
    sys) mount -t sysfs sysfs "$root/sys" ;;
    dev/pts) mount -t devpts devpts "$root/dev/pts" ;;
    *) mount --bind "/$m" "$root/$m" ;;
  esac
  mounted+=("$root/$m")
done
in_root() { chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
if [ "$(cat "$root/.velbrin-packages")" != "$stamp" ]; then
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  in_root DEBIAN_FRONTEND=noninteractive apt-get -q update
  in_root DEBIAN_FRONTEND=noninteractive apt-get -q install -y --no-install-recommends "${packages[@]}"
  in_root apt-get clean
  echo "$stamp" > "$root/.velbrin-packages"
fi
lap "chroot ready"
ffmpeg_version=$(in_root ffmpeg -hide_banner -version | head -n 1 | cut -d' ' -f3 | cut -d- -f1)
echo "FFmpeg in the chroot: $ffmpeg_version"

# 2. The source, as the work tree has it, seen read-only at /src; the build
# folder is the chroot's own (/velbrin-build, kept with it for the next run).
mkdir -p "$root/src"
mount --bind "$source_dir" "$root/src" && mounted+=("$root/src")
mount -o remount,bind,ro "$root/src"
in_root bash -c 'export CCACHE_DIR=/velbrin-build/ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache &&
  cd /src && cmake --preset native -B /velbrin-build/native >/dev/null &&
  cmake --build /velbrin-build/native -j2 --target velbrin velbrin_cli_tests velbrin_frei0r velbrin_frei0r_tests \
    velbrin_frei0r_host_tests'
lap "built"

# 3. The command-line tests and the frei0r ones (the contract through our
# own host, the exports, and the real hosts).
in_root bash -c 'cd /velbrin-build/native && ctest -j2 --output-on-failure -L "cli|frei0r" &&
  ctest -j2 --output-on-failure -R "Frei0rContract|frei0r_plugin_exports"'
lap "tested"

# 4. The same lossless runs on both systems, on inputs made here: the
# decoded frames and their timestamps must be equal.
work=$root/tmp/velbrin-same-bytes
rm -rf "$work" && mkdir -p "$work"
ff() { ffmpeg -nostdin -v error -y "$@"; }
ff -f lavfi -i "testsrc2=size=176x144:rate=25" -f lavfi -i "sine=frequency=440:sample_rate=48000" -t 2 \
  -c:v libx264 -preset veryfast -bf 2 -pix_fmt yuv420p -c:a aac "$work/lossy.mp4"
ff -f lavfi -i "testsrc2=size=97x61:rate=10" -t 1 -pix_fmt bgr0 -c:v ffv1 "$work/odd.mkv"
ff -f lavfi -i "testsrc2=size=128x96" -frames:v 1 -pix_fmt rgba "$work/alpha.png"
runs=("--lossless lossy.mp4 lossy-out.mkv" "odd.mkv odd-out.mkv" "--frames 3-7 --lossless lossy.mp4 range-out.avi"
      "alpha.png alpha-out.png")
for r in "${runs[@]}"; do
  read -r -a args <<< "$r"
  n=${#args[@]}
  out=${args[n - 1]}
  (cd "$work" && "$host_build/velbrin" -q -y "${args[@]:0:n-1}" "host-$out")
  in_root bash -c "cd /tmp/velbrin-same-bytes && /velbrin-build/native/velbrin -q -y ${args[*]:0:n-1} new-$out"
  for side in host new; do
    ffmpeg -nostdin -v error -i "$work/$side-$out" -map 0:v -f framemd5 - | grep -v '^#' > "$work/$side-$out.md5"
  done
  [ -s "$work/host-$out.md5" ] || fail "$r: no frames from the host's build"
  cmp -s "$work/host-$out.md5" "$work/new-$out.md5" || fail "$r: other frames or timestamps on FFmpeg $ffmpeg_version"
  echo "same frames: velbrin $r"
done
lap "compared"
echo "FFmpeg $ffmpeg_version ($suite): all steps passed in $((SECONDS - started)) s"
