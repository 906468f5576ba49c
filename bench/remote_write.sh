#!/usr/bin/env bash
# A write to a board on another machine, written there through ssh://, beside the same write on
# a local pty and through rfc2217:// (ser2net), all started at the same moment on fresh boards:
# on a shared machine each run's load weighs on every way alike.
#
#   bench/remote_write.sh [--pace] [--runs R] [--bytes B] [--rtt MS] [--only-rfc2217 | --only-ssh]
#                         [--client NAME=MORVEN_CLI]... BUILD_DIR
#
# Per run, the write's own seconds (morven-cli's record: from starting to the outcome) of:
# local; ser2net on loopback; ssh:// on loopback; ssh:// and ser2net behind bench/delay_proxy.py
# adding the round trip (default 30 ms). For ssh:// also the remote's own seconds (its record on
# the board's machine): the difference is the start-up (login, transfer) and the way back.
# The OpenSSH server runs on 127.0.0.1 with keys and configuration in a temporary folder.
# --client adds a write through ser2net on loopback by another morven-cli (an older build), and
# --only-rfc2217 leaves out ssh:// and the round trip: local and ser2net only; --only-ssh leaves
# out ser2net: local and ssh:// only.
set -euo pipefail
PATH="$PATH:/usr/sbin"  # where Debian puts ser2net and sshd

pace="" runs=3 bytes="" rtt=30 only_rfc2217="" only_ssh="" clients=()
while [ $# -gt 1 ]; do
    case "$1" in
        --pace) pace="--pace" ;;
        --runs) runs="$2"; shift ;;
        --bytes) bytes="$2"; shift ;;
        --rtt) rtt="$2"; shift ;;
        --only-rfc2217) only_rfc2217=1 ;;
        --only-ssh) only_ssh=1 ;;
        --client) clients+=("$2"); shift ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
build="$(realpath "${1:?usage: remote_write.sh [--pace] [--runs R] [--bytes B] [--rtt MS] BUILD_DIR}")"
bench="$(dirname "$(realpath "$0")")"
work=$(mktemp -d)
cleanup() {
    jobs -p | xargs -r kill 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
"$bench/make_inputs.sh" "$work" > /dev/null
head -c 291 /dev/zero | tr '\0' '\132' > "$work/kernel.bin"
image="$work/image.mot" binary="$work/image.bin"
if [ -n "$bytes" ]; then
    head -c "$bytes" "$work/image.bin" > "$work/small.bin"
    srec_cat "$work/small.bin" -binary -o "$work/small.mot" -motorola -address-length=3
    image="$work/small.mot" binary="$work/small.bin"
fi
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
listening() { grep -qi "0100007F:$(printf '%04X' "$1") 00000000:0000 0A" /proc/net/tcp; }

# The OpenSSH server: its logins find the build's morven-cli first.
source "$bench/../tools/loopback-sshd.sh"
start_loopback_sshd "$work" "$build/writer"

# One write of the image to a fresh board through "$1" (local, ser2net or ssh), behind a proxy
# adding "$2" ms of round trip, by the morven-cli "$3"; prints its seconds, and for ssh the
# remote's own after a slash.
write_through() {
    local way="$1" delay="$2" cli="$3" dir="$work/write-$4"
    mkdir -p "$dir"
    rm -f "$dir/board" "$dir/received.bin" "$dir/remote.jsonl"
    "$build/tools/board-sim" $pace --once --link "$dir/board" --image-out "$dir/received.bin" > /dev/null &
    local board=$!
    while [ ! -L "$dir/board" ]; do sleep 0.02; done
    local tty; tty=$(readlink "$dir/board")
    local port="$tty" server="" proxy="" target=""
    if [ "$way" = ser2net ]; then
        target=$(free_port)
        printf 'connection: &b\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%s\n  connector: serialdev,%s,19200n81,local\n  options:\n    chardelay: false\n' \
            "$target" "$tty" > "$dir/ser2net.yaml"
        ser2net -n -d -u -c "$dir/ser2net.yaml" 2> /dev/null &
        server=$!
        while ! listening "$target"; do sleep 0.02; done
    elif [ "$way" = ssh ]; then
        target=$ssh_port
    fi
    local front="$target"
    if [ "$delay" != 0 ]; then
        front=$(free_port)
        python3 "$bench/delay_proxy.py" "$front" "$target" "$(awk "BEGIN { print $delay / 2 }")" &
        proxy=$!
        while ! listening "$front"; do sleep 0.02; done
    fi
    [ "$way" = ser2net ] && port="rfc2217://127.0.0.1:$front"
    [ "$way" = ssh ] && port="ssh://127.0.0.1:$front$tty"
    # A write that does not end "O.K." is shown as its outcome, and the others go on.
    "$cli" --json --quiet --no-log --port "$port" --kernel "$work/kernel.bin" "$image" > "$dir/out.json" || true
    [ -z "$proxy" ] || kill "$proxy" 2> /dev/null || true
    [ -z "$server" ] || kill "$server" 2> /dev/null || true
    if ! python3 -c "import json, sys; sys.exit(json.load(open('$dir/out.json'))['outcome'] != 'O.K.')"; then
        kill "$board" 2> /dev/null
        python3 -c "import json; print('\"%s\"' % json.load(open('$dir/out.json'))['outcome'])"
        return
    fi
    wait "$board" || true
    cmp -s "$binary" "$dir/received.bin" || { echo "board image differs ($way $delay)" >&2; exit 1; }
    local remote=""
    if [ "$way" = ssh ]; then
        # The remote's record of this board, on the board's machine.
        remote=$(python3 -c "
import json, sys
for line in open('$work/remote-state/morven/writes.jsonl'):
    r = json.loads(line)
    if r['device'] == '$tty': s = r['seconds']
print('/%s' % s)")
    fi
    python3 -c "import json; r = json.load(open('$dir/out.json')); assert r['outcome'] == 'O.K.', r; print('%s$remote' % r['seconds'])"
}

echo "image $(basename "$image") ${bytes:-full}, kernel 291 bytes${pace:+, paced}, +$rtt ms round trip; seconds (ssh: here/remote)"
for run in $(seq "$runs"); do
    ways=("local 0 this")
    [ -n "$only_ssh" ] || ways+=("ser2net 0 this")
    [ -n "$only_rfc2217" ] || ways+=("ssh 0 this" "ssh $rtt this")
    [ -n "$only_rfc2217" ] || [ -n "$only_ssh" ] || ways+=("ser2net $rtt this")
    for client in "${clients[@]}"; do ways+=("ser2net 0 $client"); done
    writes=()
    for i in "${!ways[@]}"; do
        read -r way delay name <<< "${ways[$i]}"
        cli="$build/writer/morven-cli"
        [ "$name" = this ] || cli="${name#*=}"
        write_through "$way" "$delay" "$cli" "$i" > "$work/result-$i" &
        writes+=($!)
    done
    for write in "${writes[@]}"; do wait "$write"; done
    line="run $run:"
    local_s=$(cat "$work/result-0")
    for i in "${!ways[@]}"; do
        read -r way delay name <<< "${ways[$i]}"
        result=$(cat "$work/result-$i")
        here=${result%%/*}
        ratio="-"
        [[ "$here" =~ ^[0-9.]+$ ]] && ratio=$(awk "BEGIN { printf \"%.4f\", $here / $local_s }")x
        line+=" $way+${delay}ms(${name%%=*}) $result ($ratio)"
    done
    echo "$line"
done
