#!/usr/bin/env bash
# Fetches the person segmentation model of the background blur into the cache folder (outside
# git) and checks its SHA-256 against res/models/. Quiet when the cached file is already right.
# Only the model file is taken from the npm package; nothing of it runs.
#   cache folder: $KELOCAM_CACHE_DIR, else ${XDG_CACHE_HOME:-~/.cache}/kelocam
# Prints the model's path on success; fails loudly (status 1) when it cannot be fetched.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
package="@mediapipe/selfie_segmentation@0.1.1675465747"
model="selfie_segmentation_landscape.tflite"
sums="$here/../res/models/$model.sha256"
cache="${KELOCAM_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/kelocam}"
target="$cache/$model"

sum_ok() { (cd "$(dirname "$1")" && sha256sum --status -c "$sums"); }

if [[ -f "$target" ]] && sum_ok "$target"; then
  echo "$target"
  exit 0
fi

if ! command -v npm >/dev/null; then
  # Debian's npm only where no npm exists (a Node.js build of its own brings one that Debian's
  # package conflicts with).
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  echo "Installing: npm" >&2
  $sudo apt-get update -q >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends npm >&2
fi

mkdir -p "$cache"
work="$(mktemp -d "$cache/fetch.XXXXXX")"
trap 'rm -rf "$work"' EXIT
echo "Fetching $model from the npm package $package" >&2
if ! (cd "$work" && npm pack --silent --fetch-retries=1 "$package" >pack.out 2>pack.err); then
  cat "$work/pack.err" >&2
  echo "error: could not fetch $package from the npm registry (is it reachable?)" >&2
  exit 1
fi
tarball="$(ls "$work"/*.tgz 2>/dev/null | head -n 1)"
if [[ -z "$tarball" ]] || ! tar -xzf "$tarball" -C "$work" "package/$model"; then
  echo "error: $package holds no $model" >&2
  exit 1
fi
if ! sum_ok "$work/package/$model"; then
  echo "error: $model from $package does not have the SHA-256 of $sums" >&2
  sha256sum "$work/package/$model" >&2
  exit 1
fi
chmod 0644 "$work/package/$model"
mv -f "$work/package/$model" "$target"
echo "$target"
