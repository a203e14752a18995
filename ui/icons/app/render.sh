#!/bin/sh
# Renders the application icon's PNG sizes from its SVG drawings (needs rsvg-convert, Debian
# package librsvg2-bin). The 16-pixel size has a drawing of its own on a 16-pixel grid.
set -eu
cd "$(dirname "$0")"
rsvg-convert -w 16 -h 16 kestrune-orvalis-16.svg -o kestrune-orvalis-16.png
for size in 32 48; do
  rsvg-convert -w "$size" -h "$size" kestrune-orvalis.svg -o "kestrune-orvalis-$size.png"
done
