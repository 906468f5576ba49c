#!/bin/sh
# Runs a test with a station folder of its own: in a private mount namespace whose /var/lib is
# a fresh tmpfs holding an empty /var/lib/morven, so the machine's own is never touched (nor
# made). Root makes the namespace; anyone else, a user namespace where the system allows one.
#   Usage: tests/in_station_folder.sh TEST [ARGUMENTS...]
set -eu
user=--map-root-user
[ "$(id -u)" -ne 0 ] || user=
exec unshare $user --mount --propagation private sh -euc '
    mount -t tmpfs -o mode=0755 station-folder-test /var/lib
    mkdir -m 2775 /var/lib/morven
    exec "$@"' sh "$@"
