#!/usr/bin/env bash
# What Slurm costs per array task: 40 copies of a 17-page document (the first 17 pages of the
# bash manual, typeset by groff) converted to PNG at DPI (150)
#   - by one orvalis-cli --jobs 2 over the folder,
#   - by the README's job script (scripts/convert-slice.sh), as 40 tasks of one file and as 2
#     tasks of 20, each task with --jobs 1 and two at a time: started by xargs -P 2, and
#     submitted with sbatch --wait to a one-node Slurm cluster with two CPUs
#     (tests/cli/local_cluster.py), each task given one CPU.
# Wall time, best of RUNS (1) runs, and Slurm's cost per task: (sbatch - xargs) x 2 / tasks;
# then 40 tasks that do nothing, two at a time, for what Slurm alone takes.
#
# usage: bench/slurm_overhead.sh BINDIR    (as root: the cluster's daemons run in namespaces)
set -euo pipefail
bindir=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-1}
dpi=${DPI:-150}
copies=40

if [[ -z "${SLURM_CONF:-}" ]]; then
  if [[ $(id -u) -ne 0 ]]; then echo "Not root: no Slurm cluster, nothing measured"; exit 0; fi
  for program in sbatch slurmctld slurmd munged; do
    command -v "$program" >/dev/null || { echo "No $program: nothing measured"; exit 0; }
  done
  exec /usr/bin/python3 "$here/tests/cli/local_cluster.py" slurm --cpus 2 -- "$0" "$@"
fi

# From here on, inside the cluster.
work=$(mktemp -d /tmp/orvalis_slurm_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/docs"
zcat /usr/share/man/man1/bash.1.gz > "$work/bash.1"  # groff -o stops reading early
groff -man -Tps -o1-17 "$work/bash.1" > "$work/page17.ps"
for i in $(seq -w 1 "$copies"); do cp "$work/page17.ps" "$work/docs/manual_$i.ps"; done
: > "$work/empty.ini"
options=(--profile "$work/empty.ini" -f png --dpi "$dpi")
export PATH="$bindir:$PATH" TMPDIR="$work"

fresh() { rm -rf "$work/out" "$work/reports"; mkdir -p "$work/out" "$work/reports"; }

local_run() {
  orvalis-cli --jobs 2 -q -o "$work/out" "${options[@]}" "$work/docs"
}

slices() {  # TASKS: the list for the job script, and its variables
  find "$work/docs" -name '*.ps' -print0 > "$work/reports/files.list0"
  export ORVALIS_LIST="$work/reports/files.list0" ORVALIS_OUT="$work/out" \
    ORVALIS_REPORTS="$work/reports" ORVALIS_SLICES=$1 ORVALIS_JOBS=1
}

xargs_run() {  # TASKS: the job script once per slice, two at a time
  slices "$1"
  seq 0 $(($1 - 1)) | xargs -P 2 -I{} env JOB_COMPLETION_INDEX={} \
    "$here/scripts/convert-slice.sh" "${options[@]}"
}

submit_and_wait() {  # SCRIPT ARGS...: an array job of ORVALIS_SLICES tasks, one CPU a task
  local job
  job=$(cd "$work" && sbatch --parsable --array=0-$((ORVALIS_SLICES - 1)) --cpus-per-task=1 \
    --output=/dev/null "$@")
  # Not --wait: it looks after 2, 10 and 42 s, then every 32 s, which would be measured too.
  while [[ -n $(squeue --noheader --jobs="$job" --format=%i) ]]; do sleep 0.1; done
}

sbatch_run() {  # TASKS: the job script as an array job
  slices "$1"
  submit_and_wait "$here/scripts/convert-slice.sh" "${options[@]}"
}

best() {  # COMMAND...: the best wall time in seconds of RUNS runs
  local best=""
  for _ in $(seq 1 "$runs"); do
    fresh
    local start end
    start=$(date +%s.%N)
    "$@"
    end=$(date +%s.%N)
    local pages; pages=$(find "$work/out" -name '*.png' | wc -l)
    [[ $1 == empty_run || $pages -eq $((copies * 17)) ]] ||
      { echo "$* wrote $pages pages" >&2; exit 1; }
    local took; took=$(echo "$end - $start" | bc)
    if [[ -z "$best" ]] || (( $(echo "$took < $best" | bc) )); then best=$took; fi
  done
  echo "$best"
}

echo "$copies copies of a 17-page document, PNG at $dpi dpi, best of $runs"
printf '%-40s %8.2f s\n' "orvalis-cli --jobs 2" "$(best local_run)"
for tasks in "$copies" 2; do
  started=$(best xargs_run "$tasks")
  submitted=$(best sbatch_run "$tasks")
  printf '%-40s %8.2f s\n' "$tasks slices, xargs -P 2" "$started"
  printf '%-40s %8.2f s   %+.2f s a task\n' "$tasks slices, sbatch --array (2 CPUs)" \
    "$submitted" "$(echo "scale=3; ($submitted - $started) * 2 / $tasks" | bc)"
done
printf '#!/bin/bash\n' > "$work/empty.sh"
empty_run() { ORVALIS_SLICES=$copies submit_and_wait "$work/empty.sh"; }
took=$(best empty_run)
printf '%-40s %8.2f s   %+.2f s a task\n' "$copies empty tasks, sbatch --array" "$took" \
  "$(echo "scale=3; $took * 2 / $copies" | bc)"
