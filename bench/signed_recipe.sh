#!/usr/bin/env bash
# What checking a recipe's signature costs: in a mount namespace with an /etc/morven of its own
# (tests/private_etc_morven.sh; needs root), per run
#   - the two ssh-keygen runs of the check alone (find-principals, verify), COUNT times;
#   - morven-cli --check --recipe, COUNT times without allowed signers and COUNT times with
#     them and a good signature: the difference is the check's cost at the start of a gang;
#   - unless --no-gang, a gang of BOARDS written through the recipe, unsigned without allowed
#     signers, then signed with them, each on fresh boards (--pace: paced boards), the
#     processes' wall times (/usr/bin/time %e) and their ratio.
#
#   bench/signed_recipe.sh [--pace] [--runs R] [--count C] [--boards N] [--no-gang] BUILD_DIR
set -euo pipefail

pace="" runs=3 count=20 boards=8 gang=1
while [ $# -gt 1 ]; do
    case "$1" in
        --pace) pace="--pace" ;;
        --runs) runs="$2"; shift ;;
        --count) count="$2"; shift ;;
        --boards) boards="$2"; shift ;;
        --no-gang) gang="" ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
build="$(realpath "${1:?usage: signed_recipe.sh [--pace] [--runs R] [--count C] BUILD_DIR}")"
if [ -z "${IN_PRIVATE_ETC_MORVEN:-}" ]; then
    no_gang=""
    [ -n "$gang" ] || no_gang="--no-gang"
    exec "$(dirname "$0")/../tests/private_etc_morven.sh" "$0" $pace --runs "$runs" \
        --count "$count" --boards "$boards" $no_gang "$build"
fi
cli="$build/writer/morven-cli"
work=$(mktemp -d)
cleanup() { jobs -p | xargs -r kill 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
"$(dirname "$0")/make_inputs.sh" "$work"

ssh-keygen -q -t ed25519 -N '' -C release -f "$work/release"
signers="release@line.example $(cat "$work/release.pub")"
image_sha=$("$cli" --check "$work/image.mot" | sed -n 's/^SHA-256: *//p')
ports=$(for k in $(seq "$boards"); do printf '%s' "$work/board$k, "; done)
cat > "$work/station.ini" <<EOF
[image]
file = image.mot
sha256 = $image_sha
[kernel]
file = kernel.bin
sha256 = $(sha256sum "$work/kernel.bin" | cut -d' ' -f1)
[station]
ports = ${ports%, }
strict = false
log = writes.jsonl
EOF
ssh-keygen -q -Y sign -f "$work/release" -n morven-recipe "$work/station.ini"

now() { date +%s%N; }
# Milliseconds per run of the command, over $count runs.
per_run() {
    local start
    start=$(now)
    for _ in $(seq "$count"); do "$@" > /dev/null 2>&1 || true; done
    echo "scale=2; ($(now) - $start) / 1000000 / $count" | bc
}
ssh_keygen_pair() {
    ssh-keygen -Y find-principals -s "$work/station.ini.sig" -f /etc/morven/allowed_signers
    ssh-keygen -Y verify -f /etc/morven/allowed_signers -I release@line.example -n morven-recipe \
        -s "$work/station.ini.sig" < "$work/station.ini"
}
start_boards() {
    for k in $(seq "$boards"); do
        rm -f "$work/board$k"
        "$build/tools/board-sim" $pace --once --link "$work/board$k" > /dev/null &
    done
    for k in $(seq "$boards"); do
        while [ ! -L "$work/board$k" ]; do sleep 0.05; done
    done
}
# The gang's wall seconds, after checking that every board ended "O.K.".
gang_seconds() {
    rm -f "$work/writes.jsonl"
    start_boards
    /usr/bin/time -f %e -o "$work/gang.time" "$cli" --quiet --recipe "$work/station.ini" > /dev/null 2> "$work/gang.err"
    wait
    [ "$(grep -c '"outcome":"O.K."' "$work/writes.jsonl")" = "$boards" ] || { echo "not every board O.K." >&2; exit 1; }
    cat "$work/gang.time"
}

echo "run | ssh-keygen pair | check, unchecked | check, signed | signed − unchecked | gang unsigned | gang signed | ratio"
for run in $(seq "$runs"); do
    rm -f /etc/morven/allowed_signers
    unchecked=$(per_run "$cli" --check --recipe "$work/station.ini")
    [ -z "$gang" ] || gang_unsigned=$(gang_seconds)
    echo "$signers" > /etc/morven/allowed_signers
    pair=$(per_run ssh_keygen_pair)
    checked=$(per_run "$cli" --check --recipe "$work/station.ini")
    [ -z "$gang" ] || gang_signed=$(gang_seconds)
    ratio=""
    [ -z "$gang" ] || ratio=$(echo "scale=4; $gang_signed / $gang_unsigned" | bc)
    echo "$run | $pair ms | $unchecked ms | $checked ms | $(echo "$checked - $unchecked" | bc) ms | ${gang_unsigned:-} | ${gang_signed:-} | $ratio"
done
