#!/usr/bin/env bash
# Runs a command on a private session bus that carries the accessibility bus, with
# bench/a11y_listener.py listening to every event as a screen reader does. The programs the
# command starts turn their bridge on with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1.
#
#   bench/a11y_session.sh COMMAND [ARGUMENT...]
set -euo pipefail
if [ -z "${A11Y_SESSION_BUS:-}" ]; then
    export A11Y_SESSION_BUS=1
    exec dbus-run-session -- "$0" "$@"
fi
/usr/libexec/at-spi-bus-launcher --launch-immediately &
helpers=($!)
sleep 1
/usr/bin/python3 "$(dirname "$0")/a11y_listener.py" &
helpers+=($!)
sleep 1
status=0
"$@" || status=$?
kill "${helpers[@]}" 2>/dev/null || true
exit "$status"
