#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing need, only those
# missing, so a machine that has them all is left alone (and needs no
# network). Run as root, or with sudo available.
#   scripts/install-deps.sh          everything (scripts/test.sh)
#   scripts/install-deps.sh --demo   what building velbrin needs (scripts/demo.sh)
#   ... --list                       prints the packages instead
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 fonts-wine xvfb xauth
  ffmpeg libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  parallel
  imagemagick
  frei0r-plugins-dev melt gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  shotcut
  strace man-db
  time
  dpkg-dev lintian zip unzip
  slurmctld slurmd slurm-client munge
  fonts-dejavu-core
  mmdebstrap
  python3-numpy python3-skimage python3-matplotlib opencv-doc
)
# Building velbrin alone: the compiler and build tools, FFmpeg's libraries
# and tool, and what configuring the native preset looks for (frei0r.h,
# GoogleTest).
demo_packages=(
  cmake ninja-build g++ pkg-config
  ffmpeg libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  frei0r-plugins-dev libgtest-dev
)
for arg in "$@"; do [ "$arg" = --demo ] && packages=("${demo_packages[@]}"); done
for arg in "$@"; do [ "$arg" = --list ] && { printf '%s\n' "${packages[@]}"; exit 0; }; done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
