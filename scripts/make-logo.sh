#!/bin/sh
# Draws the About window's logo (app/logo.jpg) with ImageMagick: a blue disc with a
# serial-plug outline and a signal trace. Run from the repository root.
set -e
out="${1:-app/logo.jpg}"
convert -size 96x96 xc:white \
    -fill '#1f4e9c' -stroke '#0b2a5c' -strokewidth 3 -draw 'circle 48,48 48,4' \
    -fill none -stroke white -strokewidth 3 \
    -draw 'polyline 12,56 26,56 26,36 40,36 40,56 54,56 54,36 68,36 68,56 84,56' \
    -fill white -stroke none -draw 'roundrectangle 30,64 66,80 4,4' \
    -fill '#1f4e9c' -draw 'circle 38,72 38,70' -draw 'circle 48,72 48,70' -draw 'circle 58,72 58,70' \
    -quality 90 "$out"
