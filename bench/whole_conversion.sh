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
# Then one long document (the bash manual): wall time beside gs for each format, peak temporary
# disk and memory at 300 dpi, and four copies at once (long_document_tables below). BEFORE=DIR
# adds another build's orvalis-cli to those tables, timed in the same run; CORPUS=0 skips the
# corpus table, LONG=0 the long-document ones, LEVERS=1 adds the Ghostscript option timings.
# Then 200 small one-page documents against Ghostscript in parallel and one after another, and
# the window (bench_window) over 40 of them (SMALL=0 skips them), a 100-page PDF beside gs and
# pdftoppm, to PNG and to TGA (PDF=0 skips it), and the run itself (CORE=0 skips it): the most
# threads orvalis-cli has with --jobs 8 over 8 long documents, and how long 20 stops at random
# moments take.
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
corpus_specs="png:png16m jpg:jpeg tif:tiff24nc"; [[ "${CORPUS:-1}" == 1 ]] || corpus_specs=""
for spec in $corpus_specs; do
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

# ---- One long document: converting pages while they render ----

# gs_one DEVICE EXT FILE [OPTIONS...]: one document with Ghostscript alone.
gs_one() {
  local device=$1 ext=$2 file=$3; shift 3
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE="$device" -r"$dpi" -dTextAlphaBits=4 \
    -dGraphicsAlphaBits=4 "$@" -sOutputFile="$work/out/$(basename "$file" .ps)_%03d.$ext" -f "$file"
}
export -f gs_one

# print_rows FORMAT REFERENCE NAME...: the measured rows with ratios to REFERENCE's.
print_rows() {
  local ext=$1 ref=$2; shift 2
  for name in "$@"; do
    [[ -n "${wall[$name]:-}" ]] || continue
    printf "%-6s %-${namew:-26}s %9.2f %9.2f %10.1f %8.2f %8.2f\n" "$ext" "$name" "${wall[$name]}" \
      "${cpu[$name]}" "$(echo "${mem[$name]} / 1024" | bc -l)" \
      "$(echo "${wall[$name]} / ${wall[$ref]}" | bc -l)" "$(echo "${cpu[$name]} / ${cpu[$ref]}" | bc -l)"
  done
}

# orvalis BINDIR ARGS...: orvalis-cli with an empty profile, quietly, into $work/out.
orvalis() {
  local bin=$1; shift
  "$bin/orvalis-cli" --profile "$work/empty.ini" -q -o "$work/out" --dpi "$dpi" "$@"
}
export -f orvalis

# sampled_peak NAME COMMAND...: runs COMMAND once with its page folders in $work/pagetmp,
# looking at that folder every 20 ms; prints the most it held (MiB and pages of the largest
# page file seen) and the peak resident memory of the largest process (orvalis-cli or one gs).
sampled_peak() {
  local name=$1; shift
  rm -rf "$work/out" "$work/pagetmp"; mkdir -p "$work/out" "$work/pagetmp"
  (
    while :; do
      echo "$(du -sb "$work/pagetmp" | cut -f1) $(find "$work/pagetmp" -type f -printf '%s\n' | sort -n | tail -n 1)"
      sleep 0.02
    done
  ) > "$work/samples" 2>/dev/null &
  local sampler=$!
  TMPDIR="$work/pagetmp" /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
    echo "  $name failed: $(tail -n 3 "$work/err")" >&2
  kill "$sampler"; wait "$sampler" 2>/dev/null || true
  local peak page w m
  peak=$(cut -d' ' -f1 "$work/samples" | sort -n | tail -n 1)
  page=$(cut -d' ' -s -f2 "$work/samples" | sort -n | tail -n 1)
  read -r w m < "$work/time"
  printf '%-26s %9.2f %12.1f %10.1f %14.1f\n' "$name" "$w" "$(echo "$peak / 1048576" | bc -l)" \
    "$(echo "$peak / ${page:-1}" | bc -l)" "$(echo "$m / 1024" | bc -l)"
}

