#!/bin/bash
# Times the JPEG 2000 and Sun raster writers beside their peers on the same rendered pages:
# OpenJPEG's own opj_compress (same library, same settings: one layer, reversible 5/3, six
# resolutions, the engine's default rate 0.900 = ratio 1.111) and ImageMagick's convert for Sun
# raster. Each peer reads the BMP page and writes a file, so the comparison on our side is the
# benchmark's FileToFile case (read the same BMP, encode, write the file). Our encoder writes a
# rendered page losslessly when that fits the rate, so opj_compress lossless is timed as well:
# the same work without OpenJPEG's rate search.
#
# Usage: bench/peer_jp2_ras.sh [release build folder or its bin/ folder, default build/jp2ras-rel]
set -euo pipefail

# shellcheck source=bench/peer_common.sh
source "$(dirname "$0")/peer_common.sh"
peer_build bench_jp2_ras "${1:-$root/build/jp2ras-rel}"
peer_render_pages 150 300
threads=$(nproc)

"$bin/bench_jp2_ras" --benchmark_filter=FileToFile --benchmark_min_time=1 \
  --benchmark_format=json >"$out/ours.json"

for dpi in 150 300; do
  page=$pages/${stem}_$dpi.bmp
  peer_hyperfine "$out/peer_$dpi.json" \
    -n "opj_compress jp2 1 thread $dpi" "opj_compress -i $page -o $out/p.jp2 -r 1.1111 -threads 1" \
    -n "opj_compress jp2 $threads threads $dpi" "opj_compress -i $page -o $out/p.jp2 -r 1.1111 -threads $threads" \
    -n "opj_compress jp2 lossless $threads threads $dpi" "opj_compress -i $page -o $out/p.jp2 -threads $threads" \
    -n "convert ras $dpi" "$convert $page $out/p.ras"
done

/usr/bin/python3 - "$out" <<'EOF'
import json, sys, os
out = sys.argv[1]
ours = {b["name"]: b["real_time"] / 1000.0 for b in json.load(open(os.path.join(out, "ours.json")))["benchmarks"]}
print(f"{'case':44} {'seconds':>9} {'ours/peer':>10}")
for dpi in (150, 300):
    peers = {r["command"]: r["mean"] for r in json.load(open(os.path.join(out, f"peer_{dpi}.json")))["results"]}
    jp2 = ours[f"BM_Jp2FileToFile/{dpi}/real_time"]
    ras = ours[f"BM_RasFileToFile/{dpi}/real_time"]
    print(f"{'ours: JP2 file to file ' + str(dpi):44} {jp2:9.3f}")
    print(f"{'ours: RAS file to file ' + str(dpi):44} {ras:9.3f}")
    for name, seconds in peers.items():
        mine = ras if name.startswith("convert") else jp2
        print(f"{name:44} {seconds:9.3f} {mine / seconds:10.2f}")
EOF
