#!/usr/bin/env bash
# labgrid's own client (Debian's python3-labgrid and its pytest plugin, no coordinator) writes
# the simulated board with contrib/labgrid's driver through ser2net on 127.0.0.1, and then on the
# "exporter" itself through an OpenSSH server on 127.0.0.1 (ssh_device); the board's received
# image must equal the file's each time.   Usage: labgrid_check.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
PATH="$PATH:/usr/sbin"  # where Debian puts ser2net
source_dir="$(realpath "$1")" build="$(realpath "$2")"
work=$(mktemp -d)
cleanup() {
    jobs -p | xargs -r kill 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$build/tools/board-sim" --link "$work/board" --image-out "$work/received.bin" > /dev/null &
for _ in $(seq 50); do [ -L "$work/board" ] && break; sleep 0.1; done
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$work/ser2net.yaml" <<YAML
connection: &board
  accepter: telnet(rfc2217),tcp,127.0.0.1,$port
  connector: serialdev,$(readlink "$work/board"),19200n81,local
YAML
ser2net -n -d -u -c "$work/ser2net.yaml" 2> "$work/ser2net.err" &
ser2net=$!
listening() { grep -qi "0100007F:$(printf '%04X' "$port") 00000000:0000 0A" /proc/net/tcp; }
for _ in $(seq 50); do listening && break; sleep 0.1; done

head -c 3000 /dev/urandom > "$work/kernel.bin"
head -c 20000 /dev/urandom > "$work/image.bin"
srec_cat "$work/image.bin" -binary -o "$work/firmware.hex" -intel
cat > "$work/environment.yaml" <<YAML
targets:
  main:
    resources:
      NetworkSerialPort:
        host: 127.0.0.1
        port: $port
        speed: 19200
    drivers:
      MorvenDriver:
        image: firmware
        kernel: $work/kernel.bin
        morven_cli: $build/writer/morven-cli
        log: $work/writes.jsonl
images:
  firmware: $work/firmware.hex
imports:
  - $source_dir/contrib/labgrid/morvendriver.py
YAML
(cd "$work" && /usr/bin/python3 -m pytest -q -p no:cacheprovider --lg-env "$work/environment.yaml" \
    "$source_dir/contrib/labgrid/test_morven.py")
cmp "$work/image.bin" "$work/received.bin"
grep -q '"format":"Intel HEX"' "$work/writes.jsonl"
echo "labgrid wrote the board through ser2net"

# The same through ssh, on the board's machine: ser2net lets go of the device first.
kill "$ser2net"
wait "$ser2net" 2> /dev/null || true
rm -f "$work/received.bin"
source "$source_dir/tools/loopback-sshd.sh"
start_loopback_sshd "$work" "$build/writer"
sed -i "s|        log: .*|&\n        ssh_device: $(readlink "$work/board")|" "$work/environment.yaml"
(cd "$work" && /usr/bin/python3 -m pytest -q -p no:cacheprovider --lg-env "$work/environment.yaml" \
    "$source_dir/contrib/labgrid/test_morven.py")
cmp "$work/image.bin" "$work/received.bin"
grep -q "\"device\":\"ssh://127.0.0.1$(readlink "$work/board")\"" "$work/writes.jsonl"
grep -q '"outcome":"O.K."' "$work/remote-state/morven/writes.jsonl"
echo "labgrid wrote the board on its own machine through ssh"
