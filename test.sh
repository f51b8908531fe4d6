#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#   ./test.sh             normal build (build/)
#   ./test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build (build-asan/)
#   ./test.sh --tsan      ThreadSanitizer build (build-tsan/)
# Extra arguments after the mode go to ctest (for example -R Snapshot).
# KELO_BUILD_TARGETS="a b ..." builds only those targets (CI's ThreadSanitizer run builds only
# the tests it selects by label).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh

build=build
flags=()
case "${1:-}" in
  --sanitize) build=build-asan; flags=(-DKELO_SANITIZE=ON -DKELO_BUILD_BENCH=OFF); shift ;;
  --tsan) build=build-tsan; flags=(-DKELO_TSAN=ON -DKELO_BUILD_BENCH=OFF); shift ;;
esac

cmake -S . -B "$build" -G Ninja "${flags[@]}"
if [[ -n "${KELO_BUILD_TARGETS:-}" ]]; then
  read -r -a targets <<<"$KELO_BUILD_TARGETS"
  cmake --build "$build" --target "${targets[@]}"
else
  cmake --build "$build"
fi

# Sanitizer settings: leaks that GStreamer, GLib and fontconfig keep for the process's life
# are listed in tests/sanitizer/.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizer/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="suppressions=$PWD/tests/sanitizer/tsan.supp:halt_on_error=1:second_deadlock_stack=1"
export GST_REGISTRY_FORK=no

ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@"
./tests/fuzz/run-profile-fuzz.sh "$build"  # bounded fuzzing of the settings-file reader
