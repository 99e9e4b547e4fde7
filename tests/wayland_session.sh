#!/usr/bin/env bash
# Runs a command inside a headless Wayland session with XWayland, a private
# D-Bus session bus, pipewire and the desktop portal (xdg-desktop-portal, which
# picks its backends by XDG_CURRENT_DESKTOP):
#   sway   (the default) wlroots' headless backend, pixman renderer, one
#          1280x1024 output; portal backends wlr and gtk.
#   sway-native  the same without XWayland: no X server at all.
#   gnome  GNOME Shell (mutter) headless on a 1280x1024 virtual monitor; portal
#          backend gnome. The shell wants a system bus: it gets a private
#          stand-in that allows everything ($DBUS_SYSTEM_BUS_ADDRESS).
#   kde    KWin's virtual backend, 1280x1024, without plasmashell (the desktop
#          is black); portal backend kde.
#
#   tests/wayland_session.sh [--desktop sway|sway-native|gnome|kde] [--copy FILE]... COMMAND [ARGS...]
#
# The compositors refuse to run as root: as root the session runs as the
# unprivileged user "nobody". The command (when it is a file; a command found
# on PATH runs as it is) and every --copy FILE are copied into a temporary
# folder that user can read (a clone under /root is not), and the command runs
# from there, with WAYLAND_DISPLAY, DISPLAY (XWayland, as the compositor chose
# it), XAUTHORITY (when the compositor made one), XDG_RUNTIME_DIR,
# DBUS_SESSION_BUS_ADDRESS, XDG_CURRENT_DESKTOP (sway, GNOME or KDE),
# XDG_SESSION_TYPE=wayland and HOME (a fresh temporary folder: no ~/Pictures,
# no user-dirs.dirs) set, SWAYSOCK under sway; $MIPO_DESKTOP names the desktop,
# $MIPO_SESSION_FILES holds the copies and $MIPO_DBUS_SERVICES the session
# bus's service files (a test removes one there to stop a service for good).
# The caller's QT_* variables reach the command only, not the compositor or the
# portal's backends. When the command ends, everything the session started is
# stopped.
# Exit status: the command's; 1 with a reason when the session cannot start.
# shellcheck disable=SC2317 # the start_* functions and traps run indirectly
set -euo pipefail

fail() {
    echo "wayland_session: $*" >&2
    exit 1
}

# Waits up to $1 seconds for the command $2... to succeed, giving up early when
# the process $wait_pid is gone.
wait_for() {
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < end)) || return 1
        [[ -z ${wait_pid:-} ]] || kill -0 "$wait_pid" 2>/dev/null || return 1
        sleep 0.05
    done
}

# A hung X server must not hang the caller.
x_answers() {
    timeout 5 xprop -root >/dev/null 2>&1
}

start_sway() {
    export WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman
    export XDG_CURRENT_DESKTOP=sway
    local xwayland=force
    [[ $desktop != sway-native ]] || xwayland=disable
    cat >"$run/sway.conf" <<EOF
output HEADLESS-1 resolution 1280x1024 position 0 0
xwayland $xwayland
default_border normal
focus_follows_mouse no
exec sh -c 'echo "\$WAYLAND_DISPLAY \$DISPLAY \$SWAYSOCK" > $ready.part && mv $ready.part $ready'
EOF
    pipewire >"$run/pipewire.log" 2>&1 &
    pw=$!
    sway -c "$run/sway.conf" >"$run/sway.log" 2>&1 &
    sway=$!
    stop() {
        kill "$sway" "$pw" 2>/dev/null || true
        wait 2>/dev/null || true
    }
    trap stop EXIT
    wait_pid=$sway wait_for 10 test -s "$ready" || {
        tail -n 20 "$run/sway.log" >&2
        fail "sway did not start"
    }
    read -r WAYLAND_DISPLAY DISPLAY SWAYSOCK <"$ready"
    if [[ $desktop == sway-native ]]; then
        SWAYSOCK=${SWAYSOCK:-$DISPLAY}
        unset DISPLAY
    fi
    export WAYLAND_DISPLAY SWAYSOCK
    [[ -z ${DISPLAY:-} ]] || export DISPLAY
}
start_sway-native() {
    start_sway
}

# What mutter chose, from its log: "Using public X11 display :1, (using :2
# for managed services)", "Using Wayland display name 'wayland-0'".
mutter_x_displays() {
    sed -n 's/.*Using public X11 display :\([0-9]*\), (using :\([0-9]*\) .*/\1 \2/p' \
        "$run/shell.log" | head -n 1
}
mutter_wayland_display() {
    sed -n "s/.*Using Wayland display name '\\(.*\\)'.*/\\1/p" "$run/shell.log" | head -n 1
}

