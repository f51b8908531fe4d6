#!/usr/bin/env bash
# Installs every Debian package of scripts/packages.txt that is missing (through sudo when not
# root), then fetches the models (background blur, face cover) into their cache folder
# (scripts/fetch-model.sh). Quiet when everything is there; one dpkg-query for the whole list,
# so that ./run.sh starts quickly on a machine that has everything.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

install_packages() {
  # Nothing to do when neither the list nor the installed packages changed since the last check
  # that found everything (dpkg rewrites its status file on every install and removal).
  local stamp="$here/../build/.packages-checked"
  if [[ -f $stamp && $stamp -nt "$here/packages.txt" && $stamp -nt /var/lib/dpkg/status ]]; then
    return 0
  fi
  local wanted
  mapfile -t wanted < <(grep -v '^[[:space:]]*\(#\|$\)' "$here/packages.txt" | awk '{print $1}')
  # Packages dpkg does not know at all are simply not in the output.
  local -A installed=()
  local pkg ok state _
  while read -r pkg _ ok state; do
    [[ $ok == ok && $state == installed ]] && installed[$pkg]=1
  done < <(dpkg-query -W -f='${Package} ${Status}\n' "${wanted[@]}" 2>/dev/null || true)
  local missing=()
  for pkg in "${wanted[@]}"; do
    [[ -n ${installed[$pkg]:-} ]] || missing+=("$pkg")
  done
  if [[ ${#missing[@]} -eq 0 ]]; then
    [[ -d $here/../build ]] && touch "$stamp"
    return 0
  fi
  local sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

install_packages
"$here/fetch-model.sh" >/dev/null
