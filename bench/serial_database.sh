#!/usr/bin/env bash
# A gang of eight's values from the state file (lock, issue log, state, each synced) beside the
# same from a line's PostgreSQL database on 127.0.0.1 with fsync on: bench_serial FOLDER URI
# LEAD_URI in each of R runs (the lead's role makes each run's counter), the folder on the same
# disk as the database's.
#
#   bench/serial_database.sh [--runs R] BUILD_DIR
set -euo pipefail
runs=3
[ "${1:-}" != --runs ] || { runs="$2"; shift 2; }
build="$(realpath "${1:?usage: serial_database.sh [--runs R] BUILD_DIR}")"
work=$(mktemp -d)
source "$(dirname "$0")/postgres_server.sh"
cleanup() {
    stop_postgres "$work"
    rm -rf "$work"
}
trap cleanup EXIT
start_postgres "$work"
for run in $(seq "$runs"); do
    echo "run $run:"
    "$build/bench/bench_serial" "$work" "postgresql://station@127.0.0.1:$db_port/morven" \
        "postgresql://lead@127.0.0.1:$db_port/morven"
done
