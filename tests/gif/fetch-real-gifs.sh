#!/usr/bin/env bash
# Fetches GIF files that nobody here made, for the decoder's tests and fuzzer seeds: Debian's
# apache2-data (directory icons) and gdk-pixbuf-tests (a GIF test suite, with malformed files in
# its fail folder). The packages are downloaded and unpacked only (never installed) into DEST,
# once per build folder.
set -euo pipefail
dest="$1"
[[ -f "$dest/.complete" ]] && exit 0

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
packages=(apache2-data gdk-pixbuf-tests)
unreachable() {
  cat download.log >&2 || true
  echo "fetch-real-gifs: cannot download ${packages[*]} from Debian's package archive;" \
       "is it reachable from this machine? (the GIF tests that need them fail until it is)" >&2
  exit 1
}
if ! apt-get download "${packages[@]}" >download.log 2>&1; then
  # A fresh machine may have no package lists yet.
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  $sudo apt-get update -q >>download.log 2>&1 || unreachable
  apt-get download "${packages[@]}" >>download.log 2>&1 || unreachable
fi
for deb in ./*.deb; do
  dpkg-deb -x "$deb" unpacked
done

rm -rf "$dest"
mkdir -p "$dest/apache2" "$dest/gdk-pixbuf" "$dest/gdk-pixbuf-fail"
find unpacked/usr/share/apache2/icons -name '*.gif' | while read -r f; do
  cp "$f" "$dest/apache2/$(echo "${f#unpacked/usr/share/apache2/icons/}" | tr / _)"
done
root=unpacked/usr/libexec/installed-tests/gdk-pixbuf
find "$root" -name '*.gif' -not -path '*/fail/*' | while read -r f; do
  cp "$f" "$dest/gdk-pixbuf/$(echo "${f#"$root"/}" | tr / _)"
done
# The test suite's descriptions (expected frames and delays) beside its files.
for f in "$root"/test-images/gif-test-suite/*.conf; do
  cp "$f" "$dest/gdk-pixbuf/test-images_gif-test-suite_$(basename "$f")"
done
cp "$root"/test-images/fail/*.gif "$dest/gdk-pixbuf-fail/"
echo "$(find "$dest" -name '*.gif' | wc -l) GIF files in $dest"
touch "$dest/.complete"
