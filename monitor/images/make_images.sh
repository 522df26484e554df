#!/usr/bin/env bash
# Draws the program's own pictures with ImageMagick:
#   strip.jpg  the picture strip of the communication page (a flowmeter on a pipe)
#   archive.jpg the picture of the export window (a sheet with a table)
# The window icon icon.png is the desktop icon's 64 px rendering, made by
# packaging/icons/make_icons.sh.
# Run from anywhere; the results are written beside this script and embedded
# through monitor_images.qrc.
set -euo pipefail
cd "$(dirname "$0")"

# Picture strip, 150 x 440: sky over water, a pipe across with a meter on it.
convert -size 150x440 gradient:'#0b2a6f'-'#a6caf0' \
  -fill '#ffffff20' -draw 'circle 30,60 30,100' -draw 'circle 120,140 120,160' \
  -stroke '#d8e8ff' -strokewidth 2 -fill none \
  -draw "bezier 0,330 38,315 75,345 112,330 150,318" \
  -draw "bezier 0,350 38,335 75,365 112,350 150,338" \
  -draw "bezier 0,370 38,355 75,385 112,370 150,358" \
  -stroke '#203040' -strokewidth 1 -fill '#9aa4ae' -draw 'rectangle 0,238 150,282' \
  -fill '#c4ccd4' -draw 'rectangle 0,244 150,256' \
  -fill '#7a848e' -draw 'rectangle 22,228 34,292' -draw 'rectangle 116,228 128,292' \
  -fill '#5a6470' -draw 'rectangle 64,196 86,240' \
  -fill '#800000' -draw 'roundrectangle 36,120 114,200 10,10' \
  -fill '#f4f4f4' -draw 'circle 75,160 75,130' \
  -fill '#0b2a6f' -stroke none -draw 'polygon 75,160 98,142 79,166' \
  -fill '#203040' -draw 'circle 75,160 75,155' \
  -stroke '#800000' -strokewidth 2 -fill none -draw 'arc 49,134 101,186 150,390' \
  -stroke none -fill '#ffffff' -font DejaVu-Sans-Bold -pointsize 22 -gravity north \
  -annotate +0+36 'VQT540' \
  -font DejaVu-Sans -pointsize 11 -annotate +0+66 'MODBUS RTU' \
  -fill '#0b2a6f' -font DejaVu-Sans-Bold -pointsize 13 -gravity south -annotate +0+22 'monitor' \
  -strip -quality 88 -sampling-factor 2x2 strip.jpg

# Export window picture, 97 x 97: a sheet with a table and an arrow into it.
convert -size 97x97 gradient:'#a6caf0'-'#0b2a6f' \
  -stroke '#203040' -strokewidth 1 -fill '#ffffff' -draw 'polygon 22,10 62,10 76,24 76,88 22,88' \
  -fill '#c4ccd4' -draw 'polygon 62,10 62,24 76,24' \
  -stroke '#7a848e' -draw 'line 28,40 70,40' -draw 'line 28,50 70,50' -draw 'line 28,60 70,60' \
  -draw 'line 28,70 70,70' -draw 'line 28,80 70,80' -draw 'line 42,34 42,84' -draw 'line 56,34 56,84' \
  -stroke none -fill '#800000' -draw 'polygon 8,30 20,30 20,46 28,46 14,60 0,46 8,46' \
  -strip -quality 90 archive.jpg
