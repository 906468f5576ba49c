#!/usr/bin/env bash
# morven-cli's bash completion: what it offers for a few prefixes, and that it offers every
# option --help lists.   Usage: tests/completion_check.sh COMPLETION_FILE MORVEN_CLI
set -euo pipefail
export LC_ALL=C
source "${1:?usage: completion_check.sh COMPLETION_FILE MORVEN_CLI}"
help=$("${2:?}" --help)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir firmware
touch program.mot OLD.MOT notes.txt firmware/inside.mot

# The words typed so far, the last one being completed; prints the offers, sorted, one a line.
offers() {
    COMP_WORDS=(morven-cli "$@")
    COMP_CWORD=$(($# ))
    COMPREPLY=()
    _morven_cli
    printf '%s\n' "${COMPREPLY[@]}" | sort
}
expect() {
    local got
    got=$(offers "${@:2}")
    [ "$got" = "$1" ] || { printf 'for "%s": expected\n%s\ngot\n%s\n' "${*:2}" "$1" "$got"; exit 1; }
}

expect "--check" --ch
expect "$(printf -- '--list-ports\n--log')" --l
expect "$(printf 'COM1\nCOM10')" --port COM1
expect "$(printf 'COM1\nCOM10')" -p COM1
expect "$(printf 'OLD.MOT\nfirmware\nprogram.mot')" ""
expect "firmware/inside.mot" firmware/
expect "notes.txt" --kernel no

# Every option --help lists is offered.
for option in $(grep -oE -- '--[a-z-]+' <<< "$help" | sort -u); do
    offers "${option:0:4}" | grep -qx -- "$option" || { echo "not offered: $option"; exit 1; }
done
echo "completion checked"
