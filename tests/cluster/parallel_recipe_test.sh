#!/usr/bin/env bash
# The GNU parallel recipe of docs/segments.md, run as written on this
# machine alone (its host list replaced by ":", this machine): the plan,
# the parallel command and the join taken from the document's code blocks,
# on a clip whose earlier outputs are still there; lossless segments joined
# must equal one run's frames and timestamps, lossy ones its timestamps and
# audio.
#   tests/cluster/parallel_recipe_test.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
doc=$source_dir/docs/segments.md
build=$(cd "$1" && pwd)
. "$here/recipe_support.sh"
command -v parallel >/dev/null || { echo "GNU parallel is not installed (scripts/install-deps.sh installs it)"; exit 77; }

work=$(mktemp -d /tmp/velbrin-parallel-test-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
cmake --install "$build" --prefix "$work/node" >/dev/null

# The document's command with its hosts replaced by this machine.
command=$(recipe "$doc" parallel | sed -E 's/--sshlogin [^ ]+/--sshlogin :/')
grep -q -- '--sshlogin : ' <<<"$command" || { echo "FAIL: no --sshlogin in the parallel recipe" >&2; exit 1; }

cd "$work"
make_clip
for kind in lossless lossy; do
  opt=()
  [ $kind = lossless ] && opt=(--lossless)
  velbrin_with "$work/$kind-bin" "$work/node/bin/velbrin" "${opt[@]}"
  mkdir "$work/$kind"
  cd "$work/$kind"
  cp "$work/clip.mp4" clip.mp4
  (
    export PATH=$work/$kind-bin:$PATH
    bash -euo pipefail -c "$(recipe "$doc" plan)"
    leave_stale_outputs
    bash -euo pipefail -c "parallel --will-cite ${command#parallel }" || echo "parallel failed" >&2
    bash -euo pipefail -c "$(recipe "$doc" join)" || echo "the join failed" >&2
    velbrin -q -y clip.mp4 whole.mkv
  ) > recipe.log 2>&1
  same_as_one_run joined.mkv whole.mkv $kind ||
    { fail "$kind: the recipe's result is not one run's"; tail -n 20 recipe.log >&2; }
done

[ $failures = 0 ] && echo "parallel recipe: joined segments equal one run (lossless and lossy)"
exit $((failures > 0))
