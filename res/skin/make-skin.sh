#!/usr/bin/env bash
# Draws the skin of the studio with ImageMagick: background bitmaps, trackbar parts and the
# button icons, each saved as "bitmap-N.png" or "icon-N.png" by its resource number, and at twice
# the size as "bitmap-N@2x.png" or "icon-N@2x.png" for dense screens. The PNGs
# are committed; run this again only to change the artwork (needs ImageMagick 6 "convert").
set -euo pipefail
cd "$(dirname "$0")"

# png OUT ARGS...: draws OUT, and OUT's "@2x" sibling at twice the size from the same drawing
# (the canvas doubled, every primitive and stroke scaled by an affine), which Qt picks on a
# dense screen.
png() {
  local out=$1; shift
  convert "$@" -strip -define png:compression-level=9 "$out"
  local dense=() a prev="" before=""
  for a in "$@"; do
    if [[ $prev == -size ]]; then
      a="$((${a%x*} * 2))x$((${a#*x} * 2))"
    fi
    dense+=("$a")
    if [[ $before == -size ]]; then
      dense+=(-affine 2,0,0,2,0,0) # after the canvas: it scales what is drawn on it
    fi
    before=$prev
    prev=$a
  done
  convert "${dense[@]}" -strip -define png:compression-level=9 "${out%.png}@2x.png"
}

# --- backgrounds -------------------------------------------------------------------------
# 134: main window, 492 x 350. Light blue gradient with a darker title band (cut away by the
# window region) and soft panels where the preview and the effect tabs sit.
png bitmap-134.png -size 492x350 gradient:'#e8f0fa'-'#a9c2e0' \
  -fill '#5d7fae' -draw 'rectangle 0,0 491,40' \
  -fill '#7f9dc6' -draw 'rectangle 0,40 491,43' \
  -fill 'rgba(255,255,255,0.35)' -draw 'roundrectangle 8,80 346,340 10,10' \
  -fill 'rgba(255,255,255,0.30)' -draw 'roundrectangle 340,80 486,340 10,10' \
  -fill 'rgba(40,70,120,0.25)' -draw 'rectangle 0,344 491,349' \
  -depth 8 -type TrueColor

# 142: tabs, effect pages and the small dialogs, 238 x 176.
png bitmap-142.png -size 238x176 gradient:'#f3f7fc'-'#c9d9ee' \
  -fill 'rgba(255,255,255,0.45)' -draw 'roundrectangle 4,4 233,171 8,8' \
  -fill none -stroke '#8aa6cc' -strokewidth 1 -draw 'rectangle 0,0 237,175' \
  -depth 8 -type TrueColor

# --- trackbar ----------------------------------------------------------------------------
# 154: channel (stretched along the slider), 152: thumb, 153: thumb while pressed.
png bitmap-154.png -size 64x8 xc:none \
  -fill '#6f8db8' -draw 'roundrectangle 0,1 63,6 3,3' \
  -fill '#d7e3f3' -draw 'roundrectangle 1,3 62,4 1,1' -depth 8
png bitmap-152.png -size 11x18 xc:none \
  -fill '#3e64a0' -draw 'roundrectangle 0,0 10,17 3,3' \
  -fill '#9fbbe3' -draw 'roundrectangle 2,2 8,15 2,2' -depth 8
png bitmap-153.png -size 11x18 xc:none \
  -fill '#2b8a3e' -draw 'roundrectangle 0,0 10,17 3,3' \
  -fill '#a7e3b3' -draw 'roundrectangle 2,2 8,15 2,2' -depth 8

# --- icons (32 x 32, transparent) ----------------------------------------------------------
icon() { local n=$1; shift; png "icon-$n.png" -size 32x32 xc:none "$@" -depth 8; }

# 128: the application: a round camera lens on a blue body.
icon 128 -fill '#2f5d9e' -draw 'roundrectangle 2,6 29,27 5,5' \
  -fill '#e8f0fa' -draw 'circle 16,17 16,8' -fill '#1b2b45' -draw 'circle 16,17 16,11' \
  -fill '#7fb2ff' -draw 'circle 14,15 14,13' -fill '#f2c14e' -draw 'rectangle 22,3 28,6'
