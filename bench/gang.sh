#!/usr/bin/env bash
# Eight boards: written by one gang process (one event loop for all ports), by eight processes
# started together, and one board alone, side by side in each run, same image and kernel.
#
#   bench/gang.sh [--pace] [--runs R] [--boards N] [--bytes B] [--no-processes] [--serial]
#                 [--database] BUILD_DIR
#
# Per run and way of writing: each board's wall time (the write's own "seconds", from opening
# the port to the outcome), as a ratio to the single write's, the CPU time (user + system) of
# all the processes together, and the peak resident memory of the single and the gang process.
# --bytes crops the image (default: the full 0x60000 bytes); --no-processes leaves out the
# eight processes; --serial adds the same gang with a serial number per board (dec:8 at
# 0x5FF00: crop the image below it); --database adds the same gang with its numbers from a
# line's PostgreSQL database, a server of its own on 127.0.0.1 with fsync on (Debian's
# postgresql, run as nobody under root).
set -euo pipefail

pace="" runs=3 boards=8 bytes="" processes=1 serial="" database=""
while [ $# -gt 1 ]; do
    case "$1" in
        --pace) pace="--pace" ;;
        --runs) runs="$2"; shift ;;
        --boards) boards="$2"; shift ;;
        --bytes) bytes="$2"; shift ;;
        --no-processes) processes="" ;;
        --serial) serial=1 ;;
        --database) database=1 ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
build="$(realpath "${1:?usage: gang.sh [--pace] [--runs R] [--boards N] [--bytes B] BUILD_DIR}")"
cli="$build/writer/morven-cli"

work=$(mktemp -d)
source "$(dirname "$0")/postgres_server.sh"
cleanup() {
    jobs -p | xargs -r kill 2>/dev/null || true
    stop_postgres "$work"
    rm -rf "$work"
}
trap cleanup EXIT
if [ -n "$database" ]; then
    start_postgres "$work"
    # The line's lead makes the counter the database gang takes from.
    "$cli" --serial-make-counter --serial-at 0x5FF00 --serial-format dec:8 \
        --serial-state "postgresql://lead@127.0.0.1:$db_port/morven#bench" > /dev/null
fi
"$(dirname "$0")/make_inputs.sh" "$work"
image="$work/image.mot"
if [ -n "$bytes" ]; then
    srec_cat "$work/image.bin" -binary -crop 0 "$bytes" -o "$work/small.mot" -motorola -address-length=3
    image="$work/small.mot"
fi

start_boards() {
    for k in $(seq "$1"); do
        rm -f "$work/board$k"
        "$build/tools/board-sim" $pace --once --link "$work/board$k" > /dev/null &
    done
    for k in $(seq "$1"); do
        while [ ! -L "$work/board$k" ]; do sleep 0.05; done
    done
}

# morven-cli with these ports; its JSON outcomes to $1.json, its CPU seconds to $1.cpu.
# Options for morven-cli go in $extra.
extra=()
write() {
    local out="$1"; shift
    local ports=()
    for k in "$@"; do ports+=(--port "$work/board$k"); done
    local record=(--no-log)
    [[ " ${extra[*]} " != *" --log "* ]] || record=()
    /usr/bin/time -f "%U %S %M %e" -o "$out.cpu" "$cli" --json --quiet "${record[@]}" "${ports[@]}" "${extra[@]}" \
        --kernel "$work/kernel.bin" "$image" > "$out.json" 2> "$out.err"
}

# "min–max ratio to $1, all O.K.?" over the seconds in the JSON files given.
summary() {
    local single="$1"; shift
    python3 - "$single" "$@" <<'PY'
import json, sys
single = float(sys.argv[1])
rows = [json.loads(line) for path in sys.argv[2:] for line in open(path) if line.strip()]
ok = all(r["outcome"] == "O.K." for r in rows)
seconds = [r["seconds"] for r in rows]
print(f"{min(seconds):.3f}-{max(seconds):.3f} s, ratio {min(seconds)/single:.4f}-{max(seconds)/single:.4f}, {len(rows)} boards {'all O.K.' if ok else 'NOT ALL O.K.'}")
PY
}
cpu() { awk '{ s += $1 + $2 } END { printf "%.3f s", s }' "$@"; }
peak() { awk '{ printf "%.1f MiB peak", $3 / 1024 }' "$1"; }
# The process's own wall time: with --serial it includes taking the values before any port opens.
wall() { awk '{ printf "process %.2f s", $4 }' "$1"; }

echo "image $(basename "$image"), ${bytes:-full}, $boards boards${pace:+, paced}"
for run in $(seq "$runs"); do
    start_boards 1
    write "$work/single" 1
    wait
    single=$(python3 -c "import json; print(json.load(open('$work/single.json'))['seconds'])")

    start_boards "$boards"
    write "$work/gang" $(seq "$boards")
    wait

    echo "run $run: single $single s, CPU $(cpu "$work/single.cpu"), $(peak "$work/single.cpu")"
    echo "  gang:      $(summary "$single" "$work/gang.json"), CPU $(cpu "$work/gang.cpu"), $(peak "$work/gang.cpu"), $(wall "$work/gang.cpu")"
    if [ -n "$serial" ]; then
        start_boards "$boards"
        extra=(--serial-at 0x5FF00 --serial-format dec:8 --serial-state "$work/counter")
        write "$work/serial" $(seq "$boards")
        extra=()
        wait
        echo "  serial:    $(summary "$single" "$work/serial.json"), CPU $(cpu "$work/serial.cpu"), $(peak "$work/serial.cpu"), $(wall "$work/serial.cpu")"
    fi
    if [ -n "$database" ]; then
        start_boards "$boards"
        # Its write ends update their rows: the log they would wait in when the database is away.
        extra=(--serial-at 0x5FF00 --serial-format dec:8 --log "$work/database.jsonl"
               --serial-state "postgresql://station@127.0.0.1:$db_port/morven#bench")
        write "$work/database" $(seq "$boards")
        extra=()
        wait
        echo "  database:  $(summary "$single" "$work/database.json"), CPU $(cpu "$work/database.cpu"), $(peak "$work/database.cpu"), $(wall "$work/database.cpu")"
    fi
    [ -n "$processes" ] || continue
    start_boards "$boards"
    for k in $(seq "$boards"); do write "$work/proc$k" "$k" & done
    wait
    echo "  processes: $(summary "$single" "$work"/proc*.json), CPU $(cpu "$work"/proc*.cpu)"
done
