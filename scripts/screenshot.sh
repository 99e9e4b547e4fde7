#!/usr/bin/env bash
# Starts the program on a private X server with openbox and saves four
# pictures into a folder (default docs/): main-window.png (both windows),
# about-box.png (the About box open over them), open-dialog.png (the Open
# dialog on a folder of photos, its detail columns shown) and
# compare-window.png (a photo at quality 15 against its original, at 100 %),
# under a Japanese locale as its users run it.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs}")
mkdir -p "$out"
[[ -x build/mipoquibbo ]] || { cmake -S . -B build -G Ninja && cmake --build build --target mipoquibbo; }
tests/with_x.sh --wm bash -c '
    out=$0
    LANG=ja_JP.UTF-8 build/mipoquibbo & pid=$!
    for _ in $(seq 100); do
        # Titles are matched by their Latin letters: under a Japanese locale the
        # window manager hint WM_NAME carries them undecoded for xdotool.
        xdotool search --onlyvisible --name "IE" >/dev/null 2>&1 && break
        sleep 0.1
    done
    sleep 1
    import -window root -crop 820x620+230+70 +repage "$out/main-window.png"
    main=$(xdotool search --onlyvisible --name "IE" | head -n1)
    xdotool windowactivate --sync "$main" key --clearmodifiers alt+w
    sleep 0.5
    # The About item by its mnemonic: the menu opens on its first item, the compare window.
    xdotool key b
    sleep 1.5
    import -window root -crop 820x620+0+40 +repage "$out/about-box.png"
    kill $pid
    wait $pid 2>/dev/null

    # A folder of photos with Japanese names, the program started on one.
    photos=$(mktemp -d)
    trap "rm -rf $photos" EXIT
    i=0
    for src in /usr/share/backgrounds/mate/nature/*.jpg; do
        i=$((i + 1))
        convert "$src" -resize 1600x1200 -quality 85 "$photos/写真 $i.jpg"
        touch -d "2026-11-0$i 15:10" "$photos/写真 $i.jpg"
        ((i == 4)) && break
    done
    LANG=ja_JP.UTF-8 build/mipoquibbo "$photos/写真 1.jpg" & pid=$!
    main=$(xdotool search --sync --onlyvisible --name "IE" | head -n1)
    sleep 1
    xdotool windowactivate --sync "$main" key --clearmodifiers alt+f
    sleep 0.5
    xdotool key o
    sleep 2
    # The dialog as it opens: the detail view with its columns.
    dialog=$(xdotool getactivewindow)
    eval "$(xdotool getwindowgeometry --shell "$dialog")"
    import -window root -crop "$((WIDTH + 40))x$((HEIGHT + 60))+$((X - 20))+$((Y - 40))" +repage \
        "$out/open-dialog.png"
    xdotool key Escape
    sleep 0.3
    kill $pid
    wait $pid 2>/dev/null

    # The compare window, from the keyboard alone: Tab to the quality slider,
    # down to 15, Ctrl+K, then 100 % around the ladybird.
    convert /usr/share/backgrounds/mate/nature/LadyBird.jpg -resize 1600x1200 -quality 92 \
        "$photos/てんとう虫.jpg"
    LANG=ja_JP.UTF-8 build/mipoquibbo "$photos/てんとう虫.jpg" & pid=$!
    xdotool search --sync --onlyvisible --name "IE" >/dev/null
    sleep 1.5
    xdotool key Tab Tab Tab Tab Tab Tab
    for _ in $(seq 35); do xdotool key Left; done
    xdotool key ctrl+k
    sleep 1
    compare=$(xdotool getactivewindow)
    xdotool windowmove "$compare" 40 60
    sleep 0.5
    eval "$(xdotool getwindowgeometry --shell "$compare")"
    xdotool mousemove $((X + WIDTH * 63 / 100)) $((Y + HEIGHT * 50 / 100)) key ctrl+1
    sleep 0.5
    # The divider dragged onto the ladybird: half of it on each side.
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT * 60 / 100)) mousedown 1
    for step in 1 2 3 4; do
        xdotool mousemove $((X + WIDTH / 2 + WIDTH * 23 * step / 400)) $((Y + HEIGHT * 60 / 100))
        sleep 0.1
    done
    xdotool mouseup 1 mousemove $((X + WIDTH + 40)) $((Y + 20))
    sleep 3
    import -window root -crop "$((WIDTH + 20))x$((HEIGHT + 50))+$((X - 10))+$((Y - 40))" +repage \
        "$out/compare-window.png"
    kill $pid' "$out"
echo "$out/main-window.png $out/about-box.png $out/open-dialog.png $out/compare-window.png"
