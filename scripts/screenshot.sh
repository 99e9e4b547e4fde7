#!/usr/bin/env bash
# Starts the program on a private X server with openbox and saves three
# pictures into a folder (default docs/): main-window.png (both windows),
# about-box.png (the About box open over them) and open-dialog.png (the Open
# dialog on a folder of photos, its detail columns shown), under a Japanese
# locale as its users run it.
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
    xdotool key Return
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
    kill $pid' "$out"
echo "$out/main-window.png $out/about-box.png $out/open-dialog.png"
