#!/bin/sh
# Draws the application icon's PNG sizes (app/desktop/icons/NxN/) from its SVG with
# rsvg-convert (Debian: librsvg2-bin). Run from the repository root after changing the SVG.
set -e
id=com.trelmo.Trelmo
for size in 16 24 32 48 64 128 256; do
    mkdir -p "app/desktop/icons/${size}x${size}"
    rsvg-convert -w "$size" -h "$size" "app/desktop/$id.svg" -o "app/desktop/icons/${size}x${size}/$id.png"
done
