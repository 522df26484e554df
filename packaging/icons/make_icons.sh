#!/usr/bin/env bash
# Renders the program's icon, vqt540-monitor.svg, with rsvg-convert
# (librsvg2-bin) into the PNG sizes of the hicolor theme beside it and into the
# window's own icon (monitor/images/icon.png, 64 px, embedded in the program),
# so that the menu, the task bar and the window show one picture, and into the
# Windows program's icon (vqt540-monitor.ico, icoutils). Run it after
# changing the SVG and commit the PNGs; the build does not need rsvg.
set -euo pipefail
cd "$(dirname "$0")"

sizes=(16 32 48 64 128 256)
for size in "${sizes[@]}"; do
  mkdir -p "hicolor/${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" vqt540-monitor.svg -o "hicolor/${size}x${size}/apps/vqt540-monitor.png"
done
cp hicolor/64x64/apps/vqt540-monitor.png ../../monitor/images/icon.png
# The Windows program's icon (icoutils): the small sizes as bitmaps, the
# largest as PNG, as Windows keeps them.
icotool -c -o vqt540-monitor.ico \
  hicolor/16x16/apps/vqt540-monitor.png hicolor/32x32/apps/vqt540-monitor.png \
  hicolor/48x48/apps/vqt540-monitor.png hicolor/64x64/apps/vqt540-monitor.png \
  -r hicolor/256x256/apps/vqt540-monitor.png
