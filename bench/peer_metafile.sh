#!/bin/bash
# Times EMF and WMF output on the same rendered pages as whole commands that read the 24-bit
# BMP page and write the metafile, beside BMP output (the same pixels written with no picture
# records around them) and beside Ghostscript rendering the page, and prints the mean times,
# the ratios to BMP output and the file sizes.
#
# Usage: bench/peer_metafile.sh [release build folder or its bin/ folder, default build/meta-rel]
set -euo pipefail

# shellcheck source=bench/peer_common.sh
source "$(dirname "$0")/peer_common.sh"
peer_build orvalis-job "${1:-$root/build/meta-rel}"
peer_render_pages 150 300
job=$bin/orvalis-job
peer_warmup=2
peer_min_runs=10

for dpi in 150 300; do
  page=$pages/${stem}_$dpi.bmp
  peer_hyperfine "$out/times_$dpi.json" \
    -n "emf $dpi" "$job --format emf --out $out/page_$dpi.emf $page" \
    -n "wmf $dpi" "$job --format wmf --out $out/page_$dpi.wmf $page" \
    -n "bmp $dpi" "$job --format bmp --out $out/page_$dpi.bmp $page" \
    -n "gs render $dpi" "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bmp16m -r$dpi -sOutputFile=$out/gs_$dpi.bmp $document" \
    2>/dev/null
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
