#!/usr/bin/env bash
# Runs every fuzz_* program in BINDIR, sharing SECONDS of fuzzing between them.
# Each first writes its seed corpus (made in code) when ORVALIS_WRITE_SEEDS names a folder,
# then fuzzes from those seeds, the inputs kept in the repository's fuzz/corpus/<name>/ (read
# only), and whatever earlier runs kept in the same folder. Decoders try pictures of every size
# their headers claim (ORVALIS_FUZZ_LARGE_CLAIMS), held to the run's memory limit; a claim of
# hundreds of MiB takes seconds under the sanitizers, hence the long time-out.
set -euo pipefail
bindir=$1
budget=${2:-120}
mapfile -t fuzzers < <(find "$bindir" -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x | sort)
if [[ ${#fuzzers[@]} -eq 0 ]]; then echo "no fuzzers in $bindir" >&2; exit 1; fi
share=$(( budget / ${#fuzzers[@]} ))
(( share > 0 )) || share=1
for fuzzer in "${fuzzers[@]}"; do
  name=$(basename "$fuzzer")
  corpus="$bindir/../corpus/$name"
  mkdir -p "$corpus"
  echo "== $name for ${share}s"
  kept="$(dirname "$0")/../fuzz/corpus/$name"
  seeds=()
  [[ -d $kept ]] && seeds=("$kept")
  ORVALIS_WRITE_SEEDS="$corpus" "$fuzzer" >/dev/null
  ORVALIS_FUZZ_LARGE_CLAIMS=1 "$fuzzer" -max_total_time="$share" -max_len=65536 -timeout=60 \
    -rss_limit_mb=2048 -print_final_stats=1 "$corpus" "${seeds[@]}" 2>&1 | tail -n 12
  status=${PIPESTATUS[0]}
  if [[ $status -ne 0 ]]; then echo "$name failed (exit $status)" >&2; exit 1; fi
done
