#!/usr/bin/env bash
# Builds the private-profile fuzz target with clang (libFuzzer + AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs it for a bounded number of inputs, so that every test run
# tries a few thousand new files. Usage:
#   tests/fuzz/run-profile-fuzz.sh [build folder] [libFuzzer arguments...]
# Default build folder: build/. Default run: -runs=20000. A crash leaves its input in the
# build folder (fuzz/crash-*) and fails the script.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-build}"
[[ $# -gt 0 ]] && shift
[[ "$build" == /* ]] || build="$root/$build"
out="$build/fuzz"
bin="$out/profile_fuzz"
sources=("$root/tests/fuzz/ProfileFuzz.cpp" "$root/platform/system/ProfileText.cpp")
mkdir -p "$out"

stale=0
[[ -x "$bin" ]] || stale=1
for f in "${sources[@]}" "$root/platform/system/ProfileText.h" "$0"; do
  [[ "$f" -nt "$bin" ]] && stale=1
done
if [[ $stale -eq 1 ]]; then
  clang++ -std=c++20 -O1 -g -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I "$root" "${sources[@]}" -o "$bin"
fi

corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
args=("$@")
[[ ${#args[@]} -gt 0 ]] || args=(-runs=20000)
cd "$out"
log="$out/profile_fuzz.log"
# New inputs go to a throw-away folder; the seeds in the source tree stay as they are.
if ! "$bin" -max_len=4096 -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
    -dict="$root/tests/fuzz/profile.dict" "${args[@]}" \
    "$corpus" "$root/tests/fuzz/corpus/profile" >"$log" 2>&1; then
  cat "$log"
  echo "profile fuzz: FAILED (input saved as $out/crash-*)" >&2
  exit 1
fi
echo "profile fuzz: $(grep -E '^Done [0-9]+ runs' "$log" || echo 'done')"
