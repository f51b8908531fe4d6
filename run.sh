#!/usr/bin/env bash
# Installs what is missing, builds what the studio needs, and runs it: the window when there is
# a display (on the test devices when the machine has no camera at all), else the studio without
# its window on the test devices, feeding the virtual camera. Arguments go to kelocam unchanged
# (and then run.sh chooses nothing): ./run.sh --help, ./run.sh --headless --face-cover, ...
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
# Configured once; later builds re-run CMake by themselves when a CMakeLists.txt changes.
[[ -f build/build.ninja ]] || cmake -S . -B build -G Ninja
cmake --build build --target kelocam kelocam-vcam kelo-devices effect_pack
exec ./scripts/run-studio.sh build "$@"
