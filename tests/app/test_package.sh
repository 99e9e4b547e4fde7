#!/usr/bin/env bash
# Builds the Debian package, installs it with its dependencies, checks the
# desktop entry and AppStream data, starts the installed program on a private
# X server and removes the package again. It changes the system, so it runs
# only in CI (CI=true) or when MIPO_PACKAGE_TEST=1, and only as root.
#   tests/app/test_package.sh BUILD_DIR
set -euo pipefail
if [[ ${CI:-} != true && ${MIPO_PACKAGE_TEST:-} != 1 ]] || ((EUID != 0)); then
    echo "skipped: installs a package system-wide (set MIPO_PACKAGE_TEST=1, run as root)"
    exit 77
fi
here=$(dirname "$(realpath "$0")")
# The package is built as Debian builds packages: optimised, the debug
# information stripped. The build given is used when it is optimised (CI's;
# the tests install nothing), else one of its own.
build=$(realpath "$1")
if ! grep -qxE 'CMAKE_BUILD_TYPE:STRING=(Release|RelWithDebInfo)' "$build/CMakeCache.txt"; then
    build=$(realpath -m "$1/package-release")
    cmake -S "$here/../.." -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIPO_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target mipoquibbo >/dev/null
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/mipoquibbo_*_*.deb | head -n1)
dpkg-deb -f "$deb" Depends | tee /dev/stderr | grep -q 'libqt6gui6'
dpkg-deb -f "$deb" Depends | grep -q 'qt6-translations-l10n'
dpkg-deb -f "$deb" Depends | grep -q 'qt6-image-formats-plugins'
dpkg-deb -f "$deb" Depends | grep -q 'libheif1'
dpkg-deb -f "$deb" Depends | grep -q 'libjxl0.7'
dpkg-deb -f "$deb" Suggests | grep -qx 'chromium | firefox-esr'
dpkg-deb -f "$deb" Maintainer | grep -q '<.*@.*>'
size=$(stat -c %s "$deb")
((size < 2000000)) || { echo "package of $size bytes: not stripped?"; exit 1; }
trap 'dpkg -r mipoquibbo >/dev/null 2>&1 || true' EXIT
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
desktop-file-validate /usr/share/applications/net.hollowmere.Mipoquibbo.desktop
appstreamcli validate --no-net /usr/share/metainfo/net.hollowmere.Mipoquibbo.metainfo.xml
test -s /usr/share/icons/hicolor/32x32/apps/mipoquibbo.png
test -s /usr/share/icons/hicolor/128x128/apps/mipoquibbo.png
grep -q '^License: MIT' /usr/share/doc/mipoquibbo/copyright
! readelf -S /usr/bin/mipoquibbo | grep -q '\.debug_info'
grep -q '<project_license>MIT</project_license>' /usr/share/metainfo/net.hollowmere.Mipoquibbo.metainfo.xml
grep -q '<summary xml:lang="ja">' /usr/share/metainfo/net.hollowmere.Mipoquibbo.metainfo.xml
# No address that cannot resolve: software centres would fetch from it.
! grep -q 'https\?://' /usr/share/metainfo/net.hollowmere.Mipoquibbo.metainfo.xml
dpkg-deb -f "$deb" Maintainer | grep -q '@mipoquibbo\.invalid>'
grep -q '^Upstream-Contact: .*@mipoquibbo\.invalid>' /usr/share/doc/mipoquibbo/copyright
"$here/../with_x.sh" bash -c '
    /usr/bin/mipoquibbo & pid=$!
    for _ in $(seq 100); do
        if xdotool search --onlyvisible --name "^みぽＱＵＩＢＢＯ－IEキャプチャ機能付$" >/dev/null 2>&1; then
            kill $pid; wait $pid 2>/dev/null; echo "installed program started"; exit 0
        fi
        sleep 0.1
    done
    kill $pid 2>/dev/null; echo "the installed program showed no window"; exit 1'