# gnome-shell 43 starts ibus-daemon (at start, and again once XWayland is up)
# with a JavaScript callback that runs in the forked child; now and then that
# child deadlocks before exec, on a lock another thread held at the fork, and
# the shell waits for it for ever (XWayland, waiting for the shell, with it).
# Killing the child lets the shell go on: it takes the launch as done.
unstick_shell() {
    local pid age comm
    while kill -0 "$1" 2>/dev/null; do
        while read -r pid age comm; do
            if [[ $comm == gnome-shell ]] && ((age >= 5)); then
                echo "wayland_session: gnome-shell's child $pid hung before exec: killed" >&2
                kill -KILL "$pid" 2>/dev/null || true
            fi
        done < <(ps -o pid=,etimes=,comm= --ppid "$1" || true)
        sleep 0.5
    done
}

start_gnome() {
    export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_DESKTOP=gnome
    cat >"$run/system-bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>custom</type>
  <keep_umask/>
  <listen>unix:path=$run/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
    dbus-daemon --config-file="$run/system-bus.conf" --nofork >"$run/system-bus.log" 2>&1 &
    sysbus=$!
    shell='' pw=''
    stop_shell() {
        [[ -n $shell ]] || return 0
        # gnome-shell ignores SIGTERM and SIGINT. Its children (XWayland, a
        # child stuck before exec) go with it, found while they are still its.
        local n children
        children=$(ps -o pid= --ppid "$shell" || true)
        # shellcheck disable=SC2086
        kill -KILL "$shell" $children 2>/dev/null || true
        wait "$shell" 2>/dev/null || true
        shell=''
        # A killed shell leaves its X displays' lock files and sockets behind.
        for n in $(mutter_x_displays); do
            rm -f "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"
        done
        rm -f "$run"/.mutter-Xwaylandauth.*
    }
    stop() {
        stop_shell
        [[ -z $pw ]] || kill "$pw" 2>/dev/null || true
        kill "$sysbus" 2>/dev/null || true
        wait 2>/dev/null || true
    }
    trap stop EXIT
    wait_pid=$sysbus wait_for 5 test -S "$run/system_bus_socket" || fail "no system bus"
    export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$run/system_bus_socket
    pipewire >"$run/pipewire.log" 2>&1 &
    pw=$!
    local xauth=() attempt
    gnome_up() {
        [[ -n $(mutter_x_displays) && -n $(mutter_wayland_display) ]] || return 1
        xauth=("$run"/.mutter-Xwaylandauth.*)
        [[ -e ${xauth[0]} ]]
    }
    # The portal's backend asks the shell for the picture, and the shell's own
    # dialog asks for permission: the shell has to be on the bus first.
    shell_on_bus() {
        gdbus call --session --timeout 5 --dest org.freedesktop.DBus \
            --object-path /org/freedesktop/DBus --method org.freedesktop.DBus.NameHasOwner \
            org.gnome.Shell.Screenshot 2>/dev/null | grep -q true
    }
    # Should the shell still not come up, it starts again.
    for attempt in 1 2; do
        gnome-shell --headless --wayland --virtual-monitor 1280x1024 >"$run/shell.log" 2>&1 &
        shell=$!
        unstick_shell "$shell" &
        if wait_pid=$shell wait_for 30 gnome_up; then
            mutter_x_displays >>"$run/x-displays"
            WAYLAND_DISPLAY=$(mutter_wayland_display)
            DISPLAY=:$(mutter_x_displays | cut -d' ' -f1)
            XAUTHORITY=${xauth[0]}
            export WAYLAND_DISPLAY DISPLAY XAUTHORITY
            if wait_pid=$shell wait_for 15 x_answers && wait_pid=$shell wait_for 15 shell_on_bus; then
                return 0
            fi
        fi
        tail -n 20 "$run/shell.log" >&2
        echo "wayland_session: gnome-shell did not come up (attempt $attempt)" >&2
        stop_shell
        mv "$run/shell.log" "$run/shell.log.$attempt"
        unset WAYLAND_DISPLAY DISPLAY XAUTHORITY
    done
    fail "gnome-shell did not start"
}

