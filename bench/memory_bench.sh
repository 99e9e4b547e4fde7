#!/usr/bin/env bash
# The converter's peak memory: six PNG files of 100 megapixels each (zeros,
# 300 KB on disk) converted at once, against one of them alone. With the
# converter's bound, six take no more than one (target: within 1.15 x).
#   bench/memory_bench.sh [MIPOQUIBBO]   (default: a Release build in build-release)
set -euo pipefail
cd "$(dirname "$0")/.."
program=${1:-}
if [[ -z $program ]]; then
    scripts/deps.sh --tests
    cmake --preset release >/dev/null
    cmake --build build-release --target mipoquibbo >/dev/null
    program=build-release/mipoquibbo
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/out"
convert -size 10000x10000 xc:black -depth 8 "PNG24:$work/z1.png"
for i in 2 3 4 5 6; do cp "$work/z1.png" "$work/z$i.png"; done
peak() { # kilobytes, and seconds
    /usr/bin/time -f '%M %e' "$program" --quality 75 --output-dir "$work/out" "$@" 2>&1 >/dev/null |
        tail -1
}
read -r one oneTime < <(peak "$work/z1.png")
rm -f "$work"/out/*
read -r six sixTime < <(peak "$work"/z?.png)
echo "one 100 MP picture: $((one / 1024)) MB peak, ${oneTime} s"
echo "six at once:        $((six / 1024)) MB peak, ${sixTime} s"
awk "BEGIN { r = $six / $one; printf \"six / one: %.2f x (target <= 1.15): %s\n\", r, r <= 1.15 ? \"met\" : \"NOT met\" }"
