#!/usr/bin/env bash
# osc-send and osc-dump beside liblo's oscsend and oscdump, over 127.0.0.1: what one sends the
# other prints, value for value; and osc-dump ends with status 0 on Ctrl-C (SIGINT).
#   tools-round-trip.sh OSC_SEND OSC_DUMP
set -euo pipefail
send=$1 dump=$2
dir=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$dir"' EXIT
# Polls until the command succeeds, for at most 10 s.
wait_for() {
    for _ in $(seq 1000); do "$@" && return 0; sleep 0.01; done
    echo "gave up waiting for: $*" >&2
    return 1
}
fail() { echo "FAIL: $*" >&2; exit 1; }
# At least $1 lines in $2 besides the probes.
lines_in() { [ "$(grep -vc /probe "$2")" -ge "$1" ]; }

# --- oscsend and osc-send to osc-dump, on a port the system picks
"$dump" 0 > "$dir/dump.out" 2> "$dir/dump.err" &
dump_pid=$!
pids+=("$dump_pid")
wait_for grep -q "listening on UDP port" "$dir/dump.err"
port=$(sed -n 's/^osc-dump: listening on UDP port \([0-9]*\)$/\1/p' "$dir/dump.err")
oscsend 127.0.0.1 "$port" /lo ihfdscmTFNI -7 9000000000 0.25 2.5 text A 00903c7f
"$send" 127.0.0.1 "$port" /list iii 1 2 3
"$send" --time 10.25 127.0.0.1 "$port" /t
wait_for lines_in 3 "$dir/dump.out"
kill -INT "$dump_pid"
status=0
wait "$dump_pid" || status=$?
[ "$status" -eq 0 ] || fail "osc-dump ended with status $status on SIGINT"
sed 's/ from 127\.0\.0\.1:[0-9]*/ from 127.0.0.1/' "$dir/dump.out" | diff -u - <(cat <<'LINES'
<OSCMessage '/lo'-'(<OSCVal i -7>, <OSCVal h: 9000000000>, <OSCVal f 0.250000>, <OSCVal d: 2.500000>, <OSCVal s text>, <OSCVal c: A>, <OSCVal m 0-144-60-127>, <OSCVal T>, <OSCVal F>, <OSCVal N>, <OSCVal I>)'> from 127.0.0.1
<OSCMessage '/list'-'(<OSCVal i 1>, <OSCVal i 2>, <OSCVal i 3>)'> from 127.0.0.1
<OSCMessage '/t'> from 127.0.0.1 at 2001-01-01T00:00:10.250000Z
LINES
) || fail "osc-dump printed other lines"

# --- osc-send to oscdump, which needs a port number: the one osc-dump had is free again.
oscdump -L "$port" > "$dir/lo.out" &
pids+=($!)
# oscdump says nothing when it is ready: probe until a probe comes through.
wait_for sh -c "'$send' 127.0.0.1 $port /probe && grep -q /probe '$dir/lo.out'"
"$send" 127.0.0.1 "$port" /list iii 1 2 3
"$send" 127.0.0.1 "$port" /all ihfdsctmTFNIb -7 9000000000 0.25 2.5 text A 3.5 00903C7F DEADBEEF
# oscdump shows a bundle's time tag words: 10 s, and the microseconds where it expects 2^-32.
"$send" --time 10.25 127.0.0.1 "$port" /t
wait_for lines_in 3 "$dir/lo.out"
# oscdump starts a line with the time of arrival (or the bundle's time tag), then the message.
grep -v /probe "$dir/lo.out" > "$dir/lo.got"
cut -d' ' -f2- "$dir/lo.got" | diff -u - <(cat <<'LINES'
/list iii 1 2 3
/all ihfdsctmTFNIb -7 9000000000 0.250000 2.500000 "text" 'A' 00000003.0007a120 MIDI [0x00 0x90 0x3c 0x7f] #T #F Nil Infinitum [4b 0xde 0xad 0xbe 0xef]
/t 
LINES
) || fail "oscdump printed other lines"
[ "$(cut -d' ' -f1 "$dir/lo.got" | tail -1)" = "0000000a.0003d090" ] || fail "time tag words"
echo "tools round trip: ok"
