#!/usr/bin/env bash
# The user service's unit file runs velmo-cli poll as NAME.conf says and passes systemd-analyze
# verify, its man page reference included.
#   usage: user-unit.sh UNIT_FILE MAN_DIR    (exit 77, skipped, where systemd-analyze is missing)
set -euo pipefail
unit=$1
mandir=$2

# The command line the unit builds from NAME.conf, with velmo-cli replaced by a printer of its
# arguments, one per line, and the specifiers of instance "home" filled in.
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
config=$runtime/config
mkdir -p "$config/velmo"
exec_start=$(sed -n 's/^ExecStart=//p' "$unit" | sed -e 's/\$\$/$/g' -e "s|%E|$config|g" \
    -e "s|%S|$runtime/state|g" -e 's|%i|home|g' -e 's|exec [^ ]*/velmo-cli |exec printf "%s\\n" |')
run_unit() { env -i PATH="$PATH" HOME=/home/u "$@" bash -c 'eval "$0"' "$exec_start" 2>&1; }
state="--state\n$runtime/state/velmo/home.last"
expect() {
    local expected output
    expected=$(printf "$1")
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
# expect_status STATUS MESSAGE VARIABLE=value...: the unit ends with STATUS, saying MESSAGE.
expect_status() {
    local status=$1 message=$2 output
    shift 2
    if output=$(run_unit "$@") || [ $? -ne "$status" ] || [[ "$output" != "<3>"*"$message"* ]]; then
        echo "FAIL: with $*, the unit does not end with status $status and \"$message\": $output"
        exit 1
    fi
}

expect_status 78 "$config/velmo/home.conf is missing" ROUTER=192.168.1.1 PAGE_PATH=/s
touch "$config/velmo/home.conf"
expect "poll\n192.168.1.1\n/status.htm\n--login\nthe admin\n$state\n--interval\n30" \
    ROUTER=192.168.1.1 PAGE_PATH=/status.htm LOGIN="the admin" INTERVAL=30
expect "poll\n--gateway\n--igd\nhttp://192.168.1.1:5000/rootDesc.xml\n--natpmp\n192.168.1.1\n$state\n--on-change\necho \$VELMO_ADDRESS" \
    SOURCE=gateway IGD=http://192.168.1.1:5000/rootDesc.xml NATPMP=192.168.1.1 \
    PAGE_PATH=/ignored.htm ON_CHANGE='echo $VELMO_ADDRESS'
expect "poll\n--gateway\n--quiet\n$state" SOURCE=gateway QUIET=yes
# ~ and $HOME at the start of the password file's path are the home folder.
for file in '~/p/home.password' '$HOME/p/home.password' '${HOME}/p/home.password'; do
    expect "poll\n192.168.1.1\n/s\n--password-file\n/home/u/p/home.password\n$state" \
        ROUTER=192.168.1.1 PAGE_PATH=/s PASSWORD_FILE="$file"
done
expect "poll\n192.168.1.1\n/s\n--password-file\nhome.password\n$state" \
    ROUTER=192.168.1.1 PAGE_PATH=/s PASSWORD_FILE=home.password
expect_status 2 "SOURCE is page or gateway, not pages" SOURCE=pages ROUTER=192.168.1.1 PAGE_PATH=/s
expect_status 2 "sets no ROUTER or no PAGE_PATH" PAGE_PATH=/s

if ! command -v systemd-analyze >/dev/null; then
    echo "SKIP: systemd-analyze is not installed (Debian package systemd)"
    exit 77
fi
# A user manager's runtime folder of our own, so verify needs no running session; warnings
# about unknown keys or bad values are printed with exit status 0, so any output fails.
if ! output=$(XDG_RUNTIME_DIR=$runtime MANPATH=$mandir systemd-analyze verify --user "$unit" 2>&1) ||
    [ -n "$output" ]; then
    echo "FAIL: systemd-analyze verify --user $unit"
    echo "$output"
    exit 1
fi
echo "PASS: $unit verifies"
