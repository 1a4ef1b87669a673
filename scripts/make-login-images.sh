#!/usr/bin/env bash
# Draws the images of the windows into skin/login/ and skin/app/ (the PNGs are committed;
# run again only to change them). Shapes are drawn at 4x and scaled down for smooth edges.
set -euo pipefail
cd "$(dirname "$0")/../skin/login"

GREEN='#01BB71'
GREY='#9AA3AE'

# draw <out> <size> <draw arguments...>: a transparent canvas of 4*size, scaled to size.
draw() {
  local out=$1 size=$2
  shift 2
  local big=$((size * 4))
  convert -size "${big}x${big}" xc:none "$@" -resize "${size}x${size}" -strip -define png:exclude-chunks=date,time "PNG32:$out"
}

# Program mark: a green rounded tile with a white ledger and a tick.
draw logo.png 44 -fill "$GREEN" -draw "roundrectangle 0,0 175,175 36,36" \
  -fill white -draw "roundrectangle 44,36 132,140 10,10" \
  -fill "$GREEN" -draw "rectangle 60,58 116,66" -draw "rectangle 60,78 116,86" \
  -fill none -stroke "$GREEN" -strokewidth 10 -draw "polyline 62,112 80,126 112,98"

# Title bar buttons, white on the green header.
draw min.png 16 -stroke white -strokewidth 6 -draw "line 12,32 52,32"
draw close.png 16 -stroke white -strokewidth 6 -draw "line 14,14 50,50" -draw "line 50,14 14,50"

# Input box icons.
draw user.png 18 -fill none -stroke "$GREY" -strokewidth 6 \
  -draw "circle 36,24 36,10" -draw "arc 10,40 62,84 180,360" -draw "line 10,62 62,62"
draw lock.png 18 -fill none -stroke "$GREY" -strokewidth 6 \
  -draw "roundrectangle 12,30 60,64 6,6" -draw "arc 20,8 52,44 180,360" \
  -draw "line 20,26 20,32" -draw "line 52,26 52,32" -fill "$GREY" -draw "circle 36,46 36,41"

# Password eye, closed (hidden) and open (shown).
draw eye_closed.png 18 -fill none -stroke "$GREY" -strokewidth 5 \
  -draw "ellipse 36,36 30,18 0,360" -draw "circle 36,36 36,27" -draw "line 10,62 62,10"
draw eye_open.png 18 -fill none -stroke "$GREEN" -strokewidth 5 \
  -draw "ellipse 36,36 30,18 0,360" -fill "$GREEN" -draw "circle 36,36 36,26"

# Check boxes: empty and checked.
draw checkbox.png 15 -fill white -stroke '#B8C0CA' -strokewidth 4 \
  -draw "roundrectangle 3,3 56,56 8,8"
draw checkbox_p.png 15 -fill "$GREEN" -stroke "$GREEN" -strokewidth 4 \
  -draw "roundrectangle 3,3 56,56 8,8" -fill none -stroke white -strokewidth 7 \
  -draw "polyline 14,30 26,42 46,18"

# Radio options: empty and chosen.
draw radio.png 15 -fill white -stroke '#B8C0CA' -strokewidth 4 -draw "circle 30,30 30,4"
draw radio_p.png 15 -fill white -stroke "$GREEN" -strokewidth 4 -draw "circle 30,30 30,4" \
  -fill "$GREEN" -stroke none -draw "circle 30,30 30,15"

# Drop-down arrow of the remembered accounts.
draw arrow_down.png 12 -fill "$GREY" -draw "polygon 6,16 42,16 24,36"

# Small mark of the QR page tab and the QR frame's centre badge.
draw wechat.png 18 -fill "$GREEN" -draw "ellipse 28,30 22,18 0,360" \
  -draw "polygon 14,40 10,54 26,46" -fill white -draw "circle 21,27 21,23" \
  -draw "circle 35,27 35,23" -fill "$GREEN" -stroke white -strokewidth 3 \
  -draw "ellipse 46,44 16,13 0,360"
# Refresh arrow for the retry button.
draw refresh.png 16 -fill none -stroke white -strokewidth 6 -draw "arc 10,10 54,54 30,320" \
  -fill white -stroke none -draw "polygon 44,2 58,22 36,24"
# Notice mark of the agreement tip.
draw notice.png 16 -fill '#FC5531' -draw "circle 32,32 32,2" -fill white \
  -draw "roundrectangle 28,12 36,40 3,3" -draw "circle 32,49 32,44"

# The catalogue rows: progress fills (running, failed) and the demo programs' icons.
cd ../app
convert -size 8x8 xc:"$GREEN" -strip -define png:exclude-chunks=date,time PNG32:green.png
convert -size 8x8 xc:'#E5533D' -strip -define png:exclude-chunks=date,time PNG32:red.png
draw demo_ledger.png 44 -fill '#3B82F6' -draw "roundrectangle 0,0 175,175 36,36" \
  -fill white -draw "rectangle 48,44 128,132" -fill '#3B82F6' \
  -draw "rectangle 62,64 114,72" -draw "rectangle 62,84 114,92" -draw "rectangle 62,104 100,112"
# An invoice with the yuan sign (an exclamation mark here read as a warning).
draw demo_tax.png 44 -fill '#F59F00' -draw "roundrectangle 0,0 175,175 36,36" \
  -fill white -draw "roundrectangle 46,32 130,144 8,8" \
  -fill none -stroke '#F59F00' -strokewidth 9 \
  -draw "polyline 66,56 88,84 110,56" -draw "line 88,84 88,124" \
  -draw "line 70,92 106,92" -draw "line 70,108 106,108"

# The program's icon for the desktop entry of the package (same mark as logo.png).
cd ../../packaging
for size in 48 128; do
  draw "talvora-$size.png" "$size" -fill "$GREEN" -draw "roundrectangle 0,0 $((size * 4 - 1)),$((size * 4 - 1)) $((size * 4 / 5)),$((size * 4 / 5))" \
    -fill white -draw "roundrectangle $((size)),$((size * 4 * 36 / 176)) $((size * 4 * 132 / 176)),$((size * 4 * 140 / 176)) 10,10" \
    -fill "$GREEN" -draw "rectangle $((size * 4 * 60 / 176)),$((size * 4 * 58 / 176)) $((size * 4 * 116 / 176)),$((size * 4 * 66 / 176))" \
    -draw "rectangle $((size * 4 * 60 / 176)),$((size * 4 * 78 / 176)) $((size * 4 * 116 / 176)),$((size * 4 * 86 / 176))" \
    -fill none -stroke "$GREEN" -strokewidth $((size * 4 * 10 / 176)) \
    -draw "polyline $((size * 4 * 62 / 176)),$((size * 4 * 112 / 176)) $((size * 4 * 80 / 176)),$((size * 4 * 126 / 176)) $((size * 4 * 112 / 176)),$((size * 4 * 98 / 176))"
done
