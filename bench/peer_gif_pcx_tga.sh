#!/bin/bash
# Times the GIF, PCX and TGA writers beside ImageMagick's convert on the same rendered pages.
# Each peer command reads a BMP page and writes a file, so the comparison on our side is the
# benchmark's FileToFile case (read the same BMP, encode, write the file):
#   PCX, TGA, GIF mosaic: the 24-bit page (convert quantizes a 24-bit page to 256 colours for GIF,
#                         which our mosaic does not need: that ratio compares different work);
#   GIF palette:          the page after our 256-colour reduction, saved by the benchmark as an
#                         8-bit BMP, which convert writes without quantizing again.
# Wall-clock ratios are reported beside CPU-time ratios (ours: the benchmark's CPU time; the
# peer: user + system time), since the machine may be shared.
#
# Usage: bench/peer_gif_pcx_tga.sh [release build folder or its bin/ folder, default build/gifpcx-rel]
set -euo pipefail

# shellcheck source=bench/peer_common.sh
source "$(dirname "$0")/peer_common.sh"
peer_build bench_gif_pcx_tga "${1:-$root/build/gifpcx-rel}"
peer_render_pages 150 300

# The benchmark also writes the 256-colour pages <stem>_<dpi>_256.bmp the peer reads below.
"$bin/bench_gif_pcx_tga" --benchmark_min_time=1 --benchmark_format=json >"$out/ours.json"

for dpi in 150 300; do
  page=$pages/${stem}_$dpi.bmp
  reduced=$pages/${stem}_${dpi}_256.bmp
  peer_hyperfine "$out/peer_$dpi.json" \
    -n "convert pcx $dpi" "$convert $page $out/p.pcx" \
    -n "convert tga $dpi" "$convert $page $out/p.tga" \
    -n "convert gif 24-bit $dpi" "$convert $page $out/p.gif" \
    -n "convert gif 256-colour $dpi" "$convert $reduced $out/q.gif"
done

/usr/bin/python3 - "$out" <<'EOF'
import json, os, sys
out = sys.argv[1]
ours = {b["name"]: b for b in json.load(open(os.path.join(out, "ours.json")))["benchmarks"]}
ours_case = {"pcx": "BM_PcxFileToFile", "tga": "BM_TgaFileToFile",
             "gif 24-bit": "BM_GifMosaicFileToFile", "gif 256-colour": "BM_GifPaletteFileToFile"}
print(f"{'case':34} {'wall s':>8} {'cpu s':>8} {'wall ours/peer':>15} {'cpu ours/peer':>14}")
for dpi in (150, 300):
    for r in json.load(open(os.path.join(out, f"peer_{dpi}.json")))["results"]:
        kind = r["command"][len("convert "):-len(f" {dpi}")]
        mine = ours[f"{ours_case[kind]}/{dpi}/real_time"]
        wall, cpu = mine["real_time"] / 1000.0, mine["cpu_time"] / 1000.0
        peer_wall, peer_cpu = r["mean"], r["user"] + r["system"]
        print(f"{'ours ' + kind + ' ' + str(dpi):34} {wall:8.4f} {cpu:8.4f}")
        print(f"{r['command']:34} {peer_wall:8.4f} {peer_cpu:8.4f} {wall / peer_wall:15.3f} "
              f"{cpu / peer_cpu:14.3f}")
print()
print(f"{'encode only (into memory)':34} {'wall s':>8} {'cpu s':>8} {'output bytes':>13}")
for name, b in ours.items():
    if "FileToFile" in name:
        continue
    print(f"{name.replace('/real_time', ''):34} {b['real_time'] / 1000.0:8.4f} "
          f"{b['cpu_time'] / 1000.0:8.4f} {int(b.get('output_bytes', 0)):13d}")
EOF
