#!/usr/bin/env bash
# PELLUX's console on an X server (Xvfb) receiving datagrams from loopback at 5,000 a second:
# none may be lost, and its memory must stay flat (bench_udp prints both).
#
#   bench/udp_console.sh [--a11y] [--runs R] [--count N] BUILD_DIR
#
# --a11y turns the accessibility bridge on (QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1) on a private
# AT-SPI bus, with bench/a11y_listener.py listening as a screen reader does (Debian's
# at-spi2-core and python3-pyatspi).
set -euo pipefail

args=("$@")
a11y="" runs=3 count=1000000
while [ $# -gt 1 ]; do
    case "$1" in
        --a11y) a11y=1 ;;
        --runs) runs="$2"; shift ;;
        --count) count="$2"; shift ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
build="$(realpath "${1:?usage: udp_console.sh [--a11y] [--runs R] [--count N] BUILD_DIR}")"

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "${args[@]}"
fi
if [ -n "$a11y" ] && [ -z "${UDP_CONSOLE_BUS:-}" ]; then
    export UDP_CONSOLE_BUS=1
    exec dbus-run-session -- "$0" "${args[@]}"
fi
trap 'jobs -p | xargs -r kill 2>/dev/null || true' EXIT
if [ -n "$a11y" ]; then
    /usr/libexec/at-spi-bus-launcher --launch-immediately &
    sleep 1
    /usr/bin/python3 "$(dirname "$0")/a11y_listener.py" &
    sleep 1
fi

for run in $(seq "$runs"); do
    echo "run $run${a11y:+ (a11y)}: $(env ${a11y:+QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1} \
        "$build/bench/bench_udp" "$count")"
done
