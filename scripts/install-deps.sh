#!/usr/bin/env bash
# Installs every Debian package of scripts/packages.txt that is missing (through sudo when not
# root). Quiet when everything is there; one dpkg-query for the whole list, so that ./run.sh
# starts quickly on a machine that has everything.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
mapfile -t wanted < <(grep -v '^[[:space:]]*\(#\|$\)' "$here/packages.txt" | awk '{print $1}')
# Packages dpkg does not know at all are simply not in the output.
installed=$(dpkg-query -W -f='${Package} ${Status}\n' "${wanted[@]}" 2>/dev/null |
  awk '$NF == "installed" && $(NF-1) == "ok" { print $1 }' || true)
missing=()
for pkg in "${wanted[@]}"; do
  grep -qx -- "$pkg" <<<"$installed" || missing+=("$pkg")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
