#!/bin/bash
# Times EMF and WMF output on the same rendered pages as whole commands that read the 24-bit
# BMP page and write the metafile, beside BMP output (the same pixels written with no picture
# records around them) and beside Ghostscript rendering the page, and prints the mean times,
# the ratios to BMP output and the file sizes.
#
# Usage: bench/peer_metafile.sh [release build folder, default build/meta-rel]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/meta-rel}
pages=${ORVALIS_BENCH_PAGE_DIR:-/tmp/orvalis_bench_pages}
tiger=$root/../shared/corpus/ps/tiger.ps
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
job=$build/bin/orvalis-job

mkdir -p "$pages"
for dpi in 150 300; do
  page=$pages/tiger_$dpi.bmp
  [[ -f $page ]] || gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bmp16m -r$dpi -sOutputFile="$page" "$tiger"
done

cmake --build "$build" --target orvalis-job >/dev/null

for dpi in 150 300; do
  page=$pages/tiger_$dpi.bmp
  hyperfine --warmup 2 --min-runs 10 --export-json "$out/times_$dpi.json" \
    -n "emf $dpi" "$job --format emf --out $out/page_$dpi.emf $page" \
    -n "wmf $dpi" "$job --format wmf --out $out/page_$dpi.wmf $page" \
    -n "bmp $dpi" "$job --format bmp --out $out/page_$dpi.bmp $page" \
    -n "gs render $dpi" "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bmp16m -r$dpi -sOutputFile=$out/gs_$dpi.bmp $tiger" \
    >/dev/null 2>&1
  /usr/bin/python3 - "$out/times_$dpi.json" "$out" "$dpi" <<'PY'
import json, os, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
out, dpi = sys.argv[2], sys.argv[3]
bmp = results[f"bmp {dpi}"]["mean"]
for name in ("emf", "wmf", "bmp", "gs render"):
    r = results[f"{name} {dpi}"]
    cpu = r["user"] + r["system"]
    line = (f"{name:>9} {dpi} dpi: {r['mean'] * 1000:8.2f} ms +- {r['stddev'] * 1000:5.2f}"
            f" (cpu {cpu * 1000:7.2f} ms)")
    if name in ("emf", "wmf"):
        size = os.path.getsize(f"{out}/page_{dpi}.{name}")
        page = os.path.getsize(f"{out}/page_{dpi}.bmp")
        bmpCpu = results[f"bmp {dpi}"]["user"] + results[f"bmp {dpi}"]["system"]
        line += (f"   x{r['mean'] / bmp:5.2f} of bmp (cpu x{cpu / bmpCpu:5.2f})"
                 f"   {size} bytes (bmp {page}, +{size - page})")
    print(line)
PY
done
