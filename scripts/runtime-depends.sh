#!/usr/bin/env bash
# Prints the Debian packages the studio needs at run time beyond the libraries it links (those
# come from dpkg-shlibdeps), as one "a, b, c" line: the packages that own the GStreamer plugins
# of the given elements, the face cascade and the CJK font the window draws with. Each is looked
# up on this machine (gst-inspect-1.0, fc-match, dpkg-query), not written down by hand; anything
# not found fails the packaging with the reason.
# usage: runtime-depends.sh ELEMENT...
set -euo pipefail
fail() { echo "runtime-depends: $*" >&2; exit 1; }

command -v gst-inspect-1.0 >/dev/null || fail "gst-inspect-1.0 is missing (gstreamer1.0-tools)"
plugindir=$(pkg-config --variable=pluginsdir gstreamer-1.0) || fail "no GStreamer plugin folder"
# One listing of every element, "plugin:  element: description".
listing=$(gst-inspect-1.0)
files=()
for element in "$@"; do
  plugin=$(awk -v e="$element" '$2 == e ":" { sub(":$", "", $1); print $1; exit }' <<<"$listing")
  [[ -n "$plugin" ]] || fail "no GStreamer plugin has the element $element"
  [[ -e "$plugindir/libgst$plugin.so" ]] || fail "the plugin $plugin of $element is not $plugindir/libgst$plugin.so"
  files+=("$plugindir/libgst$plugin.so")
done
cascade=""
for dir in /usr/share/opencv4/haarcascades /usr/share/opencv/haarcascades; do
  [[ -e $dir/haarcascade_frontalface_alt2.xml ]] && { cascade=$dir/haarcascade_frontalface_alt2.xml; break; }
done
[[ -n "$cascade" ]] || fail "the face cascade is missing (opencv-data)"
font=$(fc-match -f '%{file}' ':lang=zh-cn')
[[ -n "$font" ]] || fail "no font covers Chinese"
files+=("$cascade" "$font")

mapfile -t resolved < <(printf '%s\n' "${files[@]}" | sort -u | xargs -d '\n' realpath -e)
owners=$(dpkg-query -S "${resolved[@]}") || fail "a file has no package: $(printf '%s ' "${resolved[@]}")"
# A library package (GStreamer's core elements live in libgstreamer itself) is one the programs
# link, and dpkg-shlibdeps names it with its version already.
cut -d: -f1 <<<"$owners" | grep -v '^lib' | sort -u | paste -sd, - | sed 's/,/, /g'
