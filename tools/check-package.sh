#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it: its file list, its dependencies,
# the desktop entries and metainfo files it carries, and that each program starts from a copy
# unpacked into a temporary root (dpkg -x).   Usage: tools/check-package.sh BUILD_DIR
set -euo pipefail
build="$(realpath "${1:?usage: check-package.sh BUILD_DIR}")"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

(cd "$build" && cpack -G DEB -B "$root/out" >/dev/null)
deb=$(ls "$root"/out/*.deb)

expected="./usr/bin/morven
./usr/bin/morven-cli
./usr/bin/pellux
./usr/share/applications/morven.desktop
./usr/share/applications/pellux.desktop
./usr/share/icons/hicolor/scalable/apps/morven.svg
./usr/share/icons/hicolor/scalable/apps/pellux.svg
./usr/share/metainfo/morven.metainfo.xml
./usr/share/metainfo/pellux.metainfo.xml"
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
if [ "$actual" != "$expected" ]; then
    echo "unexpected file list:"; diff <(echo "$expected") <(echo "$actual") || true
    exit 1
fi
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6serialport6 libqt6widgets6 libqt6network6; do
    [[ "$depends" == *"$library"* ]] || { echo "Depends lacks $library: $depends"; exit 1; }
done
[ "$(dpkg-deb -f "$deb" Recommends)" = "fonts-ipafont-gothic" ] || { echo "Recommends is wrong"; exit 1; }

dpkg -x "$deb" "$root/fs"
desktop-file-validate "$root"/fs/usr/share/applications/*.desktop
appstreamcli validate --no-net "$root"/fs/usr/share/metainfo/*.xml >/dev/null

"$root/fs/usr/bin/morven-cli" --version | grep -q "morven-cli 1.0"
"$root/fs/usr/bin/morven-cli" --help | grep -q "Exit status"
# The windows start offscreen and keep running until stopped: status 124 from timeout.
mkdir -p "$root/data/morven"
echo kernel > "$root/data/morven/zididuv.bin"
for program in morven pellux; do
    status=0
    XDG_DATA_HOME="$root/data" PELLUX_BOARD_ADDRESS=127.0.0.1 QT_QPA_PLATFORM=offscreen \
        timeout 2 "$root/fs/usr/bin/$program" || status=$?
    [ "$status" -eq 124 ] || { echo "$program ended with status $status"; exit 1; }
done
echo "package $(basename "$deb") checked"
