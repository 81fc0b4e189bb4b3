#!/usr/bin/env bash
# Renders the program icon (a white map pin over a handset-blue tile) at
# 48, 32, 24 and 16 pixels, 32 bits per pixel, into ui/resources/Varnolt.ico.
set -euo pipefail
cd "$(dirname "$0")/.."
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Drawn once at 256 pixels and scaled down, so every size has the same shape.
convert -size 256x256 xc:none \
    \( -size 256x256 gradient:'#42A5F5'-'#0D47A1' \
       \( -size 256x256 xc:none -fill white -draw 'roundrectangle 8,8 247,247 52,52' \) \
       -compose DstIn -composite \) -compose Over -composite \
    -fill white -draw 'circle 128,100 128,40' \
    -fill white -draw 'polygon 76,126 180,126 128,218' \
    -fill '#1565C0' -draw 'circle 128,100 128,74' \
    "$work/icon-256.png"

for size in 48 32 24 16; do
    convert "$work/icon-256.png" -filter Lanczos -resize "${size}x${size}" \
        -define png:color-type=6 "PNG32:$work/icon-$size.png"
done
convert "$work/icon-48.png" "$work/icon-32.png" "$work/icon-24.png" "$work/icon-16.png" \
    -define icon:format=bmp ui/resources/Varnolt.ico
identify ui/resources/Varnolt.ico
