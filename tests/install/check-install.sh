#!/usr/bin/env bash
# What a user's system gets: `tree` installs the build into a DESTDIR staging directory, `deb`
# builds the Debian package and unpacks it; both then check the installed tree as the desktop
# reads it (launcher entry, metainfo, icons) and run the staged binary.
#
#   check-install.sh tree|deb <build dir> <version> <AppStream id>
set -uo pipefail
mode=$1 build=$2 version=$3 metainfo=$4.metainfo.xml
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

case $mode in
tree)
    DESTDIR=$tmp/stage cmake --install "$build" --prefix /usr >"$tmp/install.log" 2>&1 ||
        { cat "$tmp/install.log"; exit 1; }
    root=$tmp/stage/usr ;;
deb)
    (cd "$build" && cpack -G DEB -B "$tmp/pkg") >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log"; exit 1; }
    deb=$(ls "$tmp"/pkg/*.deb 2>/dev/null | head -n 1)
    [ -n "$deb" ] || { cat "$tmp/cpack.log"; echo "FAIL: no .deb built"; exit 1; }
    dpkg-deb -x "$deb" "$tmp/root" || exit 1
    root=$tmp/root/usr
    depends=$(dpkg-deb -f "$deb" Depends)
    for needed in fonts-noto-color-emoji at-spi2-core libqt6widgets6 libqt6dbus6 libxcb-xinput0; do
        grep -q "$needed" <<<"$depends" || fail "the package does not depend on $needed: $depends"
    done
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version)" ;;
*)
    echo "usage: $0 tree|deb <build dir> <version> <AppStream id>" >&2; exit 2 ;;
esac

desktop-file-validate "$root/share/applications/pimsel.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root/share/metainfo/$metainfo" >"$tmp/appstream.log" 2>&1 ||
    { cat "$tmp/appstream.log"; fail "metainfo"; }
grep -q "version=\"$version\"" "$root/share/metainfo/$metainfo" || fail "metainfo names no release $version"
grep -q '<svg' "$root/share/icons/hicolor/scalable/apps/pimsel.svg" || fail "no scalable icon"
for size in 16 22 24 32 48 64 128 256; do
    png=$root/share/icons/hicolor/${size}x${size}/apps/pimsel.png
    file -b "$png" | grep -q "^PNG image data, $size x $size," || fail "icon ${size}x${size}: $(file -b "$png")"
done
[ -s "$root/share/doc/pimsel/THIRD_PARTY_NOTICES.md" ] || fail "no notices"

# The staged binary runs on its own: the catalogue is compiled in, nothing is read from the build.
export XDG_CONFIG_HOME=$tmp/config
[ "$("$root/bin/pimsel" --version)" = "pimsel $version" ] || fail "--version: $("$root/bin/pimsel" --version 2>&1)"
[ "$("$root/bin/pimsel" exact tada)" = "🎉" ] || fail "the staged binary finds no catalogue"

[ "$failures" -eq 0 ] && echo "$mode: the installed tree is complete"
exit $((failures > 0))
