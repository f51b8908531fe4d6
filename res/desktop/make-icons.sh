#!/usr/bin/env bash
# Draws the application icon for the desktop (the artwork of icon 128 in res/skin: a round camera
# lens on a blue body, with a yellow flash) as a scalable SVG and as PNGs of the hicolor sizes.
# One table of shapes, in the 32 x 32 units of icon 128, makes both. The files are committed; run
# this again only to change the artwork (needs ImageMagick 6 "convert").
set -euo pipefail
cd "$(dirname "$0")"
id=org.kelocam.Studio
sizes=(16 24 32 48 64 128 256)

# kind colour geometry: rect X Y W H R (R: corner radius), circle CX CY R. Painted in order.
shapes=(
  "rect #2f5d9e 2 6 28 22 5"
  "circle #e8f0fa 16.5 17.5 9"
  "circle #1b2b45 16.5 17.5 6"
  "circle #7fb2ff 14.5 15.5 2"
  "rect #f2c14e 22 3 7 4 0"
)

{
  echo '<?xml version="1.0" encoding="UTF-8"?>'
  echo '<svg xmlns="http://www.w3.org/2000/svg" width="128" height="128" viewBox="0 0 32 32">'
  for s in "${shapes[@]}"; do
    read -r kind colour a b c d e <<<"$s"
    if [[ $kind == rect ]]; then
      rx=""
      [[ $e == 0 ]] || rx=" rx=\"$e\""
      echo "  <rect x=\"$a\" y=\"$b\" width=\"$c\" height=\"$d\"$rx fill=\"$colour\"/>"
    else
      echo "  <circle cx=\"$a\" cy=\"$b\" r=\"$c\" fill=\"$colour\"/>"
    fi
  done
  echo '</svg>'
} >"$id.svg"

# Each PNG is painted 8 times larger and scaled down, which gives smooth edges at every size.
for size in "${sizes[@]}"; do
  big=$((size * 8))
  draws=()
  for s in "${shapes[@]}"; do
    read -r kind colour a b c d e <<<"$s"
    px() { awk -v v="$1" -v k="$big" 'BEGIN { printf "%.2f", v * k / 32 }'; }
    if [[ $kind == rect ]]; then
      x1=$(awk -v x="$a" -v w="$c" 'BEGIN { print x + w }')
      y1=$(awk -v y="$b" -v h="$d" 'BEGIN { print y + h }')
      corners=""
      [[ $e == 0 ]] || corners=" $(px "$e"),$(px "$e")"
      draws+=(-fill "$colour" -draw "${corners:+round}rectangle $(px "$a"),$(px "$b") $(px "$x1"),$(px "$y1")$corners")
    else
      edge=$(awk -v x="$a" -v r="$c" 'BEGIN { print x + r }')
      draws+=(-fill "$colour" -draw "circle $(px "$a"),$(px "$b") $(px "$edge"),$(px "$b")")
    fi
  done
  convert -size "${big}x${big}" xc:none "${draws[@]}" -resize "${size}x${size}" \
    -strip -depth 8 -define png:compression-level=9 "icon-${size}.png"
done