long_document_tables() {
  local doc="$work/long/bash.ps"
  mkdir -p "$work/long"
  zcat /usr/share/man/man1/bash.1.gz | groff -man -Tps > "$doc" 2>/dev/null ||
    { echo "No bash manual to typeset: the long-document tables are skipped"; return 0; }
  : > "$work/empty.ini"
  local pages; pages=$(grep -c '^%%Page:' "$doc")
  local jobs; jobs=$(nproc)
  local before=${BEFORE:-}
  [[ -z "$before" ]] || before=$(cd "$before" && pwd)
  echo
  echo "One long document: bash(1) through groff, $pages pages, $dpi dpi, best of $runs runs, load $(cut -d' ' -f1-3 /proc/loadavg)"
  printf '%-6s %-26s %9s %9s %10s %8s %8s\n' format tool wall_s cpu_s peak_MiB wall/gs cpu/gs
  unset wall cpu mem; declare -gA wall cpu mem
  measure "gs bmp16m (rendering)" bash -c "gs_one bmp16m bmp $doc"
  local rendering_wall=${wall["gs bmp16m (rendering)"]} rendering_cpu=${cpu["gs bmp16m (rendering)"]}
  local rendering_mem=${mem["gs bmp16m (rendering)"]}
  for spec in png:png16m jpg:jpeg tif:tiff24nc; do
    local ext=${spec%%:*} device=${spec##*:}
    unset wall cpu mem; declare -gA wall cpu mem
    wall["gs bmp16m (rendering)"]=$rendering_wall; cpu["gs bmp16m (rendering)"]=$rendering_cpu
    mem["gs bmp16m (rendering)"]=$rendering_mem
    measure "gs $device" bash -c "gs_one $device $ext $doc"
    local names=("gs bmp16m (rendering)" "gs $device")
    if [[ -n "$before" ]]; then
      measure "before --jobs $jobs" bash -c "orvalis $before -f $ext --compression uncompressed $doc"
      names+=("before --jobs $jobs")
    fi
    measure "orvalis --jobs 1" bash -c "orvalis $bindir -f $ext --compression uncompressed --jobs 1 $doc"
    measure "orvalis --jobs $jobs" bash -c "orvalis $bindir -f $ext --compression uncompressed $doc"
    names+=("orvalis --jobs 1" "orvalis --jobs $jobs")
    print_rows "$ext" "gs $device" "${names[@]}"
  done

  echo
  echo "Four copies of it at once (--jobs $jobs) against gs png16m one after another, best of $runs runs"
  printf '%-6s %-26s %9s %9s %10s %8s %8s\n' format tool wall_s cpu_s peak_MiB wall/gs cpu/gs
  mkdir -p "$work/copies"
  for i in 1 2 3 4; do cp "$doc" "$work/copies/bash$i.ps"; done
  unset wall cpu mem; declare -gA wall cpu mem
  measure "gs png16m" bash -c "for f in $work/copies/*.ps; do gs_one png16m png \$f; done"
  local names=("gs png16m")
  if [[ -n "$before" ]]; then
    measure "before --jobs $jobs" bash -c "orvalis $before -f png $work/copies"
    names+=("before --jobs $jobs")
  fi
  measure "orvalis --jobs $jobs" bash -c "orvalis $bindir -f png $work/copies"
  names+=("orvalis --jobs $jobs")
  print_rows png "gs png16m" "${names[@]}"

  echo
  echo "Peak temporary disk and memory, the same document at 300 dpi to PNG (one run each)"
  printf '%-26s %9s %12s %10s %14s\n' tool wall_s peak_tmp_MiB peak_pages peak_RSS_MiB
  [[ -z "$before" ]] || sampled_peak "before --jobs $jobs" "$before/orvalis-cli" --profile "$work/empty.ini" -q -o "$work/out" --dpi 300 -f png "$doc"
  sampled_peak "orvalis --jobs $jobs" "$bindir/orvalis-cli" --profile "$work/empty.ini" -q -o "$work/out" --dpi 300 -f png "$doc"
}

# Ghostscript's own options, rendering the long document alone (bmp16m), best of RUNS runs:
# rendering threads need a page in bands, so they are tried with banding forced.
render_levers() {
  local doc="$work/long/bash.ps"
  [[ -f "$doc" ]] || return 0
  echo
  echo "Ghostscript options, rendering the long document to bmp16m at $dpi dpi, best of $runs runs"
  local namew=58
  printf "%-6s %-${namew}s %9s %9s %10s %8s %8s\n" format options wall_s cpu_s peak_MiB wall/gs cpu/gs
  unset wall cpu mem; declare -gA wall cpu mem
  local names=()
  for options in "" "-dNumRenderingThreads=2" "-dMaxBitmap=0 -dBufferSpace=4000000" \
      "-dMaxBitmap=0 -dBufferSpace=4000000 -dNumRenderingThreads=2" \
      "-dMaxBitmap=0 -dBandHeight=100 -dNumRenderingThreads=2" "-dBufferSpace=64000000" \
      "-dMaxBitmap=500000000" "-dNOGC" "-dNOINTERPOLATE"; do
    local name=${options:-(default)}
    measure "$name" bash -c "gs_one bmp16m bmp $doc $options"
    names+=("$name")
  done
  print_rows bmp "(default)" "${names[@]}"
}

# ---- Many small files: what each file costs beyond its rendering ----

small_files_tables() {
  local small="$work/small" jobs; jobs=$(nproc)
  local sdpi=${SMALL_DPI:-72}
  mkdir -p "$small"
  # 200 different one-page documents: a heading, a paragraph, a few shapes, shades that differ.
  for i in $(seq 1 200); do
    {
      echo "%!PS-Adobe-3.0"
      echo "/Times-Bold findfont 20 scalefont setfont 72 740 moveto (Notice number $i) show"
      echo "/Times-Roman findfont 11 scalefont setfont"
      for line in $(seq 1 $((8 + i % 12))); do
        echo "72 $((700 - line * 14)) moveto (Line $line of notice $i: the quick brown fox jumps over the lazy dog.) show"
      done
      echo "0.$((i % 9 + 1)) setgray newpath 100 100 moveto $((200 + i)) $((150 + i % 50)) lineto 400 90 lineto closepath fill"
      echo "0 0.$((i % 7 + 2)) 0.5 setrgbcolor newpath 450 $((200 + i % 100)) $((20 + i % 30)) 0 360 arc fill"
      echo "showpage"
    } > "$small/notice$i.ps"
  done
  : > "$work/empty.ini"
  gs_small() { gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -dTextAlphaBits=4 \
    -dGraphicsAlphaBits=4 -r"$2" -sOutputFile="$3/$(basename "$1" .ps)_%03d.png" "$1"; }
  export -f gs_small
  echo
  echo "200 one-page documents to PNG at $sdpi dpi, best of $runs runs, load $(cut -d' ' -f1-3 /proc/loadavg)"
  printf '%-6s %-26s %9s %9s %10s %8s %8s\n' format tool wall_s cpu_s peak_MiB wall/ref cpu/ref
  unset wall cpu mem; declare -gA wall cpu mem
  measure "gs, one after another" bash -c "for f in $small/*.ps; do gs_small \$f $sdpi $work/out; done"
  measure "gs, xargs -P $jobs" bash -c "ls $small/*.ps | xargs -P $jobs -I{} bash -c 'gs_small {} $sdpi $work/out'"
  measure "orvalis --jobs 1" "$bindir/orvalis-cli" --profile "$work/empty.ini" -q -f png --dpi "$sdpi" -o "$work/out" --jobs 1 "$small"
  measure "orvalis --jobs $jobs" "$bindir/orvalis-cli" --profile "$work/empty.ini" -q -f png --dpi "$sdpi" -o "$work/out" --jobs "$jobs" "$small"
  local names=("gs, one after another" "orvalis --jobs 1")
  print_rows png "gs, one after another" "${names[@]}"
  names=("gs, xargs -P $jobs" "orvalis --jobs $jobs")
  print_rows png "gs, xargs -P $jobs" "${names[@]}"
  window_table "$small"
}

# The window over 40 of the small documents, from the Start click to the last row's result (its
# own start and list filling not counted), against gs one file after another.
window_table() {
  local forty="$work/forty" best="" seconds
  [[ -x "$bindir/bench_window" ]] || { echo "No bench_window in $bindir: the window is not timed"; return 0; }
  mkdir -p "$forty"
  ls "$1"/*.ps | head -n 40 | xargs cp -t "$forty"
  gs_forty() { for f in "$1"/*.ps; do gs_small "$f" 72 "$2"; done; }
  export -f gs_forty
  measure "gs, one after another (40)" bash -c "gs_forty $forty $work/out"
  for _ in $(seq 1 "$runs"); do
    seconds=$("$bindir/bench_window" --files 1 --run-docs "$forty" 2>/dev/null |
      sed -n 's|^run/40_files  \([0-9.]*\) s.*|\1|p')
    [[ -n "$seconds" ]] || { echo "  the window's run failed" >&2; return 0; }
    if [[ -z "$best" ]] || (( $(echo "$seconds < $best" | bc) )); then best=$seconds; fi
  done
  local reference=${wall["gs, one after another (40)"]}
  echo
  echo "The window over 40 of them at 72 dpi, best of $runs runs"
  printf '  gs one after another %ss, the window %ss: %.2fx\n' "$reference" "$best" \
    "$(echo "$best / $reference" | bc -l)"
}

# ---- A PDF: 100 pages of a groff manual through ps2pdf, beside gs and pdftoppm ----

pdf_tables() {
  local pdfdir="$work/pdf" long="$work/pdf/manual.ps" pdf="$work/pdf/manual.pdf"
  mkdir -p "$pdfdir"
  { zcat /usr/share/man/man1/bash.1.gz; zcat /usr/share/man/man1/bash.1.gz; } |
    groff -man -Tps > "$long" 2>/dev/null ||
    { echo "No manual to typeset: the PDF table is skipped"; return 0; }
  # The first 100 pages.
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -dLastPage=100 -sOutputFile="$pdf" "$long"
  command -v pdftoppm >/dev/null || { echo "No pdftoppm: the PDF table is skipped"; return 0; }
  : > "$work/empty.ini"
  echo
  echo "A 100-page PDF (ps2pdf of a groff manual) to PNG at $dpi dpi, best of $runs runs, load $(cut -d' ' -f1-3 /proc/loadavg)"
  printf '%-6s %-26s %9s %9s %10s %8s %8s\n' format tool wall_s cpu_s peak_MiB wall/gs cpu/gs
  unset wall cpu mem; declare -gA wall cpu mem
  measure "gs png16m" gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r"$dpi" -dTextAlphaBits=4 \
    -dGraphicsAlphaBits=4 -sOutputFile="$work/out/manual_%03d.png" -f "$pdf"
  measure "pdftoppm -png" pdftoppm -png -r "$dpi" "$pdf" "$work/out/manual"
  measure "orvalis --jobs 1" bash -c "orvalis $bindir -f png --jobs 1 $pdf"
  measure "orvalis --jobs $(nproc)" bash -c "orvalis $bindir -f png $pdf"
  print_rows png "gs png16m" "gs png16m" "pdftoppm -png" "orvalis --jobs 1" "orvalis --jobs $(nproc)"
  # A format that costs little to write: here the rendering is what takes the time, and two
  # interpreters (a PDF drawn in two parts, --jobs 2 and up) draw it in half. gs has no TGA
  # device: its BMP, which it writes as it draws, stands beside it.
  unset wall cpu mem; declare -gA wall cpu mem
  measure "gs bmp16m" gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bmp16m -r"$dpi" -dTextAlphaBits=4 \
    -dGraphicsAlphaBits=4 -sOutputFile="$work/out/manual_%03d.bmp" -f "$pdf"
  measure "orvalis tga --jobs 1" bash -c "orvalis $bindir -f tga --jobs 1 $pdf"
  measure "orvalis tga --jobs $(nproc)" bash -c "orvalis $bindir -f tga $pdf"
  print_rows tga "gs bmp16m" "gs bmp16m" "orvalis tga --jobs 1" "orvalis tga --jobs $(nproc)"
}

# ---- The run itself: its threads, and how fast it stops ----

core_tables() {
  local doc="$work/long/bash.ps"
  mkdir -p "$work/long" "$work/eight"
  [[ -f "$doc" ]] || zcat /usr/share/man/man1/bash.1.gz | groff -man -Tps > "$doc" 2>/dev/null ||
    { echo "No bash manual to typeset: the run's tables are skipped"; return 0; }
  : > "$work/empty.ini"
  for i in $(seq 1 8); do cp "$doc" "$work/eight/bash$i.ps"; done
  echo
  echo "Threads of orvalis-cli --jobs 8 over 8 copies of bash(1) to PNG ($(nproc) processors)"
  rm -rf "$work/out"; mkdir -p "$work/out"
  "$bindir/orvalis-cli" --profile "$work/empty.ini" -q -f png -o "$work/out" --jobs 8 "$work/eight" &
  local pid=$! most=0 n
  while kill -0 "$pid" 2>/dev/null; do
    n=$(ls "/proc/$pid/task" 2>/dev/null | wc -l || true)
    (( n > most )) && most=$n
    sleep 0.005
  done
  wait "$pid" || true
  echo "  most threads at once: $most (jobs + 4 = 12)"

  echo
  echo "20 stops (SIGTERM) at random moments of orvalis-cli --jobs $(nproc) over 2 copies: until it and every gs are gone"
  RANDOM=20261210
  local times=() s e
  for i in $(seq 1 20); do
    rm -rf "$work/out"; mkdir -p "$work/out"
    mkdir -p "$work/stoptmp"
    TMPDIR="$work/stoptmp" "$bindir/orvalis-cli" --profile "$work/empty.ini" -q -f png -o "$work/out" "$work/eight/bash1.ps" "$work/eight/bash2.ps" >/dev/null &
    pid=$!
    sleep "0.$(printf '%03d' $((RANDOM % 1000)))"
    s=$(date +%s%N)
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    while pgrep -f "$work/stoptmp" >/dev/null 2>&1; do sleep 0.001; done
    e=$(date +%s%N)
    times+=($(( (e - s) / 1000000 )))
  done
  local sorted; sorted=$(printf '%s\n' "${times[@]}" | sort -n)
  echo "  median $(echo "$sorted" | sed -n 10p) ms, 95th percentile $(echo "$sorted" | sed -n 19p) ms, worst $(echo "$sorted" | tail -n 1) ms"
}

[[ "${LONG:-1}" == 1 ]] && long_document_tables
[[ "${LEVERS:-0}" == 1 ]] && render_levers
[[ "${SMALL:-1}" == 1 ]] && small_files_tables
[[ "${PDF:-1}" == 1 ]] && pdf_tables
[[ "${CORE:-1}" == 1 ]] && core_tables
exit 0
