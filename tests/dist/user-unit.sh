#!/usr/bin/env bash
# The user service's unit file runs velmo-cli poll as NAME.conf says and passes systemd-analyze
# verify, its man page reference included.
#   usage: user-unit.sh UNIT_FILE MAN_DIR    (exit 77, skipped, where systemd-analyze is missing)
set -euo pipefail
unit=$1
mandir=$2

# The command line the unit builds from NAME.conf, with velmo-cli replaced by a printer of its
# arguments, one per line.
exec_start=$(sed -n 's/^ExecStart=//p' "$unit" | sed -e 's/\$\$/$/g' -e 's|exec [^ ]*/velmo-cli |exec printf "%s\\n" |')
run_unit() { env -i PATH="$PATH" "$@" bash -c 'eval "$0"' "$exec_start" 2>&1; }
expect() {
    local expected=$1 output
    shift
    output=$(run_unit "$@") || true
    if [ "$output" != "$expected" ]; then
        echo "FAIL: with $*, the unit runs:"
        echo "$output"
        echo "instead of:"
        echo "$expected"
        exit 1
    fi
}
expect $'poll\n192.168.1.1\n/status.htm\n--login\nthe admin\n--interval\n30' \
    ROUTER=192.168.1.1 PAGE_PATH=/status.htm LOGIN="the admin" INTERVAL=30
expect $'poll\n--gateway\n--igd\nhttp://192.168.1.1:5000/rootDesc.xml\n--natpmp\n192.168.1.1\n--on-change\necho $VELMO_ADDRESS' \
    SOURCE=gateway IGD=http://192.168.1.1:5000/rootDesc.xml NATPMP=192.168.1.1 \
    PAGE_PATH=/ignored.htm ON_CHANGE='echo $VELMO_ADDRESS'
expect $'poll\n--gateway' SOURCE=gateway
if output=$(run_unit SOURCE=pages ROUTER=192.168.1.1 PAGE_PATH=/s) || [ $? -ne 2 ]; then
    echo "FAIL: SOURCE=pages does not end the unit with status 2: $output"
    exit 1
fi

if ! command -v systemd-analyze >/dev/null; then
    echo "SKIP: systemd-analyze is not installed (Debian package systemd)"
    exit 77
fi
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
# A user manager's runtime folder of our own, so verify needs no running session; warnings
# about unknown keys or bad values are printed with exit status 0, so any output fails.
if ! output=$(XDG_RUNTIME_DIR=$runtime MANPATH=$mandir systemd-analyze verify --user "$unit" 2>&1) ||
    [ -n "$output" ]; then
    echo "FAIL: systemd-analyze verify --user $unit"
    echo "$output"
    exit 1
fi
echo "PASS: $unit verifies"
