#!/usr/bin/env bash
# A gang of eight written from the station's window (morven-station on an X server, started
# with F5 as the operator does) and the same gang from morven-cli, side by side in each run, on
# fresh boards, same image and kernel. With --a11y the window runs with the accessibility bridge
# on (QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1) on a private AT-SPI bus, with bench/a11y_listener.py
# listening to every event as a screen reader does (bench/a11y_session.sh).
#
#   bench/station.sh [--pace] [--a11y] [--together] [--runs R] [--boards N] BUILD_DIR
#
# --together writes the two gangs at the same time, each on boards of its own, so that both see
# the same load on a shared machine (otherwise one after the other).
#
# Per run: each board's wall time (the write's own "seconds", from opening the port to the
# outcome) from the window and from morven-cli, the ratio of the window's slowest board to
# morven-cli's, the window's CPU time (user + system, /proc) from the key to the last board's
# record as a share of that span, and morven-cli's CPU time (/usr/bin/time) as a share of its
# slowest board's wall time.
set -euo pipefail

args=("$@")
pace="" a11y="" together="" runs=3 boards=8
while [ $# -gt 1 ]; do
    case "$1" in
        --pace) pace="--pace" ;;
        --a11y) a11y=1 ;;
        --together) together=1 ;;
        --runs) runs="$2"; shift ;;
        --boards) boards="$2"; shift ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
build="$(realpath "${1:?usage: station.sh [--pace] [--a11y] [--runs R] [--boards N] BUILD_DIR}")"

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "${args[@]}"
fi
if [ -n "$a11y" ] && [ -z "${A11Y_SESSION_BUS:-}" ]; then
    exec "$(dirname "$0")/a11y_session.sh" "$0" "${args[@]}"
fi

work=$(mktemp -d)
trap 'jobs -p | xargs -r kill 2>/dev/null || true; rm -rf "$work"' EXIT
"$(dirname "$0")/make_inputs.sh" "$work"
image_sha=$("$build/writer/morven-cli" --check "$work/image.mot" | awk '/^SHA-256:/ {print $2}')
kernel_sha=$(sha256sum "$work/kernel.bin" | cut -d' ' -f1)

# Paced boards FROM to FROM + COUNT - 1: start_boards FROM COUNT.
board_pids=()
start_boards() {
    local k
    for k in $(seq "$1" $(($1 + $2 - 1))); do
        rm -f "$work/board$k"
        "$build/tools/board-sim" $pace --once --link "$work/board$k" > /dev/null &
        board_pids+=($!)
    done
    for k in $(seq "$1" $(($1 + $2 - 1))); do
        while [ ! -L "$work/board$k" ]; do sleep 0.05; done
    done
}

# morven-cli's gang on the boards from $1; its JSON outcomes to $work/cli.json, CPU to cli.cpu.
cli_gang() {
    local k ports=()
    for k in $(seq "$1" $(($1 + boards - 1))); do ports+=(--port "$work/board$k"); done
    /usr/bin/time -f "%U %S" -o "$work/cli.cpu" "$build/writer/morven-cli" --json --quiet --no-log \
        "${ports[@]}" --kernel "$work/kernel.bin" "$work/image.mot" > "$work/cli.json" \
        2> "$work/cli.err" || true
}

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
now() { date +%s.%N; }
ticks_per_second=$(getconf CLK_TCK)
lines() { [ -f "$1" ] && wc -l < "$1" || echo 0; }

# "slowest fastest all-O.K." of the seconds in a JSON lines file.
seconds() {
    python3 - "$1" <<'PY'
import json, sys
rows = [json.loads(line) for line in open(sys.argv[1]) if line.strip()]
s = [r["seconds"] for r in rows]
bad = sorted({r["outcome"] for r in rows if r["outcome"] != "O.K."})
if bad:
    print(f"{sys.argv[1]}: not O.K.: {bad}", file=sys.stderr)
print(f"{max(s):.3f} {min(s):.3f} {'all-O.K.' if not bad else 'NOT-ALL-O.K.'}")
PY
}

printf '%-4s %-30s %-30s %9s %13s %13s\n' run "window: slowest fastest" "morven-cli: slowest fastest" ratio "window CPU %" "cli CPU %"
for run in $(seq "$runs"); do
    board_pids=()
    start_boards 1 "$boards"
    [ -z "$together" ] || start_boards $((boards + 1)) "$boards"
    log="$work/station$run.jsonl"
    port_list=$(for k in $(seq "$boards"); do echo -n "$work/board$k,"; done)
    cat > "$work/station.ini" <<INI
[image]
file = image.mot
sha256 = $image_sha
[kernel]
file = kernel.bin
sha256 = $kernel_sha
[station]
ports = ${port_list%,}
strict = true
log = $log
INI
    env ${a11y:+QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1} "$build/writer/morven-station" "$work/station.ini" \
        > "$work/station.out" 2>&1 &
    pid=$!
    window=$(xdotool search --sync --name '^MORVEN station' | head -1)
    sleep 1
    xdotool windowfocus --sync "$window"
    cpu0=$(cpu_ticks $pid)
    t0=$(now)
    xdotool key --window "$window" F5
    [ -z "$together" ] || { cli_gang $((boards + 1)) & cli=$!; }
    while [ "$(lines "$log")" -lt "$boards" ]; do sleep 0.5; done
    t1=$(now)
    cpu1=$(cpu_ticks $pid)
    kill $pid
    wait $pid 2>/dev/null || true
    read -r w_slow w_fast w_ok < <(seconds "$log")

    if [ -n "$together" ]; then
        wait "$cli"
    else
        start_boards 1 "$boards"
        cli_gang 1
    fi
    wait "${board_pids[@]}"
    read -r c_slow c_fast c_ok < <(seconds "$work/cli.json")
    cpu=$(echo "100 * ($cpu1 - $cpu0) / $ticks_per_second / ($t1 - $t0)" | bc -l)
    cli_cpu=$(awk -v wall="$c_slow" '{ print 100 * ($1 + $2) / wall }' "$work/cli.cpu")
    printf '%-4s %-30s %-30s %9.4f %12.2f%% %12.2f%%\n' "$run" "$w_slow $w_fast $w_ok" \
        "$c_slow $c_fast $c_ok" "$(echo "$w_slow / $c_slow" | bc -l)" "$cpu" "$cli_cpu"
done
