#!/usr/bin/env bash
# Rate and distortion against the peers, mozjpeg 3.2's cjpeg (built once by
# bench/mozjpeg.sh) and current mozjpeg through the npm package sharp
# (installed once beside it) among them; bench/rd_bench.cpp says how.
# Photos from two Debian artwork packages (mate-backgrounds and
# plasma-workspace-wallpapers), each brought to 2 megapixels through a JPEG
# at 95 as a camera would leave it, one of them also at 24 megapixels, and
# five of OpenCV's sample pictures (opencv-doc: people, fur, graffiti, a
# plant, fruit) as they are; packages are installed when missing. Six
# screenshots made here: the desktop with the program's windows, a page of
# text and a Japanese page as chromium draws them, a terminal's text in grey
# and in colours, and highlighted code in a dark editor.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --tests
source bench/photo.sh
source bench/mozjpeg.sh
source bench/sharp.sh
plasma=/usr/share/wallpapers
opencv=/usr/share/doc/opencv-doc/examples/data
sudo=(); ((EUID == 0)) || sudo=(sudo)
[[ -d $plasma/EveningGlow ]] ||
    "${sudo[@]}" apt-get install -y -qq plasma-workspace-wallpapers >/dev/null
[[ -f $opencv/graf1.png ]] || "${sudo[@]}" apt-get install -y -qq opencv-doc >/dev/null
command -v butteraugli_main >/dev/null ||
    "${sudo[@]}" apt-get install -y -qq libjxl-devtools >/dev/null
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
    -annotate +8+18 "$(cat "$work/terminal.txt")" "$work/screen-terminal.png"
}
# A Japanese page: headings in red, links in blue, a table with coloured cells.
[[ -f $work/screen-japanese.png ]] || {
    {
        echo '<!doctype html><meta charset="utf-8"><body style="font:16px sans-serif;margin:24px;max-width:1000px">'
        echo '<h1 style="color:#c70036">写真と画面の圧縮について</h1>'
        for i in $(seq 6); do
            echo "<h2 style=\"color:#1a5fb4\">第${i}章　色の扱い</h2>"
            echo "<p>画面の文字は細い線でできているため、色を半分の解像度にすると<a href=\"#\" style=\"color:#0645ad\">赤や青の見出し</a>がにじみます。"
            echo "写真では色の細部は目立ちにくく、明るさの細部ほどは見えません。品質 ${i}0 の例：<b>鮮やかな赤</b>と<span style=\"color:#2ec27e\">緑の注記</span>。</p>"
        done
        echo '<table style="border-collapse:collapse">'
        for r in 1 2 3 4; do
            echo "<tr><td style=\"background:#ffd6e0;padding:4px\">項目${r}</td><td style=\"background:#dbeafe;padding:4px\">説明の文章 ${r}</td><td style=\"color:#e01b24;padding:4px\">${r}00 KB</td></tr>"
        done
        echo '</table>'
    } >"$work/japanese.html"
    /usr/lib/chromium/chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
        --disable-component-update --disable-sync --no-first-run --no-default-browser-check \
        --user-data-dir="$work/profile" --window-size=1280,1024 \
        --screenshot="$work/screen-japanese.png" "file://$work/japanese.html" >/dev/null 2>&1
}
# Highlighted code in a dark editor: keywords, strings, names and comments in colours.
[[ -f $work/screen-code.png ]] || {
    {
        echo '<!doctype html><meta charset="utf-8"><body style="background:#1e1e2e;color:#cdd6f4;font:14px monospace;margin:12px;white-space:pre">'
        sed -n 230,300p /usr/include/c++/12/bits/stl_algobase.h |
            sed -e 's/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g' \
                -e 's@^\( *//.*\)@<span style="color:#6c7086">\1</span>@' \
                -e 's@\b\(const\|return\|for\|if\|int\|typename\|template\|inline\|while\)\b@<span style="color:#cba6f7">\1</span>@g' \
                -e 's@\b\(_[A-Z][A-Za-z]*\)\b@<span style="color:#f38ba8">\1</span>@g' \
                -e 's@\b\([0-9][0-9]*\)\b@<span style="color:#fab387">\1</span>@g'
    } >"$work/code.html"
    /usr/lib/chromium/chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
        --disable-component-update --disable-sync --no-first-run --no-default-browser-check \
        --user-data-dir="$work/profile" --window-size=1280,1024 \
        --screenshot="$work/screen-code.png" "file://$work/code.html" >/dev/null 2>&1
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
for f in messi5.jpg baboon.jpg graf1.png aloeL.jpg fruits.jpg; do
    out="$work/photo-opencv-${f%.*}.ppm"
    [[ -f $out ]] || convert "$opencv/$f" "$out"
    photos+=("$out")
done

RD_MOZJPEG=$mozcjpeg RD_SHARP=$sharpjpeg RD_MIPOQUIBBO=build-release/mipoquibbo build-release/bench/rd_bench "$work" "${photos[@]}" -- \
    "$work/screen-desktop.png" "$work/screen-page.png" "$work/screen-terminal.png" \
    "$work/screen-colours.png" "$work/screen-japanese.png" "$work/screen-code.png"
