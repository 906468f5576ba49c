#!/usr/bin/env bash
# A write through ser2net (RFC 2217) on 127.0.0.1 beside the same write on a local pty, side by
# side in each run: the time a network adds.
#
#   bench/network_write.sh [--pace] [--runs R] [--kernel BYTES] [--bytes B] [--rtt "0 10 20"] BUILD_DIR
#
# Per run: the write's own seconds (from opening the port to the outcome) on the local pty,
# through ser2net with chardelay off, through ser2net with its default chardelay, and through
# ser2net behind a proxy adding each round trip given (ms, chardelay off). Every write's board
# image is checked.
set -euo pipefail
PATH="$PATH:/usr/sbin"  # where Debian puts ser2net

pace="" runs=3 kernel_bytes=291 bytes="" rtts=""
while [ $# -gt 1 ]; do
    case "$1" in
        --pace) pace="--pace" ;;
        --runs) runs="$2"; shift ;;
        --kernel) kernel_bytes="$2"; shift ;;
        --bytes) bytes="$2"; shift ;;
        --rtt) rtts="$2"; shift ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
build="$(realpath "${1:?usage: network_write.sh [--pace] [--runs R] [--kernel BYTES] [--bytes B] [--rtt MS...] BUILD_DIR}")"
bench="$(dirname "$(realpath "$0")")"
work=$(mktemp -d)
cleanup() {
    jobs -p | xargs -r kill 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
"$bench/make_inputs.sh" "$work"
head -c "$kernel_bytes" /dev/zero | tr '\0' '\132' > "$work/kernel.bin"
image="$work/image.mot" binary="$work/image.bin"
if [ -n "$bytes" ]; then
    head -c "$bytes" "$work/image.bin" > "$work/small.bin"
    srec_cat "$work/small.bin" -binary -o "$work/small.mot" -motorola -address-length=3
    image="$work/small.mot" binary="$work/small.bin"
fi
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
listening() { grep -qi "0100007F:$(printf '%04X' "$1") 00000000:0000 0A" /proc/net/tcp; }

# One write of the image to a fresh board through what "$1" says; prints its seconds.
write_through() {
    local way="$1" rtt="${2:-0}"
    rm -f "$work/board" "$work/received.bin"
    "$build/tools/board-sim" $pace --once --link "$work/board" --image-out "$work/received.bin" > /dev/null &
    local board=$!
    while [ ! -L "$work/board" ]; do sleep 0.02; done
    local port="$work/board" server="" proxy=""
    if [ "$way" != local ]; then
        local tcp; tcp=$(free_port)
        printf 'connection: &b\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%s\n  connector: serialdev,%s,19200n81,local\n  options:\n    chardelay: %s\n' \
            "$tcp" "$(readlink "$work/board")" "$([ "$way" = chardelay ] && echo true || echo false)" > "$work/ser2net.yaml"
        ser2net -n -d -u -c "$work/ser2net.yaml" 2> /dev/null &
        server=$!
        while ! listening "$tcp"; do sleep 0.02; done
        port="rfc2217://127.0.0.1:$tcp"
        if [ "$rtt" != 0 ]; then
            local front; front=$(free_port)
            python3 "$bench/delay_proxy.py" "$front" "$tcp" "$(awk "BEGIN { print $rtt / 2 }")" &
            proxy=$!
            while ! listening "$front"; do sleep 0.02; done
            port="rfc2217://127.0.0.1:$front"
        fi
    fi
    "$build/writer/morven-cli" --json --quiet --no-log --port "$port" --kernel "$work/kernel.bin" "$image" > "$work/out.json"
    wait "$board" || true
    [ -n "$proxy" ] && kill "$proxy" 2>/dev/null; [ -n "$server" ] && kill "$server" 2>/dev/null
    wait 2>/dev/null || true
    cmp -s "$binary" "$work/received.bin" || { echo "board image differs ($way)" >&2; exit 1; }
    python3 -c "import json; r = json.load(open('$work/out.json')); assert r['outcome'] == 'O.K.', r; print(r['seconds'])"
}

echo "image $(basename "$image") ${bytes:-full}, kernel $kernel_bytes bytes${pace:+, paced}"
for run in $(seq "$runs"); do
    local_s=$(write_through local)
    net_s=$(write_through network)
    delay_s=$(write_through chardelay)
    ratio() { awk "BEGIN { printf \"%.4f\", $1 / $2 }"; }
    line="run $run: local $local_s s, ser2net $net_s s ($(ratio "$net_s" "$local_s")x), default chardelay $delay_s s ($(ratio "$delay_s" "$local_s")x)"
    for rtt in $rtts; do line+=", +${rtt} ms round trip $(write_through network "$rtt") s"; done
    echo "$line"
done
