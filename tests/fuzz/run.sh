#!/usr/bin/env bash
# Builds the kernel fuzz target with clang and runs it for a bounded time
# (first argument, seconds; default 60) from the committed seed corpus.
# New inputs go to a scratch corpus under the build folder, never into the
# committed seeds. A mismatch or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-60}"
build=build/fuzz
cmake -S tests/fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build"
mkdir -p "$build/corpus"
"$build/smooth_fuzz" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/" \
  "$build/corpus" tests/fuzz/seeds 2>&1 | tee "$build/last-run.log" | grep -E "^#[0-9]+[[:space:]]+(INITED|DONE)|stat::|MISMATCH|ERROR|SUMMARY" || true
# libFuzzer exits non-zero on a crash; the pipeline above hides it, so check.
grep -qE "MISMATCH|ERROR: (AddressSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error" "$build/last-run.log" && {
  echo "fuzz run failed; see $build/last-run.log"
  exit 1
}
grep -qE "^#[0-9]+[[:space:]]+DONE" "$build/last-run.log" || { echo "fuzz run did not finish; see $build/last-run.log"; exit 1; }
echo "fuzz run passed"
