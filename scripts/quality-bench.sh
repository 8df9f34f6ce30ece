#!/usr/bin/env bash
# The quality benchmark: Velbrin and FFmpeg's denoisers on photos and a clip
# with synthetic Gaussian noise (sigma 5, 10, 20), each at its best setting,
# PSNR, SSIM and processor time per megapixel. Writes docs/quality.md, the
# charts docs/quality-sigma{5,10,20}.png and docs/quality-crops.png (about
# 10-15 minutes on 2 processors).
#
#   scripts/quality-bench.sh            the whole benchmark, into docs/
#   scripts/quality-bench.sh --quick    a smoke check in a minute or two,
#                                       into a temporary folder (or --out DIR)
#   --out DIR                           write the page and pictures to DIR
set -euo pipefail
cd "$(dirname "$0")/.."

quick=()
out=""
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=(--quick) ;;
    --out) out=$2; shift ;;
    *) echo "usage: $0 [--quick] [--out DIR]" >&2; exit 2 ;;
  esac
  shift
done
if [ -z "$out" ]; then
  if [ ${#quick[@]} -gt 0 ]; then out=$(mktemp -d /tmp/velbrin-quality-quick.XXXXXX); else out=docs; fi
fi

scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build build/native -j2 --target velbrin velbrin_rule_settings >/dev/null

args=(--velbrin build/native/velbrin --rule-tool build/native/bench/velbrin_rule_settings --out "$out"
      --command "scripts/quality-bench.sh${quick:+ --quick}")
# Debian's Python, which has the packages that install-deps.sh installed.
PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 bench/quality/run.py "${quick[@]}" "${args[@]}"
echo "written: $out/quality.md"
