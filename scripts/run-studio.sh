#!/usr/bin/env bash
# Runs the built studio as ./run.sh promises (see there). usage: run-studio.sh BUILD [ARGS...]
set -euo pipefail
build=$(cd "$1" && pwd); shift
studio=$build/app/kelocam
# Read-only assets (the effect pack, the shutter sound) are found in the build folder until the
# studio is installed.
export KELOCAM_DATA_DIR="${KELOCAM_DATA_DIR:-$build}"
say() { echo "run.sh: $*" >&2; }

if [[ $# -gt 0 ]]; then
  exec "$studio" "$@"
fi
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  # Only this developer entry point falls back to the test devices; the installed program
  # tells the user to plug a camera in.
  if [[ -z "$("$build/tools/kelo-devices/kelo-devices" --video)" ]]; then
    say "no camera on this machine: the studio runs on its test devices"
    exec "$studio" --test-devices
  fi
  exec "$studio"
fi
say "no display (DISPLAY and WAYLAND_DISPLAY are unset): the studio runs without its window, on its test devices, feeding the virtual camera"
say "watch it with: $build/tools/kelocam-vcam/kelocam-vcam --y4m - | ffplay -f yuv4mpegpipe -i -"
exec "$studio" --headless --test-devices
