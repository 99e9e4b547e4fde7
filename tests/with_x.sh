#!/usr/bin/env bash
# Runs a command on a private X server (Xvfb), with openbox as the window
# manager when --wm is given. Each test gets its own display, so tests never
# see each other's windows.
set -euo pipefail
wm=0
if [[ ${1:-} == --wm ]]; then wm=1; shift; fi

fdfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fdfile" >/dev/null 2>&1 &
xvfb=$!
cleanup() {
    [[ -n ${obx:-} ]] && kill "$obx" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -f "$fdfile"
    [[ -n ${XDG_RUNTIME_DIR:-} ]] && rm -rf "$XDG_RUNTIME_DIR"
}
trap cleanup EXIT
for _ in $(seq 100); do
    [[ -s $fdfile ]] && break
    sleep 0.05
done
export DISPLAY=":$(head -n1 "$fdfile" | tr -d '[:space:]')"
unset WAYLAND_DISPLAY XDG_SESSION_TYPE
export QT_QPA_PLATFORM=xcb
# A private runtime folder: the single-instance lock of one test is not another's.
XDG_RUNTIME_DIR=$(mktemp -d)
export XDG_RUNTIME_DIR
chmod 700 "$XDG_RUNTIME_DIR"

if ((wm)); then
    openbox --sm-disable >/dev/null 2>&1 &
    obx=$!
    for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        sleep 0.05
    done
fi
set +e
"$@"
exit $?
