#!/usr/bin/env bash
# Installs what is missing, builds, and runs the studio.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build -G Ninja
cmake --build build
exec ./scripts/run-studio.sh build "$@"
