#!/usr/bin/env bash
# Runs a test program as a screen-reader user runs the console: on an X server (Xvfb), with the
# accessibility bridge on, on a private session and AT-SPI bus, and a listener taking every
# event (a bridge nobody listens to sends little).
#
#   a11y_run.sh LISTENER PROGRAM [ARGUMENTS...]
set -euo pipefail

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
if [ -z "${A11Y_RUN_BUS:-}" ]; then
    export A11Y_RUN_BUS=1
    exec dbus-run-session -- "$0" "$@"
fi
listener="$1"
shift
# The listener says when it listens; the bus and registry start on its first call.
coproc LISTEN { exec /usr/bin/python3 "$listener"; }
trap 'kill "$LISTEN_PID" 2>/dev/null || true' EXIT
read -r -t 30 ready <&"${LISTEN[0]}" || { echo "the accessibility listener did not start" >&2; exit 1; }
[ "$ready" = listening ] || { echo "the accessibility listener said: $ready" >&2; exit 1; }
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$@"
