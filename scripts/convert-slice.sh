#!/bin/bash
# One slice of an archive, for a Slurm array job or a Kubernetes indexed Job: of the files of a
# NUL-separated list (find ... -print0), task i of n converts files i, i+n, i+2n, ... in one
# orvalis-cli run, with a report of its own that a retried task resumes from. The arguments are
# orvalis-cli's conversion options (-f png --dpi 300 ...).
#
#   ORVALIS_LIST     the list of PostScript files
#   ORVALIS_OUT      the output folder
#   ORVALIS_REPORTS  the folder of the reports, one per slice: slice-<i>.jsonl
#   ORVALIS_SLICES   n; Slurm gives it as SLURM_ARRAY_TASK_COUNT
#   ORVALIS_JOBS     files converted at once; Slurm gives it as SLURM_CPUS_PER_TASK
# The task's index is SLURM_ARRAY_TASK_ID (Slurm) or JOB_COMPLETION_INDEX (Kubernetes).
# The exit status is orvalis-cli's: 0 every file converted or skipped, 1 a file failed, 2 a usage
# error (a task index that is not below n among them).
#
#SBATCH --job-name=orvalis
#SBATCH --cpus-per-task=2
#SBATCH --mem=4G
#SBATCH --requeue
#SBATCH --output=orvalis-%A_%a.log
set -euo pipefail

index=${SLURM_ARRAY_TASK_ID:-${JOB_COMPLETION_INDEX:?no task index: run as an array or indexed job}}
slices=${ORVALIS_SLICES:-${SLURM_ARRAY_TASK_COUNT:?set ORVALIS_SLICES}}
jobs=${ORVALIS_JOBS:-${SLURM_CPUS_PER_TASK:-1}}
: "${ORVALIS_LIST:?}" "${ORVALIS_OUT:?}" "${ORVALIS_REPORTS:?}"
# Task i of n takes files i, i+n, ...: indices from 1 (--array=1-3) would leave file 0 to none.
if ! [[ $index =~ ^[0-9]+$ && $slices =~ ^[0-9]+$ ]] || ((index >= slices)); then
  echo "convert-slice.sh: task $index of $slices: the tasks must be numbered 0 to n-1" >&2
  exit 2
fi

mapfile -d '' files < "$ORVALIS_LIST"
slice=()
for ((i = index; i < ${#files[@]}; i += slices)); do slice+=("${files[i]}"); done
if [ ${#slice[@]} -eq 0 ]; then exit 0; fi

printf '%s\0' "${slice[@]}" |
  orvalis-cli --jobs "$jobs" -q -o "$ORVALIS_OUT" \
    --resume "$ORVALIS_REPORTS/slice-$index.jsonl" --files-from - --null "$@"
