#!/usr/bin/env bash
# The README's main command: installs what building needs and is missing
# (Debian 12: the compiler, CMake, Ninja and FFmpeg's development files,
# not the test tools of scripts/test.sh), builds
# velbrin and the filter module, makes a short noisy test clip with a tone,
# and runs velbrin on it, writing the filtered clip and a comparison picture
# (input, output, Show noise view) into out/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --demo

echo "=== building velbrin (native preset) ==="
cmake --preset native >/dev/null
cmake --build --preset native -j2 --target velbrin

mkdir -p out
clip=out/velbrin-demo-input.mkv
echo "=== making a noisy test clip: $clip ==="
# Test pattern with film-like noise that changes every frame, 4 seconds at
# 640x360 and 25 frames per second, with a 440 Hz tone; stored lossless.
ffmpeg -nostdin -hide_banner -loglevel error -y \
  -f lavfi -i "testsrc2=size=640x360:rate=25,noise=alls=22:allf=t+u" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000" \
  -t 4 -c:v ffv1 -pix_fmt bgr0 -c:a flac "$clip"

echo "=== running velbrin ==="
build/native/velbrin -y --level 100 --dynamic 5 --compare out/compare.png --at 50 "$clip" out/velbrin-demo.mkv

echo
echo "Filtered clip:      $(pwd)/out/velbrin-demo.mkv"
echo "Comparison picture: $(pwd)/out/compare.png (input | output | Show noise, frame 50)"
echo "Input clip:         $(pwd)/$clip"
