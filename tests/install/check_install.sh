#!/usr/bin/env bash
# Installs the build into a staging directory and checks what a desktop needs of it: the
# files, the menu entry and metadata as their validators see them, that the installed
# program starts, and the .deb's contents and dependencies.
set -euo pipefail
build=$1
id=org.velkaro.Metronome
stage=$(mktemp -d /tmp/metronome-install.XXXXXX)
trap 'rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$stage/root" cmake --install "$build" --prefix /usr >/dev/null
root=$stage/root/usr
for size in 16 32 48 64 128 256; do
    icon=share/icons/hicolor/${size}x${size}/apps/$id.png
    got=$(identify -format '%wx%h' "$root/$icon") || fail "no /usr/$icon"
    [[ $got == "${size}x${size}" ]] || fail "the ${size}px icon is $got"
done
python3 -c 'import sys, xml.etree.ElementTree as t; t.parse(sys.argv[1])' \
    "$root/share/icons/hicolor/scalable/apps/$id.svg" || fail "the SVG icon is not well-formed"
desktop=$root/share/applications/$id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -qx "Exec=metronome" "$desktop" || fail "the menu entry does not start the installed binary"
grep -qx "Icon=$id" "$desktop" || fail "the menu entry does not name the installed icon"
appstreamcli validate --no-net "$root/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
# Still running after two seconds: it found all it needs in the installed tree.
status=0
QT_QPA_PLATFORM=offscreen timeout 2 "$root/bin/metronome" 2>/dev/null || status=$?
[[ $status == 124 ]] || fail "the installed program ended with status $status"

(cd "$stage" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$stage/deb" >/dev/null) ||
    fail "cpack -G DEB"
deb=$(ls "$stage"/deb/*.deb)
listing=$(dpkg -c "$deb")
grep -q " \./usr/bin/metronome$" <<<"$listing" || fail "the .deb does not hold the program"
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libqt6widgets6 libpulse0 libsndfile1 libsamplerate0 qt6-qpa-plugins qt6-wayland; do
    grep -q "\b$dep\b" <<<"$depends" || fail "the .deb does not depend on $dep: $depends"
done
echo "installed $(wc -l <<<"$listing") entries in $(basename "$deb"); Depends: $depends"
