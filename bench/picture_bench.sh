#!/usr/bin/env bash
# Picture benchmark on a real photograph from a Debian wallpaper package, at
# about 2 and 24 megapixels (made here, never committed).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --tests
source bench/photo.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert "$src" -quality 95 "$work/2mp.jpg"
convert "$src" -filter Lanczos -resize 6000x4000! -quality 92 "$work/24mp.jpg"
for p in 2mp 24mp; do djpeg -outfile "$work/$p.ppm" "$work/$p.jpg"; done
cmake --preset release >/dev/null
cmake --build build-release --target picture_bench | grep -E "error|warning" || true
tests/with_x.sh build-release/bench/picture_bench "$work/2mp.jpg" "$work/2mp.ppm" "$work/24mp.jpg" "$work/24mp.ppm"
