#!/usr/bin/env bash
# Batch conversion without a window: 200 photos of about 2 megapixels (made
# here from a Debian wallpaper) written at quality 75 by
#   mipoquibbo --output-dir OUT IN...
# against djpeg | cjpeg -optimize in a shell loop over the same files, in
# files per second. One broken file among them must be reported and skipped.
#   bench/batch_bench.sh [MIPOQUIBBO]   (default: a Release build in build-release)
set -euo pipefail
cd "$(dirname "$0")/.."
program=${1:-}
if [[ -z $program ]]; then
    scripts/deps.sh --tests
    cmake --preset release >/dev/null
    cmake --build build-release --target mipoquibbo >/dev/null
    program=build-release/mipoquibbo
fi
source bench/photo.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/ours" "$work/peer"
convert "$src" -quality 92 "$work/photo.jpg"
for i in $(seq -w 1 200); do cp "$work/photo.jpg" "$work/in/p$i.jpg"; done
head -c 5000 "$work/photo.jpg" >"$work/in/p100.jpg" # cut off: broken
pixels=$(identify -format '%w x %h' "$work/photo.jpg")

# Half the files first: the time should halve with them.
mkdir -p "$work/half"
start=$(date +%s.%N)
"$program" --quality 75 --output-dir "$work/half" "$work"/in/p0*.jpg
half=$(awk "BEGIN { print $(date +%s.%N) - $start }")

start=$(date +%s.%N)
set +e
"$program" --quality 75 --output-dir "$work/ours" "$work"/in/*.jpg 2>"$work/errors"
status=$?
set -e
ours=$(awk "BEGIN { print $(date +%s.%N) - $start }")

start=$(date +%s.%N)
for f in "$work"/in/*.jpg; do
    djpeg "$f" 2>/dev/null | cjpeg -quality 75 -optimize >"$work/peer/$(basename "$f")" 2>/dev/null || true
done
peer=$(awk "BEGIN { print $(date +%s.%N) - $start }")

echo "200 photos of $pixels, quality 75, one of them cut off"
printf "%-34s %7.2f s %7.1f files/s\n" "mipoquibbo --output-dir" "$ours" "$(awk "BEGIN { print 200 / $ours }")"
printf "%-34s %7.2f s %7.1f files/s\n" "djpeg | cjpeg -optimize (loop)" "$peer" "$(awk "BEGIN { print 200 / $peer }")"
printf "ours %.2f x the loop's speed (target >= 1.5) on %d cores; the first 99 files in %.2f s (%.1f files/s)\n" \
    "$(awk "BEGIN { print $peer / $ours }")" "$(nproc)" "$half" "$(awk "BEGIN { print 99 / $half }")"
echo "exit status $status; written $(ls "$work/ours" | wc -l); reported:"
cat "$work/errors"
