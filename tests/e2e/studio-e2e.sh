#!/usr/bin/env bash
# The studio driven as a person drives it: the real program under Xvfb on the test devices, in a
# fresh working folder whose data.ini names the photo and recording folders, clicked and typed
# at with xdotool. Checks what lands on disk, in data.ini and in the virtual camera's feed, and
# saves a screenshot of each step into ARTEFACTS.
# usage: studio-e2e.sh BUILD ARTEFACTS
set -euo pipefail
build=$(cd "$1" && pwd)
out=$2
mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out"/*.png

fail() {
  echo "FAIL: $*" >&2
  [[ -n ${display:-} ]] && shot "failure" || true
  [[ -f ${work:-/nonexistent}/studio.log ]] && { echo "--- studio log" >&2; cat "$work/studio.log" >&2; }
  exit 1
}
for tool in Xvfb xdotool import ffprobe od awk; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/packages.txt)"
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kelo-e2e.XXXXXX")
feed=/kelo-e2e-$$
xvfb_pid="" studio_pid=""
cleanup() {
  [[ -n $studio_pid ]] && kill -KILL "$studio_pid" 2>/dev/null || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -f "/dev/shm$feed"
  rm -rf "$tmp"
}
trap cleanup EXIT

# Waits up to SECONDS (generous: the machine may be loaded) for a command to succeed.
wait_for() {
  local seconds=$1 what=$2; shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    ((SECONDS < deadline)) || fail "no $what within ${seconds}s"
    [[ -z $studio_pid ]] || kill -0 "$studio_pid" 2>/dev/null || fail "the studio ended while waiting for $what"
    sleep 0.2
  done
}
step=0
shot() {
  step=$((step + 1))
  import -display ":$display" -window root "$(printf '%s/%02d-%s.png' "$out" "$step" "$1")"
}

# --- an X server of our own, on a display number it picks itself -----------------------
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb_pid=$!
wait_for 30 "X display" test -s "$tmp/display"
display=$(head -n1 "$tmp/display")
export DISPLAY=:$display

# --- the working folder, the feed, the studio -------------------------------------------
work=$tmp/work
mkdir -p "$work/photos" "$work/videos"
printf '[PATCH]\nPIC=%s\nREC=%s\n' "$work/photos" "$work/videos" >"$work/data.ini"
# The virtual camera's block, as kelocam-vcam makes it: 320 x 240 x 3 bytes of zeros.
# The bridge makes the block private to its user; the studio refuses any other.
(umask 077 && truncate -s 230400 "/dev/shm$feed")

(cd "$work" && exec env KELOCAM_FEED_NAME="$feed" KELOCAM_DATA_DIR="$build" KELOCAM_LANG=zh \
   QT_LOGGING_RULES="kelo.window.info=true" "$build/app/kelocam" --test-devices) \
  >"$work/studio.log" 2>&1 &
studio_pid=$!
wait_for 60 "first painted frame" grep -q "first frame painted" "$work/studio.log"
window=$(xdotool search --onlyvisible --pid "$studio_pid" | head -n1)
[[ -n $window ]] || fail "no window of the studio"
eval "$(xdotool getwindowgeometry --shell "$window")" # X Y WIDTH HEIGHT
echo "window $window at $X,$Y, $WIDTH x $HEIGHT"
shot started

# Clicks at a control's centre. In dialog units of the window's template (1.5 pixels a unit):
# click DU_X DU_Y DU_W DU_H. In pixels from the window's corner: click_px X Y.
click_px() { xdotool mousemove --sync $((X + $1)) $((Y + $2)) sleep 0.3 click 1; }
click() {
  click_px "$(awk -v a="$1" -v w="$3" 'BEGIN { printf "%d", (a + w / 2) * 1.5 }')" \
           "$(awk -v a="$2" -v h="$4" 'BEGIN { printf "%d", (a + h / 2) * 1.5 }')"
}
# The effect tabs' headers are as wide as their texts: the light tab (the third) is found where
# the window's font puts it, and its page's corner inside the tab control.
LIGHT_TAB_PX=(468 101)
PAGE_PX=(353 118)
# The mean byte of the feed: the studio's processed picture, whatever its content.
feed_mean() { od -An -v -tu1 -w4096 "/dev/shm$feed" | awk '{ for (i = 1; i <= NF; i++) s += $i; n += NF } END { printf "%.2f\n", s / n }'; }
feed_is_zero() { cmp -s -n 230400 "/dev/shm$feed" /dev/zero; }

wait_for 30 "picture in the feed" bash -c "! cmp -s -n 230400 /dev/shm$feed /dev/zero"
shot preview

