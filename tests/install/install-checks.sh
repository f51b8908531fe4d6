#!/usr/bin/env bash
# Checks of the studio as it is installed and packaged, run by CTest:
#   install-checks.sh layout  BUILD   cmake --install into a fresh prefix; the tree; a run from it
#   install-checks.sh package BUILD   cpack -G DEB; the package's fields, unpacked tree and a run
#   install-checks.sh desktop SOURCE VERSION   desktop-file-validate, appstreamcli, the icons
# Every check fails loudly, with what was found; a missing tool is a failure, not a skip.
set -euo pipefail
mode=$1; shift
fail() { echo "FAIL: $*" >&2; exit 1; }
need() { for t in "$@"; do command -v "$t" >/dev/null || fail "$t is missing (scripts/packages.txt)"; done; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kelo-install.XXXXXX")
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT

# The installed tree under PREFIX: the programs, the effect pack, the desktop files; every file
# readable by all (0644, programs 0755), folders 0755.
check_tree() {
  local prefix=$1
  for prog in kelocam kelocam-vcam; do
    [[ -x $prefix/bin/$prog ]] || fail "$prefix/bin/$prog is missing or not executable"
    [[ $(stat -c %a "$prefix/bin/$prog") == 755 ]] || fail "$prefix/bin/$prog has mode $(stat -c %a "$prefix/bin/$prog")"
  done
  local data=$prefix/share/kelocam
  local gifs thumbs
  gifs=$(find "$data/Effect" -name '*.gif' -not -path '*/thumbs/*' | wc -l)
  thumbs=$(find "$data/Effect" -path '*/thumbs/*.png' | wc -l)
  [[ $gifs == 48 && $thumbs == 96 ]] || fail "$data/Effect holds $gifs effects and $thumbs thumbnails, not 48 and 96 (plain and @2x)"
  [[ -f "$data/Effect/light/004七色烟花.gif" ]] || fail "the effect files lost their names"
  [[ ! -e $data/Effect/.generated ]] || fail "the build's stamp was installed"
  [[ -s $data/snapshot.wav ]] || fail "$data/snapshot.wav is missing"
  [[ -s $data/translations/kelocam_en.qm ]] || fail "$data/translations/kelocam_en.qm is missing"
  local id=org.kelocam.Studio
  for f in applications/$id.desktop metainfo/$id.metainfo.xml icons/hicolor/scalable/apps/$id.svg \
           icons/hicolor/{16x16,24x24,32x32,48x48,64x64,128x128,256x256}/apps/$id.png; do
    [[ -f $prefix/share/$f ]] || fail "$prefix/share/$f is missing"
  done
  local bad
  bad=$(find "$prefix/share" -type f ! -perm 0644 -printf '%m %p\n' | head -5)
  [[ -z $bad ]] || fail "installed files not 0644: $bad"
  bad=$(find "$prefix/share" -type d ! -perm 0755 -printf '%m %p\n' | grep -v " $prefix/share\$" | head -5 || true)
  [[ -z $bad ]] || fail "installed folders not 0755: $bad"
}

# Runs PREFIX/bin/kelocam headless on the test devices from a fresh folder, with data.ini asking
# for a light effect: the effect must come from PREFIX's data folder (found from the program's
# own place, nothing in the environment points there), it runs two seconds and stops cleanly.
run_relocated() {
  local prefix=$1 data work err status
  data=$(cd "$prefix/share/kelocam" && pwd -P)
  work=$tmp/run; mkdir -p "$work"; err=$work.stderr
  printf '[Effect]\nEffect=Led\nIndex=4\n' >"$work/data.ini"
  (cd "$work" && exec env -u KELOCAM_DATA_DIR KELOCAM_FEED_NAME=/kelo-install-check-$$ \
     "$prefix/bin/kelocam" --headless --test-devices) 2>"$err" &
  local pid=$!; pids+=("$pid")
  for _ in $(seq 600); do
    grep -q 'preview running' "$err" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -q 'preview running' "$err" || { cat "$err" >&2; fail "the installed studio did not start its preview"; }
  sleep 2
  kill -INT "$pid"
  status=0; wait "$pid" || status=$?
  cat "$err"
  [[ $status == 0 ]] || fail "the installed studio ended with status $status"
  grep -q "overlay .* playing ($data/Effect/light/" "$err" || fail "the effect did not come from $data"
  ! grep -q 'not found (looked in' "$err" || fail "the installed studio misses an asset"
}

case $mode in
layout)
  need cmake
  build=$1
  mkdir -p "$tmp/home"
  HOME=$tmp/home cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
  [[ -z $(ls -A "$tmp/home") ]] || fail "the install wrote into the home folder: $(ls -A "$tmp/home")"
  check_tree "$tmp/prefix"
  # Relocatable: the prefix is moved after the install.
  mv "$tmp/prefix" "$tmp/moved"
  run_relocated "$tmp/moved"
  ;;
