#!/usr/bin/env bash
# The benchmarks' inputs, the same every time: a 291-byte kernel and a full 0x60000-byte image
# of random bytes, as raw bytes and as S2 records.   Usage: bench/make_inputs.sh DIR
# Writes DIR/kernel.bin, DIR/image.bin and DIR/image.mot.
set -euo pipefail
dir="${1:?usage: make_inputs.sh DIR}"
random_bytes() {
    python3 -c "import random,sys; r=random.Random($1); sys.stdout.buffer.write(bytes(r.getrandbits(8) for _ in range($2)))"
}
random_bytes 291 291 > "$dir/kernel.bin"
random_bytes 7 0x60000 > "$dir/image.bin"
srec_cat "$dir/image.bin" -binary -o "$dir/image.mot" -motorola -address-length=3
