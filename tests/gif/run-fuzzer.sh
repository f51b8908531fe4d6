#!/usr/bin/env bash
# run-fuzzer.sh FUZZER RUNS SEED_DIR...: runs the fuzzer for a bounded number of runs from the
# seeds, with new inputs kept in a temporary folder that is removed afterwards.
set -euo pipefail
fuzzer="$1"; runs="$2"; shift 2
corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
for seeds in "$@"; do
  [[ -d "$seeds" ]] || { echo "missing corpus folder $seeds" >&2; exit 1; }
done
exec "$fuzzer" -runs="$runs" -max_len=8192 -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
  "$corpus" "$@"