start_kde() {
    export XDG_CURRENT_DESKTOP=KDE XDG_SESSION_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION=5
    pipewire >"$run/pipewire.log" 2>&1 &
    pw=$!
    # KWin starts this once XWayland is up, with the session's variables set.
    cat >"$run/kwin-ready.sh" <<EOF
#!/bin/sh
echo "\$WAYLAND_DISPLAY \$DISPLAY \${XAUTHORITY:-}" > $ready.part && mv $ready.part $ready
EOF
    chmod +x "$run/kwin-ready.sh"
    "$dir/kwin_wayland" --virtual --xwayland --width 1280 --height 1024 --no-lockscreen \
        "$run/kwin-ready.sh" >"$run/kwin.log" 2>&1 &
    kwin=$!
    stop() {
        kill "$kwin" "$pw" 2>/dev/null || true
        wait 2>/dev/null || true
    }
    trap stop EXIT
    wait_pid=$kwin wait_for 60 test -s "$ready" || {
        tail -n 20 "$run/kwin.log" >&2
        fail "kwin did not start"
    }
    read -r WAYLAND_DISPLAY DISPLAY XAUTHORITY <"$ready"
    export WAYLAND_DISPLAY DISPLAY
    if [[ -n $XAUTHORITY ]]; then export XAUTHORITY; else unset XAUTHORITY; fi
}

case ${1:-} in
--inside)
    # As the session's user, in the prepared folder: a bus of our own.
    shift
    desktop=$1
    dir=$2
    shift 2
    ps -o sid= -p $$ | tr -d ' ' >"$dir/run/sid"
    # The caller's QT_* variables are for the command: the compositor and the
    # portal's Qt backend run with their own.
    qt_vars=$(compgen -e | grep '^QT_' || true)
    if [[ -n $qt_vars ]]; then
        # shellcheck disable=SC2086
        declare -p $qt_vars >"$dir/run/command.env"
        # shellcheck disable=SC2086
        unset $qt_vars
    fi
    conf=$dir/run/bus.conf
    mkdir -p "$dir/run/services"
    cp /usr/share/dbus-1/services/*.service "$dir/run/services/" 2>/dev/null || true
    sed -e "s|<standard_session_servicedirs */>|<servicedir>$dir/run/services</servicedir>|" \
        /usr/share/dbus-1/session.conf >"$conf"
    exec dbus-run-session --config-file="$conf" -- bash "$dir/session.sh" --session "$desktop" "$dir" "$@"
    ;;
--session)
    shift
    desktop=$1
    dir=$2
    shift 2
    run=$dir/run
    export MIPO_DBUS_SERVICES=$run/services MIPO_SESSION_FILES=$dir/files MIPO_DESKTOP=$desktop
    export XDG_SESSION_TYPE=wayland
    unset DISPLAY WAYLAND_DISPLAY XAUTHORITY
    ready=$run/session-ready
    "start_$desktop"
    told=(XDG_RUNTIME_DIR WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE)
    if [[ $desktop != sway-native ]]; then
        [[ -n ${DISPLAY:-} ]] || fail "$desktop started no XWayland"
        [[ -s $run/x-displays ]] || echo "${DISPLAY#:}" >"$run/x-displays"
        wait_for 10 x_answers || fail "XWayland on $DISPLAY does not answer"
        told+=(DISPLAY)
    fi
    # The portal and its backends start on demand, with what the bus was told.
    [[ $desktop == sway* ]] || told+=(XAUTHORITY XDG_SESSION_DESKTOP DBUS_SYSTEM_BUS_ADDRESS
                                     KDE_FULL_SESSION KDE_SESSION_VERSION)
    dbus-update-activation-environment "${told[@]}"
    if [[ -f $run/command.env ]]; then
        # shellcheck disable=SC1091
        source "$run/command.env"
    fi
    set +e
    "$@"
    status=$?
    set -e
    exit $status
    ;;
esac

# The caller's side: a folder the session's user can read, then the session.
desktop=sway
copies=()
while (($#)); do
    case $1 in
    --copy)
        copies+=("$2")
        shift 2
        ;;
    --desktop)
        desktop=$2
        shift 2
        ;;
    *) break ;;
    esac
