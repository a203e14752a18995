#!/usr/bin/env bash
# Times whole conversions of a folder of PostScript documents, side by side in one run:
#   orvalis-cli (--jobs 1 and the default, one job per processor),
#   Ghostscript writing the same format directly (png16m, jpeg, tiff24nc), one file after another,
#   ImageMagick's convert -density, when its security policy lets it read PostScript.
# For each: wall time, CPU time (user + system, children included) and peak memory, best of
# RUNS runs, and each figure as a ratio to Ghostscript's.
#
# usage: bench/whole_conversion.sh BINDIR [DOCS_FOLDER]
# Without DOCS_FOLDER: the repository's sample documents, the benchmark page and a long manual
# generated with groff; with ORVALIS_BENCH_CORPUS naming a folder of real .ps documents (such as
# a shared corpus), those documents as well.
set -euo pipefail
bindir=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-3}
dpi=${DPI:-150}
work=$(mktemp -d /tmp/orvalis_whole.XXXXXX)
trap 'rm -rf "$work"' EXIT

docs=${2:-}
if [[ -z "$docs" ]]; then
  docs="$work/docs"
  mkdir -p "$docs"
  cp "$here"/samples/*.ps "$here"/bench/page.ps "$docs"/
  corpus=${ORVALIS_BENCH_CORPUS:-}
  if [[ -n "$corpus" && -d "$corpus" ]]; then
    find "$corpus" -maxdepth 2 -name '*.ps' -exec cp {} "$docs"/ \;
  fi
  # A long document: a generated manual page typeset by groff.
  {
    echo '.TH LONGDOC 1 "2026" "Kestrune Orvalis" "Benchmarks"'
    for section in $(seq 1 250); do
      echo ".SH SECTION $section"
      for paragraph in 1 2 3; do
        echo ".PP"
        echo "Paragraph $paragraph of section $section. The converter renders every page and"
        echo "encodes it; this text only needs to fill pages the way a real manual does, with"
        echo ".B bold words,"
        echo ".I italic words"
        echo "and ordinary ones, line after line, until the page is full and the next begins."
      done
    done
  } | groff -man -Tps > "$docs/longdoc.ps"
fi
count=$(find "$docs" -maxdepth 1 -name '*.ps' | wc -l)

# measure NAME COMMAND...: best wall, with its CPU seconds and peak memory (KiB).
declare -A wall cpu mem
measure() {
  local name=$1; shift
  local best_wall="" best_cpu="" best_mem=""
  for _ in $(seq 1 "$runs"); do
    rm -rf "$work/out"; mkdir -p "$work/out"
    /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
      echo "  $name failed: $(tail -n 3 "$work/err")" >&2; return 0; }
    read -r w u s m < "$work/time"
    local c; c=$(echo "$u + $s" | bc)
    if [[ -z "$best_wall" ]] || (( $(echo "$w < $best_wall" | bc) )); then
      best_wall=$w; best_cpu=$c; best_mem=$m
    fi
  done
  wall[$name]=$best_wall; cpu[$name]=$best_cpu; mem[$name]=$best_mem
}

gs_all() {  # DEVICE EXT: every document with Ghostscript alone, one after another
  local device=$1 ext=$2
  for f in "$docs"/*.ps; do
    local base; base=$(basename "$f" .ps)
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE="$device" -r"$dpi" -dTextAlphaBits=4 \
      -dGraphicsAlphaBits=4 -sOutputFile="$work/out/${base}_%03d.$ext" -f "$f"
  done
}
export -f gs_all
export docs work dpi

convert_all() {  # EXT
  for f in "$docs"/*.ps; do
    /usr/bin/convert -density "$dpi" "$f" "$work/out/$(basename "$f" .ps)_%03d.$1"
  done
}
export -f convert_all
magick_ok=0
printf '%%!PS\n showpage\n' > "$work/probe.ps"
if /usr/bin/convert "$work/probe.ps" "$work/probe.png" 2>"$work/probe.err"; then magick_ok=1; fi

echo "Documents: $count files in $docs, at $dpi dpi, best of $runs runs, $(nproc) processors"
[[ $magick_ok -eq 1 ]] || echo "ImageMagick: its security policy refuses PostScript ($(head -c 120 "$work/probe.err" | tr '\n' ' '))"
printf '\n%-6s %-22s %9s %9s %10s %8s %8s %8s\n' format tool wall_s cpu_s peak_MiB wall/gs cpu/gs mem/gs
for spec in png:png16m jpg:jpeg tif:tiff24nc; do
  ext=${spec%%:*}; device=${spec##*:}
  profile="$work/profile.ini"
  measure "gs" bash -c "gs_all $device $ext"
  measure "orvalis --jobs 1" "$bindir/orvalis-cli" --profile "$profile" -q -f "$ext" -o "$work/out" --dpi "$dpi" --jobs 1 --compression uncompressed "$docs"
  measure "orvalis --jobs $(nproc)" "$bindir/orvalis-cli" --profile "$profile" -q -f "$ext" -o "$work/out" --dpi "$dpi" --compression uncompressed "$docs"
  names=("gs" "orvalis --jobs 1" "orvalis --jobs $(nproc)")
  if [[ $magick_ok -eq 1 ]]; then measure "convert" bash -c "convert_all $ext"; names+=("convert"); fi
  for name in "${names[@]}"; do
    [[ -n "${wall[$name]:-}" ]] || continue
    printf '%-6s %-22s %9.2f %9.2f %10.1f %8.2f %8.2f %8.2f\n' "$ext" "$name" "${wall[$name]}" "${cpu[$name]}" \
      "$(echo "${mem[$name]} / 1024" | bc -l)" \
      "$(echo "${wall[$name]} / ${wall[gs]}" | bc -l)" "$(echo "${cpu[$name]} / ${cpu[gs]}" | bc -l)" \
      "$(echo "${mem[$name]} / ${mem[gs]}" | bc -l)"
  done
  unset wall cpu mem; declare -A wall cpu mem
done
