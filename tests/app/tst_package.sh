#!/usr/bin/env bash
# The install tree and the Debian package as a desktop and apt see them:
#   tst_package.sh BUILD_DIR [THE_HARDENING_TAG_THE_BUILD_LACKS_BY_DESIGN]
set -euo pipefail
id=example.tova.recorder tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
files=$(printf '%s\n' bin/tova-recorder share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
    share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/48x48/apps/$id.png \
    share/man/man1/tova-recorder.1.gz share/doc/tova-recorder/{copyright,changelog.gz} | sort)
cmake --install "$1" --prefix "$tmp/usr" >/dev/null
diff <(cd "$tmp/usr" && find . -type f | sed 's|^\./||' | sort) - <<<"$files"
file "$tmp/usr/share/icons/hicolor/48x48/apps/$id.png" | grep "PNG image data, 48 x 48"
desktop-file-validate "$tmp/usr/share/applications/$id.desktop"
grep -x "Icon=$id" "$tmp/usr/share/applications/$id.desktop"
appstreamcli validate --no-net "$tmp/usr/share/metainfo/$id.metainfo.xml"
cpack -G DEB --config "$1/CPackConfig.cmake" -B "$tmp/deb" >/dev/null && cd "$tmp/deb"
diff <(dpkg-deb -c tova-recorder_*.deb | awk '!/^d/ {sub("^./usr/", "", $6); print $6}' | sort) - <<<"$files"
dpkg-deb -f tova-recorder_*.deb Depends | tr -d ' ' | tr ',|' '\n\n' | sed 's/(.*//' | sort >"$tmp/depends"
printf '%s\n' libqt6widgets6 libqt6serialport6 libsndfile1 qt6-qpa-plugins qt6-translations-l10n \
    fonts-wqy-microhei | sort | comm -13 "$tmp/depends" - | diff /dev/null -
# No error, no warning (the manual page's groff messages included) and none of the hardening
# tags, an info tag in some versions, but the one a build without fortified calls is known for.
lintian -I --fail-on error,warning tova-recorder_*.deb | tee "$tmp/lintian"
if grep hardening- "$tmp/lintian" | grep -vF -- "${2:-no tag is allowed}"; then exit 1; fi
