#!/usr/bin/env bash
# morven-cli --check on a full-image file beside the tool people use on it, both as whole
# processes, side by side in each run: S-records and Intel HEX beside srec_info, ELF beside
# objcopy -O binary (which loads it the same way).
#   Usage: bench/check_vs_srec_info.sh BUILD_DIR [RUNS] [motorola|intel|elf]
set -euo pipefail
build="$(realpath "${1:?usage: check_vs_srec_info.sh BUILD_DIR [RUNS]}")"
runs="${2:-3}"
format="${3:-motorola}"
repeats=20
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
bash "$(dirname "$0")/make_inputs.sh" "$dir"
file="$dir/image.mot"
theirs=(srec_info "$file" -motorola)
if [ "$format" = intel ]; then
    file="$dir/image.hex"
    srec_cat "$dir/image.bin" -binary -o "$file" -intel
    theirs=(srec_info "$file" -intel)
elif [ "$format" = elf ]; then
    file="$dir/image.elf"
    (cd "$dir" && ld -m elf_x86_64 -b binary -N --section-start=.data=0 -e 0 -o image.elf image.bin)
    theirs=(objcopy -O binary "$file" "$dir/out.bin")
fi
cli="$build/writer/morven-cli"
"$cli" --check "$file" | grep -q "verdict:   would be written"

# Mean wall milliseconds of one process over $repeats.
mean_ms() {
    local start end
    start=$(date +%s%N)
    for _ in $(seq "$repeats"); do "$@" >/dev/null; done
    end=$(date +%s%N)
    awk "BEGIN { printf \"%.2f\", ($end - $start) / 1000000 / $repeats }"
}

echo "file: $(stat -c %s "$file") bytes ($format); mean of $repeats processes"
for run in $(seq "$runs"); do
    ours=$(mean_ms "$cli" --check "$file")
    reference=$(mean_ms "${theirs[@]}")
    echo "run $run: morven-cli --check ${ours} ms, ${theirs[0]} ${reference} ms, ratio $(awk "BEGIN { printf \"%.3f\", $ours / $reference }")"
done
