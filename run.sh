#!/usr/bin/env bash
# Installs what is missing, builds what the studio needs, and runs it: the window when there is
# a display (on the test devices when the machine has no camera at all), else the studio without
# its window on the test devices, feeding the virtual camera. Arguments go to kelocam unchanged
# (and then run.sh chooses nothing): ./run.sh --help, ./run.sh --headless --face-cover, ...
set -euo pipefail
# The studio works in the folder run.sh was started from (its data.ini is there), as the
# installed program does when started from a terminal.
caller=$PWD
cd "$(dirname "$0")"
repo=$PWD
./scripts/install-deps.sh
# Configured once; later builds re-run CMake by themselves when a CMakeLists.txt changes.
[[ -f build/build.ninja ]] || cmake -S . -B build -G Ninja
# ninja itself rather than through cmake --build: a build with nothing to do answers sooner.
ninja -C build --quiet kelocam kelocam-vcam kelo-devices effect_pack shutter_sound
cd "$caller"
exec "$repo/scripts/run-studio.sh" "$repo/build" "$@"
