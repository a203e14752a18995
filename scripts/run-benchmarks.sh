#!/usr/bin/env bash
# Runs every Google Benchmark program in BINDIR (bench_*), then every timing script in bench/.
set -euo pipefail
bindir=$1
here=$(cd "$(dirname "$0")/.." && pwd)
for program in $(find "$bindir" -maxdepth 1 -type f -name 'bench_*' -perm -u+x | sort); do
  echo "== $(basename "$program")"
  "$program" --benchmark_counters_tabular=true
done
for script in $(find "$here/bench" -maxdepth 1 -type f -name '*.sh' -perm -u+x | sort); do
  echo "== $(basename "$script")"
  "$script" "$bindir"
done
