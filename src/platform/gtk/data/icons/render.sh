#!/bin/sh
# Renders the app icon's PNG sizes from its SVG source (ImageMagick). The app ships the PNGs only:
# showing an SVG window icon would load an SVG renderer into the app for that alone (~7 MB).
set -eu
cd "$(dirname "$0")"
for size in 16 24 32 48 64 128 256; do
  convert -background none -density $((size * 72 / 128 + 1)) app.lorvane.Lorvane.svg -resize "${size}x${size}" \
    -strip -define png:compression-level=9 "app.lorvane.Lorvane-$size.png"
done
