#!/usr/bin/env bash
# Renders the icon's PNG sizes from velmora.svg (needs rsvg-convert from
# librsvg2-bin). Run after changing the SVG and commit the PNGs.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" velmora.svg -o "velmora-$size.png"
done
