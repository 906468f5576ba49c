#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it: lintian (no error, no warning),
# its file list, its dependencies, the manual pages (rendered without a warning), the desktop
# entries and metainfo files, the maintainer script, and that each program starts from a copy
# unpacked into a temporary root (dpkg -x).   Usage: tools/check-package.sh BUILD_DIR
set -euo pipefail
build="$(realpath "${1:?usage: check-package.sh BUILD_DIR}")"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
cache_before=$(md5sum < "$build/CMakeCache.txt")
caller_cache="$build/CMakeCache.txt"

# The package needs a maintainer. A build without one is left as it is: the check packages a
# build of its own beside it, with a placeholder that no real package can inherit.
if ! grep -q '^BENCHTOOLS_MAINTAINER:STRING=.' "$build/CMakeCache.txt"; then
    source_dir=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")
    own="$build-package-check"
    cmake -S "$source_dir" -B "$own" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
        -DBENCHTOOLS_MAINTAINER="Bench Tools Package Check <package-check@example.com>" > /dev/null
    build="$own"
fi
cmake --build "$build" > /dev/null
(cd "$build" && cpack -G DEB -B "$root/out" >/dev/null)
deb=$(ls "$root"/out/*.deb)

expected="./usr/bin/morven
./usr/bin/morven-cli
./usr/bin/morven-station
./usr/bin/pellux
./usr/share/applications/morven-station.desktop
./usr/share/applications/morven.desktop
./usr/share/applications/pellux.desktop
./usr/share/bash-completion/completions/morven-cli
./usr/share/benchtools/translations/morven_ja.qm
./usr/share/benchtools/translations/pellux_ja.qm
./usr/share/doc/benchtools/changelog.gz
./usr/share/doc/benchtools/copyright
./usr/share/icons/hicolor/scalable/apps/morven.svg
./usr/share/icons/hicolor/scalable/apps/pellux.svg
./usr/share/man/man1/morven-cli.1.gz
./usr/share/man/man1/morven-station.1.gz
./usr/share/man/man1/morven.1.gz
./usr/share/man/man1/pellux.1.gz
./usr/share/metainfo/morven-station.metainfo.xml
./usr/share/metainfo/morven.metainfo.xml
./usr/share/metainfo/pellux.metainfo.xml
./usr/share/morven/morven-line.sql"
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
if [ "$actual" != "$expected" ]; then
    echo "unexpected file list:"; diff <(echo "$expected") <(echo "$actual") || true
    exit 1
fi
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6serialport6 libqt6widgets6 libqt6network6 openssh-client; do
    [[ "$depends" == *"$library"* ]] || { echo "Depends lacks $library: $depends"; exit 1; }
done
[ "$(dpkg-deb -f "$deb" Recommends)" = "fonts-ipafont-gothic, qt6-translations-l10n" ] ||
    { echo "Recommends is wrong"; exit 1; }

# Errors and warnings fail the check; informational tags may stay.
lintian_out=$(lintian --fail-on error,warning "$deb") || { echo "lintian:"; echo "$lintian_out"; exit 1; }

# The maintainer script makes the group and the station's folder, on installing and again on
# upgrading, also where the group was made by hand before (groupadd, as the previous release's
# README said): run in a mount namespace whose /etc is a copy and /var/lib a tmpfs, so that the
# machine stays as it was. Only root can make one.
if [ "$(id -u)" -eq 0 ]; then
    dpkg-deb -e "$deb" "$root/control"
    for before in true "groupadd morven"; do
        rm -rf "$root/etc" && cp -a /etc "$root/etc"
        unshare --mount --propagation private sh -euc '
            mount --bind "$1/etc" /etc
            mount -t tmpfs postinst-check /var/lib
            $2
            "$1/control/postinst" configure
            "$1/control/postinst" configure 1.0
            [ "$(stat -c "%a %G" /var/lib/morven)" = "2775 morven" ]' sh "$root" "$before" \
            || { echo "postinst (after $before) does not make /var/lib/morven, group morven, mode 2775"; exit 1; }
    done
else
    echo "not root: the maintainer script was not run"
fi

dpkg -x "$deb" "$root/fs"
desktop-file-validate "$root"/fs/usr/share/applications/*.desktop
appstreamcli validate --no-net "$root"/fs/usr/share/metainfo/*.xml >/dev/null
for page in "$root"/fs/usr/share/man/man1/*.1.gz; do
    warnings=$(zcat "$page" | LC_ALL=C.UTF-8 MANWIDTH=80 groff -k -ww -man -Tutf8 -z 2>&1)
    [ -z "$warnings" ] || { echo "$(basename "$page"):"; echo "$warnings"; exit 1; }
done
# Whole outputs into grep: grep -q at the end of a pipe would cut its writer short (SIGPIPE,
# a failure under pipefail).
grep -q "MORVEN_COM1" <<< "$(zcat "$root/fs/usr/share/man/man1/morven-cli.1.gz")"

grep -q "morven-cli 1.0" <<< "$("$root/fs/usr/bin/morven-cli" --version)"
grep -q "Exit status" <<< "$("$root/fs/usr/bin/morven-cli" --help)"
# The windows start offscreen and keep running until stopped: status 124 from timeout.
mkdir -p "$root/data/morven"
echo kernel > "$root/data/morven/zididuv.bin"
# The station opens on a recipe whose file is missing: its banner says so, and it waits.
printf '[image]\nfile = none.mot\nsha256 = %064d\n[kernel]\nfile = k.bin\nsha256 = %064d\n[station]\nports = /dev/null\n' \
    0 0 > "$root/station.ini"
for program in morven pellux "morven-station $root/station.ini"; do
    status=0
    XDG_DATA_HOME="$root/data" XDG_STATE_HOME="$root/state" PELLUX_BOARD_ADDRESS=127.0.0.1 \
        QT_QPA_PLATFORM=offscreen timeout 2 $root/fs/usr/bin/$program || status=$?
    [ "$status" -eq 124 ] || { echo "$program ended with status $status"; exit 1; }
done
[ "$(md5sum < "$caller_cache")" = "$cache_before" ] || { echo "the build's cache was changed"; exit 1; }
echo "package $(basename "$deb") checked"
