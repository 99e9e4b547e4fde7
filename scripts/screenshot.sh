#!/usr/bin/env bash
# Starts the program on a private X server with openbox and saves two pictures
# into a folder (default docs/): main-window.png (both windows) and
# about-box.png (the About box open over them), under a Japanese locale as
# its users run it.
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
    kill $pid' "$out"
echo "$out/main-window.png $out/about-box.png"