# --- F4: one photo -------------------------------------------------------------------------
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key F4
one_jpeg() { compgen -G "$work/photos/*.jpg" >/dev/null; }
wait_for 30 "photo after F4" one_jpeg
photo=$(compgen -G "$work/photos/*.jpg" | head -n1)
[[ $(compgen -G "$work/photos/*.jpg" | wc -l) == 1 ]] || fail "F4 wrote more than one photo"
[[ $(od -An -tx1 -N3 "$photo" | tr -d ' ') == ffd8ff ]] || fail "$photo is not a JPEG file"
echo "photo: $photo"
shot photo
# F4 also reaches the focused device list, which opens its drop-down as a combo box does on
# that key; a person closes it with Escape before going on.
only_main_window() { [[ $(xdotool search --onlyvisible --pid "$studio_pid" | wc -l) == 1 ]]; }
if ! only_main_window; then
  xdotool key Escape
  wait_for 10 "the drop-down to close" only_main_window
fi

# --- record: WMV with sound (the format dialog's choice when it opens), three seconds -------
click 95 227 43 25 # 录制
dialog_open() { [[ $(xdotool search --onlyvisible --pid "$studio_pid" | wc -l) -ge 2 ]]; }
wait_for 30 "record format dialog" dialog_open
shot format-dialog
# Without a window manager the keyboard goes where focus is put.
xdotool windowfocus --sync "$(xdotool search --onlyvisible --pid "$studio_pid" | grep -vx "$window" | head -n1)"
xdotool key Return
recording_file() { compgen -G "$work/videos/*.WMV" >/dev/null; }
wait_for 30 "recording file" recording_file
sleep 3
shot recording
click 95 227 43 25 # 停止, in the same place
# The recording is complete when the file no longer grows and reads with both streams.
settled() {
  local a b
  a=$(stat -c %s "$recording")
  sleep 1
  b=$(stat -c %s "$recording")
  [[ $a == "$b" && $a -gt 0 ]]
}
recording=$(compgen -G "$work/videos/*.WMV" | head -n1)
both_streams() {
  settled && [[ $(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$recording" | sort | paste -sd' ') == "audio video" ]]
}
wait_for 60 "a finished recording with sound and picture" both_streams
[[ $(compgen -G "$work/videos/*" | wc -l) == 1 ]] || fail "more than one recording: $(ls "$work/videos")"
streams=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$recording" | sort | paste -sd' ')
[[ $streams == "audio video" ]] || fail "the recording has the streams '$streams', not audio and video"
echo "recording: $recording ($streams)"
shot stopped

# --- the light tab and its fourth effect -----------------------------------------------------
# The feed's brightest mean over two seconds without an effect.
baseline=0
for _ in $(seq 10); do
  baseline=$(awk -v m="$(feed_mean)" -v b="$baseline" 'BEGIN { print (m > b) ? m : b }')
  sleep 0.2
done
click_px "${LIGHT_TAB_PX[@]}" # 灯光
shot light-tab
# The fourth button of the light page (template 161: 103, 6, 24 x 21).
click_px $((PAGE_PX[0] + (103 + 12) * 3 / 2)) $((PAGE_PX[1] + (6 + 10) * 3 / 2))
ini_has() { grep -qx "Effect=Led" "$work/data.ini" && grep -qx "Index=4" "$work/data.ini"; }
wait_for 30 "Effect=Led and Index=4 in data.ini" ini_has
# Lights are laid over the picture with the screen blend, which only ever brightens: the moving
# test pattern's mean hardly changes from frame to frame, so a clearly brighter feed is the
# overlay.
brighter() {
  local mean
  mean=$(feed_mean)
  awk -v m="$mean" -v b="$baseline" 'BEGIN { exit !(m > b + 0.8) }'
}
wait_for 30 "overlay in the feed (mean above $baseline)" brighter
echo "feed mean: at most $baseline without the effect, then above $baseline + 0.8 with it"
shot light-effect
# The studio alone, for the docs: its rectangle of the screen, less what its region cuts away.
import -display ":$display" -window root -crop "${WIDTH}x$HEIGHT+$X+$Y" +repage -trim +repage "$out/window.png"

# --- the close button: exit status 0, the feed black -----------------------------------------
click 391 4 17 10 # 关闭
status=0
for _ in $(seq 300); do kill -0 "$studio_pid" 2>/dev/null || break; sleep 0.2; done
kill -0 "$studio_pid" 2>/dev/null && fail "the studio did not end after its close button"
wait "$studio_pid" || status=$?
studio_pid=""
[[ $status == 0 ]] || fail "the studio ended with status $status"
feed_is_zero || fail "the feed is not all zeros after the studio closed"
shot closed
echo "ok: the studio end to end; screenshots in $out"
