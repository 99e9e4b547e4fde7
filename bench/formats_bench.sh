#!/usr/bin/env bash
# Opening a 12-megapixel HEIC, AVIF and WebP (made here from a photograph of
# a Debian wallpaper package, never committed) against libheif's and
# libwebp's own decode time alone.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --tests
source bench/photo.sh
dpkg-query -W -f='${Status}' libwebp-dev 2>/dev/null | grep -q 'install ok installed' || {
    sudo=(); ((EUID == 0)) || sudo=(sudo)
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends libwebp-dev >/dev/null
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert "$src" -filter Lanczos -resize 4000x3000! "$work/12mp.ppm"
cmake --preset release >/dev/null
cmake --build build-release --target formats_bench | grep -E "error|warning" || true
build-release/bench/formats_bench "$work/12mp.ppm" "$work"