done
(($#)) || fail "usage: $0 [--desktop sway|gnome|kde] [--copy FILE]... COMMAND [ARGS...]"
xwayland=Xwayland
case $desktop in
sway) tools=(sway) backend=wlr ;;
sway-native) tools=(sway) backend=wlr xwayland=sway ;;
gnome) tools=(gnome-shell gdbus) backend=gnome ;;
kde) tools=(kwin_wayland) backend=kde ;;
*) fail "unknown desktop '$desktop' (sway, sway-native, gnome or kde)" ;;
esac
for tool in "${tools[@]}" "$xwayland" pipewire dbus-run-session xprop; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/deps.sh --tests)"
done
[[ -e /usr/libexec/xdg-desktop-portal ]] || fail "xdg-desktop-portal is not installed"
[[ -e /usr/share/xdg-desktop-portal/portals/$backend.portal ]] ||
    fail "xdg-desktop-portal-$backend is not installed (scripts/deps.sh --tests)"

dir=$(mktemp -d /tmp/mipo-wayland-XXXXXX)
# Whatever the session leaves running (services the bus started, a compositor
# that did not come up, XWayland after its compositor) is in its process
# session: stop it, and drop the lock files of its X displays, before the
# folder goes.
finish() {
    local sid pids n
    sid=$(cat "$dir/run/sid" 2>/dev/null || true)
    session_pids() {
        pids=$(ps -e -o pid=,sid=,stat= | awk -v s="$sid" '$2 == s && $3 !~ /^Z/ { print $1 }')
        [[ -n $pids ]]
    }
    if [[ -n $sid ]]; then
        # First a moment for the services to end with their bus: the document
        # portal unmounts its folder as it goes, and would not when killed.
        for _ in $(seq 40); do
            session_pids || break
            sleep 0.05
        done
        for _ in $(seq 100); do
            session_pids || break
            # shellcheck disable=SC2086
            kill -KILL $pids 2>/dev/null || true
            sleep 0.05
        done
    fi
    # The document portal's folder, should it still be mounted.
    if grep -q " $dir/run/doc " /proc/mounts 2>/dev/null; then
        fusermount3 -u -z "$dir/run/doc" 2>/dev/null || umount -l "$dir/run/doc" 2>/dev/null || true
    fi
    for n in $(cat "$dir/run/x-displays" 2>/dev/null || true); do
        [[ -e /tmp/.X$n-lock ]] || continue
        kill -0 "$(tr -d ' ' <"/tmp/.X$n-lock" 2>/dev/null)" 2>/dev/null ||
            rm -f "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"
    done
    # What cannot go must not change the command's exit status.
    rm -rf "$dir" || echo "wayland_session: could not remove $dir" >&2
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
chmod 755 "$dir"
mkdir -p "$dir/files" "$dir/home" "$dir/run"
cp "$0" "$dir/session.sh"
if [[ -f $1 ]]; then
    program=$dir/files/$(basename "$1")
    cp "$1" "$program"
else
    # A command from PATH (bash -c ...) runs as it is.
    program=$(command -v "$1") || fail "no command '$1'"
fi
shift
for f in "${copies[@]}"; do
    cp -r "$f" "$dir/files/"
done
if [[ $desktop == kde ]]; then
    # Debian's kwin_wayland carries a file capability that a container cannot
    # grant ("Operation not permitted"); a plain copy runs.
    cp "$(command -v kwin_wayland)" "$dir/kwin_wayland"
fi
chmod -R a+rX "$dir/files" "$dir/session.sh"

# In a process session of its own, so that finish() finds all of it; waited
# for in the background, so that a signal reaches finish() at once.
if ((EUID == 0)); then
    # The X servers' socket folder, as an X server run as root makes it: an
    # unprivileged compositor that came first would make it its own, 0755,
    # and mutter refuses a folder not everyone can write to.
    mkdir -p /tmp/.X11-unix
    chown root:root /tmp/.X11-unix
    chmod 1777 /tmp/.X11-unix
    user=nobody
    id "$user" >/dev/null 2>&1 || fail "no unprivileged user '$user' to run the session as"
    chown -R "$user:" "$dir/home" "$dir/run"
    chmod 700 "$dir/run"
    env_args=(HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" LANG="${LANG:-C.UTF-8}"
              PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/sbin:/usr/sbin:/sbin)
    for name in $(compgen -e | grep -E '^(MIPO_|QT_|ASAN_|LSAN_|UBSAN_)' || true); do
        env_args+=("$name=${!name}")
    done
    setsid setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups \
        env -i "${env_args[@]}" bash "$dir/session.sh" --inside "$desktop" "$dir" "$program" "$@" <&0 &
else
    chmod 700 "$dir/run"
    HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" setsid bash "$dir/session.sh" --inside "$desktop" \
        "$dir" "$program" "$@" <&0 &
fi
set +e
wait $!
status=$?
set -e
exit $status
