#!/usr/bin/env bash
# A stand-in browser for $BROWSER: writes the arguments it was given, one a
# line, to $MIPO_ARGS_FILE.
printf '%s\n' "$@" > "$MIPO_ARGS_FILE.part" && mv "$MIPO_ARGS_FILE.part" "$MIPO_ARGS_FILE"
