#!/usr/bin/env bash
# osc-serve answering osc-query on 127.0.0.1, and osc-query's refusals of bad arguments.
# Usage: query-serve.sh OSC_SERVE OSC_QUERY
set -uo pipefail
serve=$1 query=$2
fail() { echo "FAILED: $*" >&2; exit 1; }
# Polls the command for at most 10 s.
poll() { for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done; return 1; }
out=$(mktemp -d); trap 'kill $pid 2>/dev/null; rm -rf "$out"' EXIT
port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

"$serve" --tree --quiet "$port" >"$out/tree" 2>"$out/err" & pid=$!
poll grep -q "serving on UDP port $port" "$out/err" || fail "osc-serve did not start: $(cat "$out/err")"

python3 -c 'import socket, sys
s, to = socket.socket(socket.AF_INET, socket.SOCK_DGRAM), ("127.0.0.1", int(sys.argv[1]))
s.sendto(b"/a/b\0\0\0\0,f\0\0\x3f\0\0\0", to)
s.sendto(b"/a/hidden/c\0,\0\0\0", to)' "$port"
# The two messages may still be on their way: ask until the tree has both.
listing() { [ "$("$query" 127.0.0.1 "$port" /a)" = $'b\nhidden' ]; }
poll listing || fail "namespace of /a: '$("$query" 127.0.0.1 "$port" /a)'"
[ "$("$query" 127.0.0.1 "$port" /a/b current-value)" = 0.5 ] || fail "current value of /a/b"
[ "$("$query" 127.0.0.1 "$port" /a/b type-signature)" = f ] || fail "type signature of /a/b"

kill -INT $pid; wait $pid || fail "osc-serve ended with $?"
[ "$(cat "$out/tree")" = $'\n********\tOSC Address Space\t********\n<a>\t{\n\t<b>\n\t<hidden>\t{\n\t\t<c>\n\t}\n}' ] ||
    fail "tree: $(cat -A "$out/tree")"

"$query" --timeout 0.3 127.0.0.1 "$port" /a 2>"$out/err"; [ $? = 1 ] || fail "timeout status"
grep -qx "osc-query: no answer from 127.0.0.1:$port within 0.3 s" "$out/err" || fail "timeout text"
while read -r expected args; do
    "$query" $args >/dev/null 2>"$out/err"; status=$?
    [ $status = 2 ] || fail "osc-query $args: status $status"
    [ "$(head -1 "$out/err")" = "osc-query: ${expected//_/ }" ] || fail "osc-query $args: $(head -1 "$out/err")"
done <<EOF2
expected_HOST_PORT_ADDRESS_[KIND] 127.0.0.1 9000
bad_port_'70000'_(1_to_65535) 127.0.0.1 70000 /a
bad_host_'no.such.host'_(an_IPv4_address_or_localhost) no.such.host 9000 /a
unknown_kind_'everything' 127.0.0.1 9000 /a everything
the_address_must_begin_with_'/':_'a' 127.0.0.1 9000 a
EOF2
echo "osc-serve and osc-query: all passed"
