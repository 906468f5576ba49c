#!/usr/bin/env bash
# morven-cli --check on a full-image S-record file beside srec_info on the same file, both as
# whole processes, side by side in each run.   Usage: bench/check_vs_srec_info.sh BUILD_DIR [RUNS]
set -euo pipefail
build="$(realpath "${1:?usage: check_vs_srec_info.sh BUILD_DIR [RUNS]}")"
runs="${2:-3}"
repeats=20
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
bash "$(dirname "$0")/make_inputs.sh" "$dir"
cli="$build/writer/morven-cli"
"$cli" --check "$dir/image.mot" | grep -q "verdict:   would be written"

# Mean wall milliseconds of one process over $repeats.
mean_ms() {
    local start end
    start=$(date +%s%N)
    for _ in $(seq "$repeats"); do "$@" >/dev/null; done
    end=$(date +%s%N)
    echo "scale=2; ($end - $start) / 1000000 / $repeats" | bc
}

echo "file: $(stat -c %s "$dir/image.mot") bytes of S2 records; mean of $repeats processes"
for run in $(seq "$runs"); do
    ours=$(mean_ms "$cli" --check "$dir/image.mot")
    theirs=$(mean_ms srec_info "$dir/image.mot")
    echo "run $run: morven-cli --check ${ours} ms, srec_info ${theirs} ms, ratio $(echo "scale=3; $ours / $theirs" | bc)"
done
