#!/usr/bin/env bash
# PELLUX under a chatty board, beside socat as the floor of what this machine receives.
#
#   bench/udp_flood.sh [--a11y] [--unprivileged] [--runs R] [--rates "5000 20000 50000"]
#                      [--seconds S] BUILD_DIR
#
# For each run and rate, build/bench/udp_flood sends numbered 30-byte datagrams to
# 127.0.0.1:10002 for S seconds (5 unless given): first to `socat -u UDP-RECV:10002 -`, then to
# PELLUX on an X server (Xvfb) with its log on (PELLUX_LOG), while bench/key_answer.py presses
# keys in its input box and times the datagram each one sends. Reported: what each received
# (socat: its output; PELLUX: its log, checked to be in order), the kernel's drop counter of the
# receiving socket (/proc/net/udp), CPU (user + system, % of one core, over the flood and the
# second after it), and the key answer times. Rate 0 measures the key answers on an idle console.
# --a11y turns PELLUX's accessibility bridge on, on a private AT-SPI bus, with
# bench/a11y_listener.py taking every event as a screen reader does.
# --unprivileged runs PELLUX without CAP_NET_ADMIN (setpriv), so that its receive buffer is capped
# by net.core.rmem_max as any user's is, and gives socat the same buffer (rcvbuf=10 MiB, capped
# the same way); without it, run as root, PELLUX forces its 20 MiB and socat has the default.
set -euo pipefail

args=("$@")
a11y="" unprivileged="" runs=3 rates="5000 20000 50000" seconds=5
while [ $# -gt 1 ]; do
    case "$1" in
        --a11y) a11y=1 ;;
        --unprivileged) unprivileged=1 ;;
        --runs) runs="$2"; shift ;;
        --rates) rates="$2"; shift ;;
        --seconds) seconds="$2"; shift ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
build="$(realpath "${1:?usage: udp_flood.sh [--a11y] [--unprivileged] [--runs R] [--rates LIST] [--seconds S] BUILD_DIR}")"
here="$(dirname "$(realpath "$0")")"

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "${args[@]}"
fi
if [ -n "$a11y" ] && [ -z "${UDP_FLOOD_BUS:-}" ]; then
    export UDP_FLOOD_BUS=1
    exec dbus-run-session -- "$0" "${args[@]}"
fi
work="$(mktemp -d)"
trap 'jobs -p | xargs -r kill 2>/dev/null || true; rm -rf "$work"' EXIT
if [ -n "$a11y" ]; then
    coproc LISTEN { exec /usr/bin/python3 "$here/a11y_listener.py"; }
    read -r -t 30 ready <&"${LISTEN[0]}" && [ "$ready" = listening ] ||
        { echo "the accessibility listener did not start" >&2; exit 1; }
fi

port_hex=2712  # 10002
bound() { awk -v p=":$port_hex" '$2 ~ p"$"' /proc/net/udp | grep -q .; }
drops() { awk -v p=":$port_hex" '$2 ~ p"$" {print $NF}' /proc/net/udp; }
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
cpu() { awk -v t="$1" -v s="$seconds" 'BEGIN {printf "%.1f %%", t / (s + 1)}'; }  # ticks of 10 ms
wait_bound() { for _ in $(seq 200); do bound && return; sleep 0.05; done; echo "nothing bound port 10002" >&2; exit 1; }
flood() { [ "$1" -eq 0 ] && { sleep "$seconds"; echo 0; return; }; "$build/bench/udp_flood" "$1" "$seconds" | cut -d' ' -f1; }

for run in $(seq "$runs"); do
    for rate in $rates; do
        if [ "$rate" -ne 0 ]; then
            socat -u "UDP-RECV:10002${unprivileged:+,rcvbuf=10485760}" - > "$work/socat.out" &
            receiver=$!
            wait_bound
            before=$(ticks $receiver)
            sent=$(flood "$rate")
            sleep 1
            floor="socat: $(( $(stat -c %s "$work/socat.out") / 30 )) of $sent, kernel drops $(drops), CPU $(cpu $(( $(ticks $receiver) - before )))"
            kill $receiver; wait $receiver 2>/dev/null || true
        else
            floor="idle"
        fi

        rm -f "$work/pellux.log"
        ${unprivileged:+setpriv --bounding-set -net_admin} env QT_QPA_PLATFORM=xcb PELLUX_BOARD_ADDRESS=127.0.0.1 PELLUX_LOG="$work/pellux.log" \
            ${a11y:+QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1} "$build/udpconsole/pellux" &
        console=$!
        window=$(xdotool search --sync --name '^UDP Test$' | head -1)
        xdotool windowfocus --sync "$window"
        wait_bound
        coproc KEYS { exec /usr/bin/python3 "$here/key_answer.py"; }
        keys_pid=$KEYS_PID
        read -r _ <&"${KEYS[0]}"
        before=$(ticks $console)
        sent=$(flood "$rate")
        kill -TERM "$keys_pid"
        read -r answers <&"${KEYS[0]}" || answers="no answer times"
        wait "$keys_pid" 2>/dev/null || true
        sleep 1
        kernel=$(drops)
        used=$(( $(ticks $console) - before ))
        kill -TERM $console; wait $console 2>/dev/null || true
        logged=$(awk -v sent="$sent" '
            $3 == "text" && $4 == "datagram" { if ($5 + 0 < next_) order = "NOT in order"; next_ = $5 + 1; n++ }
            $2 == "-" && $3 == "lost" { lost += $4 }
            END { printf "%d of %d %s, %d counted lost", n, sent, order ? order : "in order", lost }' "$work/pellux.log")
        echo "run $run, $rate/s${a11y:+, a11y}${unprivileged:+, unprivileged}: $floor | pellux: log $logged, kernel drops $kernel, CPU $(cpu $used), keys: $answers"
    done
done
