#!/usr/bin/env bash
# A gang's values from a state file beside the same from a line's PostgreSQL database on
# 127.0.0.1, both synced to the same disk: bench_serial_take in each of R runs, each run with a
# fresh state and a fresh counter.
#
#   bench/serial_take.sh [--runs R] BUILD_DIR
set -euo pipefail
runs=3
[ "${1:-}" != --runs ] || { runs="$2"; shift 2; }
build="$(realpath "${1:?usage: serial_take.sh [--runs R] BUILD_DIR}")"
work=$(mktemp -d)
source "$(dirname "$0")/postgres_server.sh"
cleanup() {
    stop_postgres "$work"
    rm -rf "$work"
}
trap cleanup EXIT
start_postgres "$work"
for run in $(seq "$runs"); do
    mkdir "$work/run$run"
    echo "run $run:"
    "$build/bench/bench_serial_take" "postgresql://station@127.0.0.1:$db_port/morven" "$work/run$run"
done
