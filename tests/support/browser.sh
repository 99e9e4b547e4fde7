#!/usr/bin/env bash
# The browser the tests start through $BROWSER: Debian's chromium as root
# needs it, with a throw-away profile and nothing that goes to the network.
# Its process id goes to $MIPO_BROWSER_PIDS, so the test can end it. Its
# window is an X11 (or XWayland) one.
set -eu
profile=$(mktemp -d "${TMPDIR:-/tmp}/mipo-chromium-XXXXXX")
[[ -n ${MIPO_BROWSER_PIDS:-} ]] && echo $$ >> "$MIPO_BROWSER_PIDS"
exec /usr/lib/chromium/chromium --no-sandbox --user-data-dir="$profile" --no-first-run \
    --no-default-browser-check --disable-background-networking --disable-component-update \
    --disable-sync --disable-gpu --password-store=basic --ozone-platform=x11 "$@"
