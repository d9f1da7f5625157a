#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a staging directory and checks what a desktop needs of it: the
# files, the menu entry and metadata as their validators see them, that the installed
# program starts; and the .deb as a clean machine meets it: lintian's verdict, its copyright,
# and Depends that hold every library the program loads.
set -euo pipefail
build=$1
id=org.velkaro.Metronome
stage=$(mktemp -d /tmp/metronome-install.XXXXXX)
trap 'rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$stage/root" cmake --install "$build" --prefix /usr >/dev/null
root=$stage/root/usr
for s in 16 32 48 64 128 256; do
    [[ $(identify -format %wx%h "$root/share/icons/hicolor/${s}x$s/apps/$id.png") == "${s}x$s" ]] ||
        fail "no ${s}px icon of that size"
done
python3 -c 'import sys, xml.etree.ElementTree as t; t.parse(sys.argv[1])' \
    "$root/share/icons/hicolor/scalable/apps/$id.svg" || fail "the SVG icon is not well-formed"
desktop=$root/share/applications/$id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -qx "Exec=metronome" "$desktop" || fail "the menu entry does not start the installed binary"
grep -qx "Icon=$id" "$desktop" || fail "the menu entry does not name the installed icon"
# The project has no public address yet: AppStream 1.0 warns that the homepage is missing
# (0.16 does not look). That warning, by name, and no other passes, until there is an address.
validation=$(appstreamcli validate --no-net "$root/share/metainfo/$id.metainfo.xml" 2>&1) || {
    echo "$validation"
    ! grep -E "^[EW]: " <<<"$validation" | grep -vq ": url-homepage-missing$" &&
        grep -q "^W: .*: url-homepage-missing$" <<<"$validation" || fail "appstreamcli validate"
}
# Still running after two seconds: it found all it needs in the installed tree.
status=0
QT_QPA_PLATFORM=offscreen timeout 2 "$root/bin/metronome" 2>/dev/null || status=$?
[[ $status == 124 ]] || fail "the installed program ended with status $status"

(cd "$stage" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$stage/deb" >/dev/null) ||
    fail "cpack -G DEB"
deb=$(ls "$stage"/deb/*.deb)
listing=$(dpkg -c "$deb")
grep -q " \./usr/bin/metronome$" <<<"$listing" || fail "the .deb does not hold the program"
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/metronome/copyright | head -1 |
    grep -q "^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ||
    fail "no machine-readable copyright file"
lintian --fail-on error,warning "$deb" 2>/dev/null || fail "lintian"

# Every library the program needs, by the package that holds it here, named in Depends:
# what a clean machine installs with it. Also the plugins Qt loads without linking them.
depends=$(dpkg-deb -f "$deb" Depends)
needed=$(objdump -p "$root/bin/metronome" | awk '$1 == "NEEDED" {print $2}')
[[ -n $needed ]] || fail "objdump found no libraries"
while read -r path; do
    # ldd may say /lib where dpkg knows /usr/lib, or the other way round.
    pkg=$({ dpkg -S "$path" "/usr$path" "${path#/usr}" 2>/dev/null || true; } | head -1)
    [[ -n $pkg ]] || fail "no package holds $path"
    pkg=${pkg%%:*}
    grep -q "\b$pkg\b" <<<"$depends" || fail "$path: Depends lacks $pkg: $depends"
done < <(ldd "$root/bin/metronome" | awk -v needed=" $(tr '\n' ' ' <<<"$needed")" \
    'index(needed, " " $1 " ") && $3 ~ /^\// {print $3}')
grep -q "\bqt6-qpa-plugins\b" <<<"$depends" || fail "Depends lacks qt6-qpa-plugins: $depends"
echo "installed $(wc -l <<<"$listing") entries in $(basename "$deb"); Depends: $depends"
