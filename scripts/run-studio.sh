#!/usr/bin/env bash
# Runs the most complete program the build has: the studio when it is built, else the headless
# pipeline demo (test pattern through the three effect filters into the virtual camera feed).
set -euo pipefail
build="$1"; shift
# Read-only assets (the effect pack) are found in the build folder until the studio is installed.
export KELOCAM_DATA_DIR="${KELOCAM_DATA_DIR:-$(cd "$build" && pwd)}"
if [[ -x "$build/app/kelocam" ]]; then
  # Until the studio window exists, the studio runs headless on the test devices.
  if [[ $# -eq 0 ]]; then
    set -- --headless --test-devices
  fi
  exec "$build/app/kelocam" "$@"
fi
if [[ -x "$build/tools/pipeline-demo/kelo-pipeline-demo" ]]; then
  echo "The studio window is not built yet; running the headless pipeline demo." >&2
  exec "$build/tools/pipeline-demo/kelo-pipeline-demo" "$@"
fi
echo "The studio program is not built yet." >&2
exit 1
