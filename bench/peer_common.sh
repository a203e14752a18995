# shellcheck shell=bash
# shellcheck disable=SC2034  # the variables set here are used by the sourcing script
# Shared plumbing of the bench/peer_*.sh timing scripts, sourced by each after
# `set -euo pipefail`. It sets
#   root     the repository;
#   pages    the folder of rendered pages (ORVALIS_BENCH_PAGE_DIR, default
#            /tmp/orvalis_bench_pages), exported so that the benchmark programs use it too;
#   document the PostScript page the pages are rendered from: bench/page.ps, or the one
#            ORVALIS_BENCH_DOCUMENT names (exported, so the benchmark programs use it too);
#   stem     its name without .ps, which the page files start with;
#   out      a scratch folder, removed when the script exits;
#   convert  ImageMagick's own convert program;
# and offers peer_build, peer_render_pages and peer_hyperfine.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
pages=${ORVALIS_BENCH_PAGE_DIR:-/tmp/orvalis_bench_pages}
export ORVALIS_BENCH_PAGE_DIR=$pages
document=${ORVALIS_BENCH_DOCUMENT:-$root/bench/page.ps}
export ORVALIS_BENCH_DOCUMENT=$document
stem=$(basename "$document" .ps)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# /usr/bin/convert is ImageMagick's own program, whatever else PATH may put first.
convert=/usr/bin/convert

# peer_build TARGET WHERE: sets `bin` to the folder that holds TARGET's program. WHERE is either
# a release build folder, where TARGET is built first, or a bin/ folder that already holds the
# program, which is used as it is.
peer_build() {
  local target=$1 where=$2
  if [[ -x $where/$target ]]; then
    bin=$where
  else
    cmake --build "$where" --target "$target" >/dev/null
    bin=$where/bin
  fi
}

# peer_render_pages DPI...: renders the document at each DPI into $pages/<stem>_<dpi>.bmp when
# it is missing, with the same Ghostscript command as the benchmarks' rendered-page helper.
peer_render_pages() {
  mkdir -p "$pages"
  local dpi page
  for dpi in "$@"; do
    page=$pages/${stem}_$dpi.bmp
    [[ -f $page ]] ||
      gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bmp16m -r"$dpi" -sOutputFile="$page" "$document"
  done
}

# peer_hyperfine JSON ARG...: runs hyperfine over the named commands in ARG... and keeps its
# results in JSON. Warm-up and minimum runs come from peer_warmup and peer_min_runs, which a
# script may set after sourcing this file.
peer_warmup=1
peer_min_runs=5
peer_hyperfine() {
  local json=$1
  shift
  hyperfine --warmup "$peer_warmup" --min-runs "$peer_min_runs" --export-json "$json" "$@" >/dev/null
}