package)
  need cpack dpkg-deb dpkg-shlibdeps file fc-match gst-inspect-1.0
  build=$1
  mkdir -p "$tmp/home"
  # The GStreamer registry that gst-inspect-1.0 keeps is a cache, not something the package
  # writes: it goes to a cache folder of its own.
  HOME=$tmp/home XDG_CACHE_HOME=$tmp/cache cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >"$tmp/cpack.log" ||
    { cat "$tmp/cpack.log" >&2; fail "cpack could not make the package"; }
  [[ -z $(ls -A "$tmp/home") ]] || fail "making the package wrote into the home folder: $(ls -A "$tmp/home")"
  deb=$(ls "$tmp"/pkg/kelocam_*.deb)
  echo "package: $(basename "$deb")"
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  # Linked libraries (from dpkg-shlibdeps) and what is loaded at run time (computed from the
  # elements the studio creates and the files it opens).
  for p in libqt6widgets6 libopencv-objdetect libjpeg62-turbo libgstreamer1.0-0 gstreamer1.0-plugins-base \
           gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav opencv-data \
           fonts-wqy-microhei; do
    [[ $depends == *"$p"* ]] || fail "Depends lacks $p"
  done
  outside=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/' | grep -v '^\./$' || true)
  [[ -z $outside ]] || fail "the package installs outside /usr: $outside"
  dpkg-deb -x "$deb" "$tmp/root"
  check_tree "$tmp/root/usr"
  cd "$tmp"
  version=$("$tmp/root/usr/bin/kelocam" --version) || fail "kelocam --version failed"
  [[ $version == "kelocam $(dpkg-deb -f "$deb" Version)" ]] || fail "--version says '$version'"
  "$tmp/root/usr/bin/kelocam" --help >"$tmp/help.txt" || fail "kelocam --help failed"
  grep -q -- '--headless' "$tmp/help.txt" || fail "--help does not document --headless"
  run_relocated "$tmp/root/usr"
  ;;
desktop)
  need desktop-file-validate appstreamcli identify
  src=$1 version=$2 dir=$1/res/desktop id=org.kelocam.Studio
  desktop-file-validate "$dir/$id.desktop" || fail "desktop-file-validate"
  appstreamcli validate --no-net "$dir/$id.metainfo.xml" || fail "appstreamcli validate"
  release=$(grep -o '<release version="[^"]*"' "$dir/$id.metainfo.xml" | head -n1 | cut -d'"' -f2)
  [[ $release == "$version" ]] || fail "the newest release in the metainfo is $release, the project is $version"
  grep -qx "Icon=$id" "$dir/$id.desktop" || fail "the desktop entry names another icon"
  grep -qx "Exec=kelocam --from-desktop" "$dir/$id.desktop" || fail "the desktop entry does not start the studio in its own folder"
  for size in 16 24 32 48 64 128 256; do
    got=$(identify -format '%wx%h %[channels]' "$dir/icon-$size.png")
    [[ $got == "${size}x$size srgba" ]] || fail "icon-$size.png is $got"
  done
  ;;
*) fail "unknown mode $mode" ;;
esac
echo "ok: $mode"
