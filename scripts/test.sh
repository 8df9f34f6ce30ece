#!/usr/bin/env bash
# Builds every target and runs every test: installs what is missing,
# configures and builds each preset, and runs its tests with CTest. The
# compiler's and the tests' own lines go to build/logs/; the screen shows one
# line per step, and the end of a failing step's log.
#
# The time it takes on a fresh clone is in the README.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

logs=build/logs
mkdir -p "$logs"
started=$SECONDS
failed=0

# The chroots of the other FFmpeg versions (Debian 13's 7.1, Debian
# testing's 9.0) are made while the presets build: that is mostly
# downloading and unpacking.
declare -A chroot_maker
for suite in trixie forky; do
  scripts/test-ffmpeg-chroot.sh --make-root "$suite" >"$logs/chroot-$suite-made.log" 2>&1 &
  chroot_maker[$suite]=$!
done

# step NAME COMMAND...: runs COMMAND with its output in $logs/NAME.log and
# prints one line: ok or FAILED, with the time it took and, for a test
# step, CTest's count of passed tests.
step() {
  local name=$1 log="$logs/$1.log" t0=$SECONDS
  shift
  printf '%-22s ' "$name"
  if "$@" >"$log" 2>&1; then
    local summary
    summary=$(grep -Eo '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
    printf 'ok      %4ds  %s\n' $((SECONDS - t0)) "$summary"
  else
    printf 'FAILED  %4ds  (log: %s)\n' $((SECONDS - t0)) "$log"
    tail -n 40 "$log" | sed 's/^/    /'
    failed=1
    return 1
  fi
}

build_and_test() {
  local preset=$1 jobs=$2
  # A later step of a preset is pointless once an earlier one failed.
  step "$preset: configure" cmake --preset "$preset" &&
    step "$preset: build" cmake --build --preset "$preset" -j"$jobs" &&
    step "$preset: test" ctest --preset "$preset" || true
}

for preset in native native-asan native-tsan; do
  build_and_test "$preset" 2
done

# The native preset built and its command-line and frei0r tests run on
# FFmpeg 7.1 (a Debian 13 chroot) and 9.0 (Debian testing), lossless
# outputs compared with the native build's.
for suite in trixie forky; do
  name="ffmpeg $([ "$suite" = trixie ] && echo 7.1 || echo 9.0)"
  step "$name: chroot made" wait "${chroot_maker[$suite]}" || true  # a failed attempt is made again below
  step "$name: chroot" scripts/test-ffmpeg-chroot.sh "$suite" build/native || true
done

# The segments recipes of docs/segments.md, run as the document writes
# them: GNU parallel on this machine, Slurm on a one-node cluster of its own.
step "recipes: parallel" tests/cluster/parallel_recipe_test.sh build/native || true
step "recipes: slurm" tests/cluster/slurm_recipe_test.sh build/native || true

# The Windows module, 32- and 64-bit: cross-built with MinGW-w64 and tested
# under Wine (kernel checker, test host, and the dialog on an Xvfb display).
# A fresh machine has no Wine prefix yet: make it once, quietly, before the
# first Windows test.
. scripts/wine-env.sh
if [ ! -f "${WINEPREFIX:-$HOME/.wine}/system.reg" ]; then
  step "wine: make prefix" bash -c 'wineboot -i && wineserver -w' || true
fi
for preset in win32 win64; do
  build_and_test "$preset" 2
done

# The downloads: the Debian package installed, used and purged on this
# machine, the Windows zip unpacked and its DLLs loaded under Wine.
if step "package: build" scripts/package.sh; then
  version=$(scripts/project-version.sh build/native)
  step "package: deb" tests/package/deb_install_test.sh "build/package/velbrin_${version}_amd64.deb" || true
  step "package: zip" tests/package/zip_test.sh "build/package/velbrin-$version-windows.zip" build/win32 build/win64 || true
fi

# Kernel fuzzing: about a minute from the committed seed corpus.
step "fuzz: 60 s" tests/fuzz/run.sh 60 || true

if [ "$failed" -ne 0 ]; then
  echo "Some steps FAILED (after $((SECONDS - started)) s); their logs are in $logs/."
  exit 1
fi
echo "All steps passed in $((SECONDS - started)) s; logs in $logs/."
