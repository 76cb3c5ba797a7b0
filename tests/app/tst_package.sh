#!/usr/bin/env bash
# The install tree and the Debian package, as a desktop and apt see them.
#   tst_package.sh BUILD_DIR
set -euo pipefail
build=$1
id=example.tova.recorder
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$tmp/usr" >/dev/null
files="bin/tova-recorder share/applications/$id.desktop share/metainfo/$id.metainfo.xml
  share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/48x48/apps/$id.png"
for f in $files; do [ -f "$tmp/usr/$f" ] || fail "not installed: $f"; done
[ "$(cd "$tmp/usr" && find . -type f | wc -l)" -eq 5 ] || fail "more than the program's files"
file "$tmp/usr/share/icons/hicolor/48x48/apps/$id.png" | grep -q "PNG image data, 48 x 48" ||
    fail "icon is not a 48 px PNG"
desktop-file-validate "$tmp/usr/share/applications/$id.desktop" || fail "desktop entry"
grep -qx "Icon=$id" "$tmp/usr/share/applications/$id.desktop" || fail "entry without the icon"
appstreamcli validate --no-net "$tmp/usr/share/metainfo/$id.metainfo.xml" >/dev/null ||
    fail "AppStream metadata"

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/deb" >/dev/null
deb=$(echo "$tmp"/deb/tova-recorder_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6widgets6 libqt6serialport6 libsndfile1 qt6-qpa-plugins qt6-translations-l10n \
    fonts-wqy-microhei; do
    [[ ", $depends," == *", $p"[\ ,]* ]] || fail "$p not in Depends: $depends"
done
contents=$(dpkg-deb -c "$deb")
for f in $files; do grep -q " ./usr/$f$" <<<"$contents" || fail "not packaged: $f"; done
echo "PASS: install tree and $(basename "$deb")"
