#!/usr/bin/env bash
# How long `./run.sh` takes, on a machine that has built once (nothing to rebuild), from the
# command to the first preview frame painted in the studio window: the median of RUNS starts
# under an X server of its own (the studio's "first frame painted at N ms" line, on the same
# monotonic clock). Target: under 3 s.
# usage: bench/run/run-to-first-frame.sh [RUNS]   (needs Xvfb and python3)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
runs=${1:-5}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/kelo-run-bench.XXXXXX")
xvfb_pid="" studio_pid=""
cleanup() {
  [[ -n $studio_pid ]] && kill -KILL "$studio_pid" 2>/dev/null || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
now_ms() { python3 -c 'import time; print(int(time.monotonic() * 1000))'; }

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 150); do [[ -s $tmp/display ]] && break; sleep 0.2; done
export DISPLAY=:$(head -n1 "$tmp/display")
export QT_LOGGING_RULES="kelo.window.info=true" KELOCAM_FEED_NAME=/kelo-run-bench-$$

# One start first, untimed: it builds whatever is missing.
"$repo/run.sh" --version >/dev/null
# measure LABEL COMMAND...: RUNS starts of the command from a fresh folder; prints the median.
measure() {
  local label=$1; shift
  local times=() run log start painted
  for run in $(seq "$runs"); do
    log=$tmp/run-$run.log
    start=$(now_ms)
    (cd "$tmp" && exec "$@") >"$log" 2>&1 &
    studio_pid=$! # run.sh execs the studio: the same process
    painted=""
    for _ in $(seq 600); do
      painted=$(sed -n 's/.*first frame painted at \([0-9]*\) ms.*/\1/p' "$log")
      [[ -n $painted ]] && break
      kill -0 "$studio_pid" 2>/dev/null || break
      sleep 0.1
    done
    [[ -n $painted ]] || { cat "$log" >&2; echo "$label, run $run: no frame painted" >&2; exit 1; }
    times+=($((painted - start)))
    kill -TERM "$studio_pid"
    wait "$studio_pid" || true
    studio_pid=""
  done
  median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }')
  echo "$label: median $median ms (runs: ${times[*]})"
}
measure "./run.sh to the first painted frame (target 3000 ms)" "$repo/run.sh"
run_sh=$median
# The same studio started directly: what run.sh itself adds is the difference.
KELOCAM_DATA_DIR=$repo/build measure "kelocam --test-devices, started directly" "$repo/build/app/kelocam" --test-devices
echo "run.sh adds $((run_sh - median)) ms (package check, build check, camera check); load average: $(cut -d' ' -f1 /proc/loadavg)"
