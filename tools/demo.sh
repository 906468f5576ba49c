#!/usr/bin/env bash
# Sets everything up and runs MORVEN on the simulated board: click Com1, pick
# tools/samples/sample.mot, click "Write". The simulated board stops when MORVEN ends.
# Without a display (a server, a container, CI) nobody could click: the same write then runs
# through morven-cli, with its progress, and the script ends with its status.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build

work=$(mktemp -d)
cleanup() {
    [ -n "${board_pid:-}" ] && kill "$board_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" INT TERM

# A stand-in kernel: the simulated board echoes whatever it is given.
mkdir -p "$work/data/morven"
head -c 1024 /dev/urandom > "$work/data/morven/zididuv.bin"

build/tools/board-sim --link "$work/board" > "$work/board.out" &
board_pid=$!
for _ in $(seq 50); do [ -L "$work/board" ] && break; sleep 0.1; done

sample="$PWD/tools/samples/sample.mot"
echo "Simulated board on $(head -n 1 "$work/board.out") as COM1; sample file: $sample"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: writing $sample through morven-cli instead of the windows."
    status=0
    XDG_DATA_HOME="$work/data" MORVEN_COM1="$work/board" build/writer/morven-cli --port COM1 --log "$work/writes.jsonl" \
        "$sample" || status=$?
    echo "The write's record: $(cat "$work/writes.jsonl" 2>/dev/null)"
    exit "$status"
fi
XDG_DATA_HOME="$work/data" MORVEN_COM1="$work/board" build/writer/morven
