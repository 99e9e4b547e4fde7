#!/usr/bin/env bash
# Runs a command inside a headless Wayland session: sway (wlroots' headless
# backend, pixman renderer, one 1280x1024 output) with XWayland, a private
# D-Bus session bus, pipewire and the desktop portal (xdg-desktop-portal with
# its wlr and gtk backends).
#
#   tests/wayland_session.sh [--copy FILE]... COMMAND [ARGS...]
#
# sway refuses to run as root: as root the session runs as the unprivileged
# user "nobody", with a temporary home. The command and every --copy FILE are
# copied into a temporary folder that user can read (a clone under /root is
# not), and the command runs from there, with WAYLAND_DISPLAY, DISPLAY
# (XWayland), SWAYSOCK, XDG_RUNTIME_DIR and DBUS_SESSION_BUS_ADDRESS set, its copies in
# $MIPO_SESSION_FILES, and the session bus's service files in
# $MIPO_DBUS_SERVICES (a test removes one there to stop a service for good).
# Exit status: the command's; 1 with a reason when the session cannot start.
set -euo pipefail

fail() {
    echo "wayland_session: $*" >&2
    exit 1
}

case ${1:-} in
--inside)
    # As the session's user, in the prepared folder: a bus of our own.
    shift
    dir=$1
    shift
    conf=$dir/run/bus.conf
    mkdir -p "$dir/run/services"
    cp /usr/share/dbus-1/services/*.service "$dir/run/services/" 2>/dev/null || true
    sed -e "s|<standard_session_servicedirs */>|<servicedir>$dir/run/services</servicedir>|" \
        /usr/share/dbus-1/session.conf >"$conf"
    exec dbus-run-session --config-file="$conf" -- bash "$dir/session.sh" --session "$dir" "$@"
    ;;
--session)
    shift
    dir=$1
    shift
    export MIPO_DBUS_SERVICES=$dir/run/services MIPO_SESSION_FILES=$dir/files
    export WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman
    export XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland
    unset DISPLAY WAYLAND_DISPLAY
    ready=$XDG_RUNTIME_DIR/session-ready
    cat >"$dir/run/sway.conf" <<EOF
output HEADLESS-1 resolution 1280x1024 position 0 0
xwayland force
default_border normal
focus_follows_mouse no
exec sh -c 'echo "\$WAYLAND_DISPLAY \$DISPLAY \$SWAYSOCK" > $ready.part && mv $ready.part $ready'
EOF
    pipewire >"$dir/run/pipewire.log" 2>&1 &
    pw=$!
    sway -c "$dir/run/sway.conf" >"$dir/run/sway.log" 2>&1 &
    sway=$!
    cleanup() {
        kill "$sway" "$pw" 2>/dev/null || true
        wait 2>/dev/null || true
    }
    trap cleanup EXIT
    for _ in $(seq 200); do
        [[ -s $ready ]] && break
        kill -0 "$sway" 2>/dev/null || break
        sleep 0.05
    done
    [[ -s $ready ]] || {
        tail -n 20 "$dir/run/sway.log" >&2
        fail "sway did not start"
    }
    read -r WAYLAND_DISPLAY DISPLAY SWAYSOCK <"$ready"
    export WAYLAND_DISPLAY DISPLAY SWAYSOCK
    [[ -n $DISPLAY ]] || fail "sway started no XWayland"
    for _ in $(seq 200); do
        xprop -root >/dev/null 2>&1 && break
        sleep 0.05
    done
    xprop -root >/dev/null 2>&1 || fail "XWayland on $DISPLAY does not answer"
    dbus-update-activation-environment XDG_RUNTIME_DIR WAYLAND_DISPLAY DISPLAY \
        XDG_CURRENT_DESKTOP XDG_SESSION_TYPE
    set +e
    "$@"
    status=$?
    set -e
    exit $status
    ;;
esac

# The caller's side: a folder the session's user can read, then the session.
copies=()
while [[ ${1:-} == --copy ]]; do
    copies+=("$2")
    shift 2
done
(($#)) || fail "usage: $0 [--copy FILE]... COMMAND [ARGS...]"
for tool in sway Xwayland pipewire dbus-run-session xprop; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/deps.sh --tests)"
done
[[ -e /usr/libexec/xdg-desktop-portal ]] || fail "xdg-desktop-portal is not installed"

dir=$(mktemp -d /tmp/mipo-wayland-XXXXXX)
trap 'rm -rf "$dir"' EXIT
chmod 755 "$dir"
mkdir -p "$dir/files" "$dir/home" "$dir/run"
cp "$0" "$dir/session.sh"
program=$dir/files/$(basename "$1")
cp "$1" "$program"
shift
for f in "${copies[@]}"; do
    cp -r "$f" "$dir/files/"
done
chmod -R a+rX "$dir/files" "$dir/session.sh"

if ((EUID == 0)); then
    user=nobody
    id "$user" >/dev/null 2>&1 || fail "no unprivileged user '$user' to run sway as"
    chown -R "$user:" "$dir/home" "$dir/run"
    chmod 700 "$dir/run"
    env_args=(HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" LANG="${LANG:-C.UTF-8}"
              PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/sbin:/usr/sbin:/sbin)
    for name in $(compgen -e | grep -E '^(MIPO_|QT_|ASAN_|LSAN_|UBSAN_)' || true); do
        env_args+=("$name=${!name}")
    done
    set +e
    setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups \
        env -i "${env_args[@]}" bash "$dir/session.sh" --inside "$dir" "$program" "$@"
    status=$?
    set -e
else
    chmod 700 "$dir/run"
    set +e
    HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" bash "$dir/session.sh" --inside "$dir" \
        "$program" "$@"
    status=$?
    set -e
fi
exit $status
