#!/usr/bin/env bash
# Starts the program on a private X server with openbox and saves a picture of
# the screen's upper part: scripts/screenshot.sh [OUT.png] (default docs/main-window.png).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/main-window.png}")
mkdir -p "$(dirname "$out")"
[[ -x build/mipoquibbo ]] || { cmake -S . -B build -G Ninja && cmake --build build --target mipoquibbo; }
tests/with_x.sh --wm bash -c '
    build/mipoquibbo & pid=$!
    for _ in $(seq 100); do
        xdotool search --onlyvisible --name "^ファイルネーム$" >/dev/null 2>&1 && break
        sleep 0.1
    done
    sleep 1
    import -window root -crop 820x620+230+70 +repage "$0"
    kill $pid' "$out"
echo "$out"
