#!/usr/bin/env bash
# check.sh LUPDATE "OPTIONS" TS "SOURCE FOLDERS" [TS "SOURCE FOLDERS"]...
# Runs lupdate on the sources into a copy of each .ts and fails when the copy has an entry
# without its translation (a new or changed text) or one whose text is no longer in the
# sources.
set -euo pipefail
lupdate="$1"
read -r -a options <<< "$2"
shift 2
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
status=0
while [ $# -ge 2 ]; do
    ts="$1"
    read -r -a folders <<< "$2"
    shift 2
    copy="$work/$(basename "$ts")"
    cp "$ts" "$copy"
    "$lupdate" -silent "${options[@]}" "${folders[@]}" -ts "$copy"
    unfinished=$(grep -c 'type="unfinished"' "$copy" || true)
    gone=$(grep -c -E 'type="(obsolete|vanished)"' "$copy" || true)
    if [ "$unfinished" -ne 0 ] || [ "$gone" -ne 0 ]; then
        echo "$(basename "$ts"): $unfinished unfinished, $gone obsolete; run" \
             "'cmake --build BUILD --target update_translations' and translate:" >&2
        diff -u "$ts" "$copy" >&2 || true
        status=1
    else
        echo "$(basename "$ts"): complete"
    fi
done
exit $status
