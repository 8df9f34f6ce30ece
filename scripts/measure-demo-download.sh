#!/usr/bin/env bash
# Measures what scripts/demo.sh downloads on a fresh Debian 12 machine: makes
# a minimal bookworm system with mmdebstrap in a temporary folder (about
# 3 minutes, from Debian's mirror) and asks its apt what installing
# `scripts/install-deps.sh --demo --list` would fetch and take on disk.
# Needs root and mmdebstrap.
#   scripts/measure-demo-download.sh          what scripts/demo.sh installs
#   scripts/measure-demo-download.sh --all    what scripts/test.sh installs
set -euo pipefail
cd "$(dirname "$0")/.."
which=--demo
[ "${1:-}" = --all ] && which=
mapfile -t packages < <(scripts/install-deps.sh $which --list)
root=$(mktemp -d /tmp/velbrin-fresh-bookworm-XXXXXX)
trap 'rm -rf "$root"' EXIT
mirror=http://deb.debian.org/debian
mmdebstrap --quiet --variant=minbase --skip=cleanup/apt/lists bookworm "$root" \
  "deb $mirror bookworm main" "deb $mirror bookworm-updates main" "deb $mirror-security bookworm-security main"
# Wine's 32-bit part comes from the i386 architecture.
if printf '%s\n' "${packages[@]}" | grep -q ':i386$'; then
  chroot "$root" dpkg --add-architecture i386
  chroot "$root" apt-get update -q >/dev/null
fi
uris=$(chroot "$root" apt-get install --print-uris -y -q --no-install-recommends "${packages[@]}" | grep "^'")
echo "$(wc -l <<<"$uris") packages, $(awk '{s += $3} END {printf "%.0f MB", s / 1e6}' <<<"$uris") to download"
chroot "$root" apt-get install --assume-no --no-install-recommends "${packages[@]}" 2>/dev/null | grep '^After this' || true
