#!/usr/bin/env bash
# A whole write as the operator runs it, beside the minimal host on the same simulated board.
#
#   bench/whole_write.sh [--pace] [--a11y] [--runs N] [--cli] [--morven PATH] BUILD_DIR
#
# Each run starts a board-sim (paced with --pace), writes a full 0x60000-byte image (random
# bytes, S2 records) with a 291-byte kernel first through bench/minimal_host and then through
# the program, on the same board:
#   default  the real morven on an X server (Xvfb), driven by real mouse and keyboard events
#            (xdotool): click Com1, type the file's path into the file dialog, click "Write";
#            timed from the click to the outcome's message box mapping (xev), CPU from /proc;
#   --cli    morven-cli with --port and --kernel, timed as a whole process.
# --a11y runs the program with the accessibility bridge on (QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1)
# on a private AT-SPI bus, with bench/a11y_listener.py listening as a screen reader would
# (Debian's at-spi2-core and python3-pyatspi). --morven names another build's morven (for a before/after table).
# Prints one line per run: host wall and CPU, program wall and CPU, wall ratio, CPU % of wall.
set -euo pipefail

args=("$@")
pace="" a11y="" runs=3 cli="" morven=""
while [ $# -gt 1 ]; do
    case "$1" in
        --pace) pace="--pace" ;;
        --a11y) a11y=1 ;;
        --cli) cli=1 ;;
        --runs) runs="$2"; shift ;;
        --morven) morven="$2"; shift ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
build="$(realpath "${1:?usage: whole_write.sh [--pace] [--a11y] [--runs N] [--cli] [--morven PATH] BUILD_DIR}")"
morven="${morven:-$build/writer/morven}"

# An X server (for the windows) and a session bus with the accessibility bus on it, each
# entered by running this script again inside it.
if [ -z "$cli" ] && [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "${args[@]}"
fi
if [ -n "$a11y" ] && [ -z "${WHOLE_WRITE_BUS:-}" ]; then
    export WHOLE_WRITE_BUS=1
    exec dbus-run-session -- "$0" "${args[@]}"
fi

work=$(mktemp -d)
cleanup() {
    jobs -p | xargs -r kill 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
if [ -n "$a11y" ]; then
    /usr/libexec/at-spi-bus-launcher --launch-immediately &
    sleep 1
    # A listener on the bus, as a screen reader is on a desktop with assistive technology.
    /usr/bin/python3 "$(dirname "$0")/a11y_listener.py" &
    sleep 1
fi

"$(dirname "$0")/make_inputs.sh" "$work"
mkdir -p "$work/data/morven"
cp "$work/kernel.bin" "$work/data/morven/zididuv.bin"

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
now() { date +%s.%N; }
ticks_per_second=$(getconf CLK_TCK)

# Prints "wall cpu" of one write through the windows.
gui_write() {
    env XDG_DATA_HOME="$work/data" MORVEN_COM1="$work/board" \
        ${a11y:+QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1} "$morven" > /dev/null 2>&1 &
    local pid=$!
    local startup dialog main
    startup=$(xdotool search --sync --name '^Com$' | head -1)
    xdotool mousemove --window "$startup" 16 20 click 1
    dialog=$(xdotool search --sync --name '^Open$' | head -1)
    xdotool windowfocus --sync "$dialog"
    xdotool type --delay 1 "$work/image.mot"
    xdotool key Return
    main=$(xdotool search --sync --name '^SALTOR' | head -1)
    sleep 0.5
    # Windows mapping on the screen, as they happen: the outcome's message box is the next.
    rm -f "$work/events"
    mkfifo "$work/events"
    xev -root -event substructure > "$work/events" &
    local xev=$! events line
    exec {events}< "$work/events"
    sleep 0.3
    local cpu0 t0 t1 cpu1
    cpu0=$(cpu_ticks $pid)
    t0=$(now)
    xdotool mousemove --window "$main" 316 32 click 1
    while read -r -t 600 line <&$events; do
        case "$line" in MapNotify*) break ;; esac
    done
    t1=$(now)
    cpu1=$(cpu_ticks $pid)
    exec {events}<&-
    kill "$xev" $pid
    wait $pid 2>/dev/null || true
    echo "$(echo "$t1 - $t0" | bc -l) $(echo "($cpu1 - $cpu0) / $ticks_per_second" | bc -l)"
}

# Prints "wall cpu" of one command run to its end.
timed() {
    local TIMEFORMAT='%R %U %S' times
    times=$({ time "$@" >/dev/null 2>&1 || echo "failed: $*" >&3; } 3>&2 2>&1)
    echo "$times" | awk '{print $1, $2 + $3}'
}

# The board received the image intact (its checksum matched), then forget it for the next write.
check_image() {
    cmp -s "$work/received.bin" "$work/image.bin" || { echo "$1: the image did not arrive" >&2; exit 1; }
    rm -f "$work/received.bin"
}

printf '%-4s %9s %8s %9s %8s %7s %7s\n' run host_s host_cpu prog_s prog_cpu ratio cpu_%
for run in $(seq "$runs"); do
    "$build/tools/board-sim" $pace --link "$work/board" --image-out "$work/received.bin" > /dev/null &
    board=$!
    while [ ! -L "$work/board" ]; do sleep 0.05; done
    read -r host_wall host_cpu < <(timed "$build/bench/minimal_host" "$work/board" \
        "$work/kernel.bin" "$work/image.bin")
    check_image minimal_host
    if [ -n "$cli" ]; then
        read -r wall cpu < <(timed env ${a11y:+QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1} \
            "$build/writer/morven-cli" --port "$work/board" \
            --kernel "$work/kernel.bin" --quiet "$work/image.mot")
    else
        read -r wall cpu < <(gui_write)
    fi
    check_image "${cli:+morven-cli}${cli:-morven}"
    kill $board
    wait $board 2>/dev/null || true
    printf '%-4s %9.3f %8.3f %9.3f %8.3f %7.3f %7.2f\n' "$run" "$host_wall" "$host_cpu" \
        "$wall" "$cpu" "$(echo "$wall / $host_wall" | bc -l)" "$(echo "100 * $cpu / $wall" | bc -l)"
done
