#!/usr/bin/env bash
# The Slurm recipe of docs/segments.md, run as written on a one-node
# cluster of this machine: the plan, the job array and the join, taken from
# the document's code blocks, on a clip whose earlier outputs are still
# there; lossless segments joined must equal one run's frames and
# timestamps, lossy ones its timestamps and audio. A node where velbrin
# fails must end with the join cancelled, not left pending.
#   tests/cluster/slurm_recipe_test.sh BUILD_DIR
# Exit 77 (skipped) when not root or Slurm is not installed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
doc=$source_dir/docs/segments.md
build=$(cd "$1" && pwd)
. "$here/recipe_support.sh"
. "$here/one_node_slurm.sh"

[ "$(id -u)" = 0 ] || { echo "needs root: slurmd starts the jobs"; exit 77; }
for tool in slurmctld slurmd sbatch munged; do
  command -v $tool >/dev/null || { echo "$tool is not installed (scripts/install-deps.sh installs it)"; exit 77; }
done

work=$(mktemp -d /tmp/velbrin-slurm-test-XXXXXX)
trap 'stop_slurm; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# velbrin as a node has it: an installed tree.
cmake --install "$build" --prefix "$work/node" >/dev/null
start_slurm "$work/cluster"

# run_recipe DIR: the plan, the job script and the join script from the
# document, submitted as it says; waits for the jobs to end.
run_recipe() {
  mkdir -p "$1"
  cd "$1"
  ln -sf "$work/clip.mp4" clip.mp4
  bash -euo pipefail -c "$(recipe "$doc" plan)"
  leave_stale_outputs
  recipe "$doc" slurm-job > job.sh
  recipe "$doc" slurm-join > join.sh
  bash -euo pipefail -c "$(recipe "$doc" slurm-submit)" > submitted.txt
  wait_for_jobs 180
}
show_logs() { tail -n 5 "$1"/slurm-*.out >&2 || true; }

cd "$work"
make_clip
for kind in lossless lossy; do
  opt=()
  [ $kind = lossless ] && opt=(--lossless)
  velbrin_with "$work/$kind-bin" "$work/node/bin/velbrin" "${opt[@]}"
  export PATH=$work/$kind-bin:$PATH
  run_recipe "$work/$kind" || fail "$kind: the jobs did not end"
  [ "$(wc -l < ranges.txt)" -ge 4 ] || fail "$kind: the plan made only $(wc -l < ranges.txt) ranges"
  velbrin -q -y clip.mp4 whole.mkv
  same_as_one_run joined.mkv whole.mkv $kind || { fail "$kind: the recipe's result is not one run's"; show_logs .; }
  export PATH=${PATH#"$work/$kind-bin:"}
done

# A node whose velbrin fails: the tasks fail, and the join is cancelled at
# once rather than waiting forever. (The plan, made where the jobs are
# submitted, still works.)
mkdir -p "$work/failing-bin"
printf '#!/bin/sh\ncase " $* " in *" --plan-segments "*) exec %q "$@" ;; esac\necho "velbrin: failing on purpose" >&2\nexit 1\n' \
  "$work/node/bin/velbrin" > "$work/failing-bin/velbrin"
chmod +x "$work/failing-bin/velbrin"
PATH=$work/failing-bin:$PATH run_recipe "$work/failing" || fail "failing tasks: the join was left pending"
join_id=$(sed -n 's/^Submitted batch job //p' submitted.txt)
join_state=$(scontrol show job "$join_id" | grep -o 'JobState=[A-Z_]*' || true)
[ "$join_state" = JobState=CANCELLED ] || fail "failing tasks: the join ended with '$join_state', not cancelled"
[ "$(cat joined.mkv)" = stale ] || fail "failing tasks: the join replaced the earlier result"

[ $failures = 0 ] && echo "Slurm recipe: joined segments equal one run (lossless and lossy); a failed task cancels the join"
exit $((failures > 0))
