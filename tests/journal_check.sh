#!/usr/bin/env bash
# A write's record reaches the systemd journal: in a private mount namespace (a fresh /run), a
# receiver binds the journal's socket as journald would, morven-cli writes the simulated board,
# and the fields that arrive are parsed and checked. Needs root, for the namespace.
#   Usage: journal_check.sh BUILD_DIR
set -euo pipefail
build="$(realpath "$1")"
if [ -z "${IN_NAMESPACE:-}" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "journal_check needs root for its mount namespace" >&2; exit 1; }
    exec env IN_NAMESPACE=1 unshare --mount --propagation private "$0" "$@"
fi
mount -t tmpfs tmpfs /run
mkdir -p /run/systemd/journal
work=$(mktemp -d)
cleanup() { jobs -p | xargs -r kill 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

python3 - "$work/fields.json" <<'PY' &
import json, socket, struct, sys
receiver = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
receiver.bind("/run/systemd/journal/socket")
receiver.settimeout(60)
data = receiver.recv(1 << 20)
fields, at = {}, 0
while at < len(data):  # journald's native protocol: KEY=VALUE\n, or KEY\n<u64 length>VALUE\n
    end = data.index(b"\n", at)
    line = data[at:end]
    if b"=" in line:
        key, value = line.split(b"=", 1)
        at = end + 1
    else:
        key, (size,) = line, struct.unpack("<Q", data[end + 1:end + 9])
        value, at = data[end + 9:end + 9 + size], end + 10 + size
    fields[key.decode()] = value.decode()
json.dump(fields, open(sys.argv[1], "w"))
PY
for _ in $(seq 50); do [ -S /run/systemd/journal/socket ] && break; sleep 0.1; done

"$build/tools/board-sim" --link "$work/board" > /dev/null &
for _ in $(seq 50); do [ -L "$work/board" ] && break; sleep 0.1; done
printf 'S1130000000102030405060708090A0B0C0D0E0F74\n' > "$work/program.mot"
head -c 32 /dev/zero > "$work/kernel.bin"
"$build/writer/morven-cli" --quiet --log "$work/writes.jsonl" --port "$work/board" \
    --kernel "$work/kernel.bin" --serial-at 0x100 --serial-format dec:4 --serial-start 42 \
    --serial-state "$work/counter" "$work/program.mot"
wait %1
python3 - "$work/fields.json" "$work/writes.jsonl" "$work/board" <<'PY'
import json, sys
fields = json.load(open(sys.argv[1]))
record = json.loads(open(sys.argv[2]).readline())
expected = {
    "MESSAGE_ID": "4f2a9c7e1d6b4a83b5e07c91d2f4a6b8",
    "MORVEN_PORT": sys.argv[3], "MORVEN_DEVICE": sys.argv[3], "MORVEN_ADAPTER_SERIAL": "",
    "MORVEN_IMAGE_SHA256": record["sha256"], "MORVEN_SERIAL_VALUE": "42",
    "MORVEN_OUTCOME": "O.K.", "MORVEN_STATUS": "0", "MORVEN_N": "260",
    "MORVEN_FORMAT": "S-record", "SYSLOG_IDENTIFIER": "morven-cli", "PRIORITY": "6",
}
wrong = {key: (fields.get(key), value) for key, value in expected.items() if fields.get(key) != value}
assert not wrong, wrong
message = fields["MESSAGE"]
assert "O.K." in message and sys.argv[3] in message and "serial 42" in message, message
print("journal fields:", ", ".join(sorted(fields)))
PY
