#!/bin/bash
# Times the JPEG and PNG writers beside their peers on the same rendered pages, as whole
# commands that read the 24-bit BMP page and write the file:
#   ours  orvalis-job --format jpg --quality 75   (engine settings: optimised tables, progressive)
#   peer  cjpeg -quality 75 -optimize -progressive (libjpeg-turbo's own program, same settings)
#   ours  orvalis-job --format png
#   peer  ImageMagick's convert page.bmp out.png (which picks a palette PNG for a page of at
#         most 256 colours) and convert page.bmp PNG24:out.png (RGB, the colour type we write
#         for a 24-bit page)
# and prints each mean time, the ratio ours/peer, the file sizes and the PSNR of each file
# against the page ("lossless" when every pixel is exact).
#
# Usage: bench/peer_jpeg_png.sh [release build folder or its bin/ folder, default build/jpgpng-rel]
set -euo pipefail

# shellcheck source=bench/peer_common.sh
source "$(dirname "$0")/peer_common.sh"
peer_build orvalis-job "${1:-$root/build/jpgpng-rel}"
peer_render_pages 150 300
job=$bin/orvalis-job

for dpi in 150 300; do
  page=$pages/${stem}_$dpi.bmp
  peer_hyperfine "$out/times_$dpi.json" \
    -n "ours jpg $dpi" "$job --format jpg --quality 75 --out $out/ours_$dpi.jpg $page" \
    -n "cjpeg $dpi" "cjpeg -quality 75 -optimize -progressive -outfile $out/peer_$dpi.jpg $page" \
    -n "ours png $dpi" "$job --format png --out $out/ours_$dpi.png $page" \
    -n "convert png $dpi" "$convert $page $out/peer_$dpi.png" \
    -n "convert png24 $dpi" "$convert $page PNG24:$out/peer24_$dpi.png"
done

/usr/bin/python3 - "$out" "$pages" "$stem" <<'EOF'
import json, math, os, sys
from PIL import Image, ImageChops, ImageStat

out, pages, stem = sys.argv[1], sys.argv[2], sys.argv[3]

def psnr(page, path):
    a = Image.open(page).convert("RGB")
    b = Image.open(path).convert("RGB")
    stat = ImageStat.Stat(ImageChops.difference(a, b))
    mse = sum(stat.sum2) / (3 * a.size[0] * a.size[1])
    return 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse)

# On a shared machine the CPU time (user + system) is the steadier of the two ratios.
print(f"{'case':18} {'mean s':>8} {'ours/peer':>10} {'user+sys s':>11} {'ours/peer':>10} {'bytes':>9} {'PSNR dB':>8}")
for dpi in (150, 300):
    page = os.path.join(pages, f"{stem}_{dpi}.bmp")
    runs = {r["command"]: r for r in json.load(open(os.path.join(out, f"times_{dpi}.json")))["results"]}
    groups = ((f"ours jpg {dpi}", f"ours_{dpi}.jpg", ((f"cjpeg {dpi}", f"peer_{dpi}.jpg"),)),
              (f"ours png {dpi}", f"ours_{dpi}.png", ((f"convert png {dpi}", f"peer_{dpi}.png"),
                                                      (f"convert png24 {dpi}", f"peer24_{dpi}.png"))))
    for ours, ours_file, peers in groups:
        for name, file in ((ours, ours_file),) + peers:
            r = runs[name]
            path = os.path.join(out, file)
            cpu = r["user"] + r["system"]
            ours_cpu = runs[ours]["user"] + runs[ours]["system"]
            ratio = f"{runs[ours]['mean'] / r['mean']:10.2f}" if name != ours else " " * 10
            cpu_ratio = f"{ours_cpu / cpu:10.2f}" if name != ours else " " * 10
            error = psnr(page, path)
            quality = "lossless" if error == 99.0 else f"{error:.2f}"
            print(f"{name:18} {r['mean']:8.3f} {ratio} {cpu:11.3f} {cpu_ratio} "
                  f"{os.path.getsize(path):9d} {quality:>8}")
EOF
