#!/usr/bin/env bash
# The test seams of velmo-cli: the hidden --test-* options and the host table of VELMO_TEST_HOSTS.
# "absent": BINARY rejects every one of them, names none, and looks names up with the system
# resolver whatever VELMO_TEST_HOSTS says; "present": BINARY (velmo-cli-test) takes each of them,
# and names no other, so that the list below is the whole of them. Prints nothing when it holds.
#   usage: tests/cli/test-seams.sh BINARY absent|present
set -uo pipefail
binary=$(realpath "$1")
mode=$2
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
# Should a fault send it anywhere, detection goes to a closed loopback port.
export XDG_CONFIG_HOME=$config http_proxy=http://127.0.0.1:9 no_proxy=127.0.0.1,localhost
unset VELMO_TEST_HOSTS
failed=0
fail() {
    echo "$*"
    failed=1
}

# Each seam, on a line that ends in a usage error before anything is asked: with the seam the
# error is another one (or, for --test-list-servers, the list), without it "has no option".
probes=(
    "spider --test-timeouts=1,1,1"
    "spider --test-lookup-limit=1"
    "spider --test-gateway-limits=1,1"
    "probe --test-timeouts=1,1,1"
    "poll --test-timeouts=1,1,1"
    "poll --test-gateway-limits=1,1"
    "poll --test-interval=1"
    "detect --each --gateway-check --test-timeouts=1,1,1"
    "detect --each --gateway-check --test-gateway-limits=1,1"
    "detect --each --gateway-check --test-list-servers"
    "gateway extra --test-gateway-limits=1,1"
)
named=(VELMO_TEST_HOSTS)
for probe in "${probes[@]}"; do
    read -ra args <<<"$probe"
    option=${args[-1]%%=*}
    named+=("$option")
    err=$("$binary" "${args[@]}" 2>&1 >/dev/null)
    status=$?
    refused="${args[0]} has no option $option;"
    if [ "$mode" = absent ] && { [ "$status" != 64 ] || [[ "$err" != *"$refused"* ]]; }; then
        fail "velmo-cli $probe: exit $status, not refused: $err"
    elif [ "$mode" = present ] && [[ "$err" == *"$refused"* ]]; then
        fail "velmo-cli $probe: the seam is missing: $err"
    fi
done

# What the binary names: nothing without the seams, exactly the seams above with them.
found=$(grep -a -o -E -- '--test-[a-z-]+|VELMO_TEST_[A-Z_]+' "$binary" | sort -u)
if [ "$mode" = absent ]; then
    [ -z "$found" ] || fail "velmo-cli names test seams:" $found
else
    expected=$(printf '%s\n' "${named[@]}" | sort -u)
    [ "$found" = "$expected" ] || fail "the seams are not those probed here:" $found
fi

# A name of the table, in a network namespace of its own, so that the system resolver sends
# nothing anywhere: with the table the line goes on to its empty PATH, without it the name is
# unknown. Where no namespace can be made, the search above is the proof.
if unshare -n true 2>/dev/null; then
    err=$(VELMO_TEST_HOSTS=seam.invalid=127.0.0.1 unshare -n -- "$binary" poll seam.invalid "" \
        2>&1 >/dev/null)
    status=$?
    if [ "$mode" = absent ] && [ "$status" != 68 ]; then
        fail "VELMO_TEST_HOSTS was obeyed: exit $status: $err"
    elif [ "$mode" = present ] && [ "$status" != 64 ]; then
        fail "VELMO_TEST_HOSTS was not obeyed: exit $status: $err"
    fi
fi
exit "$failed"
