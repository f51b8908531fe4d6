#!/usr/bin/env bash
# Runs the most complete program the build has.
set -euo pipefail
build="$1"; shift
if [[ -x "$build/app/kelocam" ]]; then
  # Until the studio window exists, the studio runs headless on the test devices.
  if [[ $# -eq 0 ]]; then
    set -- --headless --test-devices
  fi
  exec "$build/app/kelocam" "$@"
fi
echo "The studio program is not built yet." >&2
exit 1
