#!/usr/bin/env bash
# Rate and distortion against the peers, mozjpeg's cjpeg among them (built
# once by bench/mozjpeg.sh; bench/rd_bench.cpp says how). Photos from two
# Debian artwork packages (mate-backgrounds and plasma-workspace-wallpapers,
# installed when missing), each brought to 2 megapixels through a JPEG at
# 95 as a camera would leave it, one of them also at 24 megapixels; four
# screenshots made here: the desktop with the program's windows, a page of
# text as chromium draws it, and a terminal's text in grey and in colours.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --tests
source bench/photo.sh
source bench/mozjpeg.sh
plasma=/usr/share/wallpapers
if [[ ! -d $plasma/EveningGlow ]]; then
    sudo=(); ((EUID == 0)) || sudo=(sudo)
    "${sudo[@]}" apt-get install -y -qq plasma-workspace-wallpapers >/dev/null
fi
mate=/usr/share/backgrounds/mate/nature
others=(
    "$mate/Blinds.jpg" "$mate/Dune.jpg" "$mate/FreshFlower.jpg" "$mate/LadyBird.jpg"
    "$mate/Storm.jpg"
    "$plasma/EveningGlow/contents/images/2560x1600.jpg"
    "$plasma/FallenLeaf/contents/images/2560x1600.jpg"
    "$plasma/Path/contents/images/2560x1600.jpg"
    "$plasma/OneStandsOut/contents/images/2560x1600.jpg"
    "$plasma/summer_1am/contents/images/2560x1600.jpg"
    "$plasma/Grey/contents/images/2560x1600.jpg"
)
cmake --preset release >/dev/null
cmake --build build-release --target rd_bench mipoquibbo | grep -E "error|warning" || true
# RD_WORK=DIR keeps the pictures and the peers' curves there for the next run
# (the peers do not change between runs of ours: tuning runs take seconds).
if [[ -n ${RD_WORK:-} ]]; then
    work=$RD_WORK
    mkdir -p "$work"
else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
[[ -f $work/screen-terminal.png ]] || {
convert "$src" -quality 95 "$work/photo-2mp.jpg"
convert "$src" -filter Lanczos -resize 6000x4000! -quality 92 "$work/photo-24mp.jpg"
for p in photo-2mp photo-24mp; do djpeg -outfile "$work/$p.ppm" "$work/$p.jpg"; done

# The desktop: the program's windows over a wallpaper, as a screen grab sees them.
tests/with_x.sh --wm bash -c '
    work=$0
    convert "'"$src"'" -resize 1280x1024! "$work/wall.png"
    display -window root "$work/wall.png" 2>/dev/null || true
    build-release/mipoquibbo "$work/photo-2mp.jpg" & pid=$!
    sleep 3
    import -window root "$work/screen-desktop.png"
    kill $pid' "$work"
# A page of text, drawn by chromium from a local file, nothing from the network.
{
    echo '<!doctype html><meta charset="utf-8"><body style="font:15px sans-serif;margin:24px;max-width:900px">'
    echo '<h1>JPEG の画質について</h1>'
    for i in $(seq 12); do
        echo "<p>Paragraph $i. JPEG は写真のための形式ですが、画面の文字も保存できます。"
        echo "The quick brown fox jumps over the lazy dog; 0123456789 — $(date -d @$((i * 86400)) +%F).</p>"
    done
} >"$work/page.html"
/usr/lib/chromium/chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
    --disable-component-update --disable-sync --no-first-run --no-default-browser-check \
    --user-data-dir="$work/profile" --window-size=1280,1024 --screenshot="$work/screen-page.png" \
    "file://$work/page.html" >/dev/null 2>&1
# A terminal: light monospaced text on black.
ls -l /usr/bin | sed -n 1,60p >"$work/terminal.txt"
convert -size 1280x1024 xc:'#101010' -font DejaVu-Sans-Mono -pointsize 14 -fill '#d0d0d0' \
    -annotate +8+18 "$(cat "$work/terminal.txt")" "$work/screen-terminal.png" \
    "$work/screen-colours.png"
}
# A terminal in colour: each line in one of the colours a listing uses, on black.
[[ -f $work/screen-colours.png ]] || {
    colours=('#e06c75' '#98c379' '#e5c07b' '#61afef' '#c678dd' '#56b6c2' '#d0d0d0')
    lines=() y=18 i=0
    while IFS= read -r line; do
        lines+=(-fill "${colours[i % 7]}" -annotate "+8+$y" "$line")
        y=$((y + 17)) i=$((i + 1))
    done < <(ls -l /usr/bin | sed -n 61,120p)
    convert -size 1280x1024 xc:'#101010' -font DejaVu-Sans-Mono -pointsize 14 "${lines[@]}" \
        "$work/screen-colours.png"
}

photos=("$work/photo-2mp.ppm" "$work/photo-24mp.ppm")
for f in "${others[@]}"; do
    name=$(basename "$f" .jpg)
    [[ $name == 2560x1600 ]] && name=$(basename "$(dirname "$(dirname "$(dirname "$f")")")")
    out="$work/photo-$name.ppm"
    if [[ ! -f $out ]]; then
        convert "$f" -resize 1800x1200 -quality 95 "$work/photo-$name.jpg"
        djpeg -outfile "$out" "$work/photo-$name.jpg"
    fi
    photos+=("$out")
done

RD_MOZJPEG=$mozcjpeg RD_MIPOQUIBBO=build-release/mipoquibbo build-release/bench/rd_bench "$work" "${photos[@]}" -- \
    "$work/screen-desktop.png" "$work/screen-page.png" "$work/screen-terminal.png" \
    "$work/screen-colours.png"