# 136 record: red dot in a ring.
icon 136 -fill none -stroke '#8b1a1a' -strokewidth 2 -draw 'circle 16,16 16,3' \
  -stroke none -fill '#e03131' -draw 'circle 16,16 16,8'
# 137 snapshot: a small camera.
icon 137 -fill '#344d73' -draw 'roundrectangle 3,9 28,26 3,3' -fill '#344d73' -draw 'rectangle 10,5 20,10' \
  -fill '#dbe6f5' -draw 'circle 16,17 16,11' -fill '#344d73' -draw 'circle 16,17 16,14'
# 138 full screen: four corner marks.
icon 138 -fill none -stroke '#2f5d9e' -strokewidth 3 \
  -draw 'polyline 4,12 4,4 12,4' -draw 'polyline 20,4 28,4 28,12' \
  -draw 'polyline 28,20 28,28 20,28' -draw 'polyline 12,28 4,28 4,20'
# 139 settings: a cog (circle with teeth).
icon 139 -fill '#5b6b80' -draw 'circle 16,16 16,5' \
  -draw 'rectangle 14,1 18,31' -draw 'rectangle 1,14 31,18' \
  -draw 'polygon 5,8 8,5 27,24 24,27' -draw 'polygon 24,5 27,8 8,27 5,24' \
  -fill '#e8eef7' -draw 'circle 16,16 16,11'
# 140 minimise: a bar.  141 close: a cross.
icon 140 -fill '#f4f7fb' -draw 'rectangle 7,20 25,24'
icon 141 -stroke '#f4f7fb' -strokewidth 4 -draw 'line 8,8 24,24' -draw 'line 24,8 8,24'
# 143 save: a green tick.  144 cancel: a red cross.
icon 143 -fill none -stroke '#2b8a3e' -strokewidth 5 -draw 'polyline 5,17 13,25 27,8'
icon 144 -stroke '#c92a2a' -strokewidth 5 -draw 'line 7,7 25,25' -draw 'line 25,7 7,25'
# 145 video choices: film strip.  146 audio choices: a note.
icon 145 -fill '#343a40' -draw 'rectangle 3,7 28,25' -fill '#f1f3f5' \
  -draw 'rectangle 5,9 7,11' -draw 'rectangle 5,15 7,17' -draw 'rectangle 5,21 7,23' \
  -draw 'rectangle 24,9 26,11' -draw 'rectangle 24,15 26,17' -draw 'rectangle 24,21 26,23' \
  -fill '#74c0fc' -draw 'rectangle 10,9 21,23'
icon 146 -fill '#7048e8' -draw 'ellipse 10,24 6,5 0,360' -draw 'ellipse 24,21 6,5 0,360' \
  -draw 'rectangle 14,5 16,24' -draw 'rectangle 28,3 30,21' -draw 'polygon 14,5 30,2 30,7 14,10'
# 147 folder.
icon 147 -fill '#e0a526' -draw 'roundrectangle 2,6 14,12 2,2' -draw 'roundrectangle 2,9 29,27 2,2' \
  -fill '#f7c948' -draw 'roundrectangle 2,12 29,27 2,2'
# 148 delay: a clock.
icon 148 -fill '#fff' -stroke '#2f5d9e' -strokewidth 3 -draw 'circle 16,16 16,3' \
  -stroke '#1b2b45' -strokewidth 2 -draw 'line 16,16 16,8' -draw 'line 16,16 22,19'
# 150 stop: a square.
icon 150 -fill '#c92a2a' -draw 'roundrectangle 7,7 24,24 3,3'
# 155-158 coloured lights (blue, red, purple, yellow): a bulb.  159 reset: a round arrow.
bulb() { icon "$1" -fill "$2" -draw 'circle 16,13 16,3' -fill '#868e96' -draw 'rectangle 12,23 20,29' \
  -fill 'rgba(255,255,255,0.7)' -draw 'circle 12,10 12,7'; }
bulb 155 '#339af0'
bulb 156 '#f03e3e'
bulb 157 '#9c36b5'
bulb 158 '#fcc419'
icon 159 -fill none -stroke '#2f5d9e' -strokewidth 4 -draw 'arc 5,5 27,27 300,210' \
  -stroke none -fill '#2f5d9e' -draw 'polygon 20,2 29,9 19,12'
