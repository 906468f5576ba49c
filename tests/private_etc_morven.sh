#!/usr/bin/env bash
# Runs a command with a private, empty /etc/morven (a tmpfs, root's, mode 755) and a private
# /run (so that the journal's socket is the command's to bind), in a mount namespace of its
# own: the machine's own /etc and journal are untouched. Needs root, for the namespace.
#   Usage: private_etc_morven.sh COMMAND [ARGUMENT…]
set -euo pipefail
if [ -z "${IN_PRIVATE_ETC_MORVEN:-}" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "private_etc_morven.sh needs root for its mount namespace" >&2; exit 1; }
    exec env IN_PRIVATE_ETC_MORVEN=1 unshare --mount --propagation private "$0" "$@"
fi
mount -t tmpfs tmpfs /run
mkdir -p /run/systemd/journal
if [ ! -d /etc/morven ]; then
    # A folder to mount on, made in an overlay of /etc that only this namespace sees.
    mkdir /run/etc-upper /run/etc-work
    mount -t overlay overlay -o lowerdir=/etc,upperdir=/run/etc-upper,workdir=/run/etc-work /etc
    mkdir /etc/morven
fi
mount -t tmpfs -o mode=755 tmpfs /etc/morven
exec "$@"
