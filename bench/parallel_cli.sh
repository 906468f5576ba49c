#!/usr/bin/env bash
# Several boards written at once: one morven-cli write alone on a paced board-sim, then N
# (default 4) at once, each on its own paced board-sim, same full image and kernel.
#
#   bench/parallel_cli.sh [--runs R] [--writers N] BUILD_DIR
#
# Prints, per run, the single write's wall time and each parallel write's wall time with its
# ratio to the single one.
set -euo pipefail

runs=3 writers=4
while [ $# -gt 1 ]; do
    case "$1" in
        --runs) runs="$2"; shift ;;
        --writers) writers="$2"; shift ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
build="$(realpath "${1:?usage: parallel_cli.sh [--runs R] [--writers N] BUILD_DIR}")"

work=$(mktemp -d)
cleanup() {
    jobs -p | xargs -r kill 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$(dirname "$0")/make_inputs.sh" "$work"

# Starts boards 1..$1, each paced, linked as $work/boardK.
start_boards() {
    for k in $(seq "$1"); do
        rm -f "$work/board$k"
        "$build/tools/board-sim" --pace --once --link "$work/board$k" > /dev/null &
    done
    for k in $(seq "$1"); do
        while [ ! -L "$work/board$k" ]; do sleep 0.05; done
    done
}

# Writes board $1 and leaves "wall status" in $work/result$1.
write_board() {
    local start end status=0
    start=$(date +%s.%N)
    "$build/writer/morven-cli" --quiet --port "$work/board$1" --kernel "$work/kernel.bin" \
        "$work/image.mot" > /dev/null || status=$?
    end=$(date +%s.%N)
    echo "$(echo "$end - $start" | bc -l) $status" > "$work/result$1"
}

for run in $(seq "$runs"); do
    start_boards 1
    write_board 1
    wait
    read -r single status < "$work/result1"
    [ "$status" = 0 ] || { echo "single write failed: $status" >&2; exit 1; }
    printf 'run %s: single %.3f s;' "$run" "$single"

    start_boards "$writers"
    for k in $(seq "$writers"); do write_board "$k" & done
    wait
    for k in $(seq "$writers"); do
        read -r wall status < "$work/result$k"
        [ "$status" = 0 ] || { echo "write $k failed: $status" >&2; exit 1; }
        printf ' %.3f s (%.4f)' "$wall" "$(echo "$wall / $single" | bc -l)"
    done
    echo
done
