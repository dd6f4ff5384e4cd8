#!/usr/bin/env bash
# The user service's unit file runs velmo-cli poll as NAME.conf says and passes systemd-analyze
# verify, its man page reference included. Then, as root, a real user manager runs it, beside a
# journald of its own, in a mount namespace this test makes (see "A user manager" below).
#   usage: user-unit.sh UNIT_FILE MAN_DIR VELMO_CLI
#   (exit 77, skipped, where systemd-analyze is missing or no user manager can be started)
set -euo pipefail
unit=$1
mandir=$2
cli=$3

# The command line the unit builds from NAME.conf, with velmo-cli replaced by a printer of its
# arguments, one per line, and the specifiers of instance "home" filled in, lines continued with
# a backslash joined as systemd joins them.
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
config=$runtime/config
home=$runtime/home
mkdir -p "$config/velmo" "$home"
exec_start=$(sed -e ':join' -e '/\\$/{N;s/\\\n/ /;b join' -e '}' "$unit" | sed -n 's/^ExecStart=//p' |
    sed -e 's/\$\$/$/g' -e 's/%%/\x01/g' -e "s|%E|$config|g" -e 's|%i|home|g' \
        -e 's|%n|velmo-poll@home.service|g' -e 's|exec [^ ]*/velmo-cli |exec printf "%s\\n" |' \
        -e 's/\x01/%/g')
# No journal to ask: the unit's own complaints go to standard error.
run_unit() { env -i PATH="$PATH" HOME="$home" "$@" bash -c 'eval "$0"' "$exec_start" 2>&1; }
state="--state\n$home/.local/state/velmo/home.last"
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

expect "poll\n192.168.1.1\n/status.htm\n--login\nthe admin\n$state\n--interval\n30" \
    ROUTER=192.168.1.1 PAGE_PATH=/status.htm LOGIN="the admin" INTERVAL=30
expect "poll\n--gateway\n--igd\nhttp://192.168.1.1:5000/rootDesc.xml\n--natpmp\n192.168.1.1\n$state\n--on-change\necho \$VELMO_ADDRESS" \
    SOURCE=gateway IGD=http://192.168.1.1:5000/rootDesc.xml NATPMP=192.168.1.1 \
    PAGE_PATH=/ignored.htm ON_CHANGE='echo $VELMO_ADDRESS'
expect "poll\n--gateway\n--quiet\n$state" SOURCE=gateway QUIET=yes
# ~ and $HOME at the start of the password file's path are the home folder.
for file in '~/p/home.password' '$HOME/p/home.password' '${HOME}/p/home.password'; do
    expect "poll\n192.168.1.1\n/s\n--password-file\n$home/p/home.password\n$state" \
        ROUTER=192.168.1.1 PAGE_PATH=/s PASSWORD_FILE="$file"
done
expect "poll\n192.168.1.1\n/s\n--password-file\nhome.password\n$state" \
    ROUTER=192.168.1.1 PAGE_PATH=/s PASSWORD_FILE=home.password
expect_status 2 "SOURCE is page or gateway, not pages" SOURCE=pages ROUTER=192.168.1.1 PAGE_PATH=/s
expect_status 2 "sets no ROUTER or no PAGE_PATH" PAGE_PATH=/s
# The state folder, made private, follows XDG_STATE_HOME.
expect "poll\n--gateway\n--state\n$runtime/xdg/velmo/home.last" SOURCE=gateway XDG_STATE_HOME="$runtime/xdg"
[ "$(stat -c %a "$runtime/xdg/velmo" "$home/.local/state/velmo")" = $'700\n700' ] ||
    { echo "FAIL: the state folder is not private: $(stat -c '%a %n' "$runtime/xdg/velmo")"; exit 1; }
touch "$runtime/xdg/velmo.file"
expect_status 2 "cannot make the folder $runtime/xdg/velmo.file/velmo (Not a directory)" SOURCE=gateway \
    XDG_STATE_HOME="$runtime/xdg/velmo.file"

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

# A user manager: Debian's systemd --user and systemd-journald, in a mount namespace of this test
# where /run/systemd, the journal's folders and the manager's runtime folder are its own, the
# manager in a control group of its own below a user@UID.service, as logind would make it, for
# the user nobody. python3's web server on loopback is the router. Everything waits on what it
# waits for; the restart delay is 0 in a drop-in.
why_no_manager() {
    [ "$(id -u)" -eq 0 ] || { echo "it needs root"; return; }
    [ "$(cat /proc/1/comm)" != systemd ] ||
        { echo "PID 1 is systemd, whose control groups the test leaves alone"; return; }
    [ -x /lib/systemd/systemd ] && [ -x /lib/systemd/systemd-journald ] ||
        { echo "systemd is not installed (Debian package systemd)"; return; }
    [ -x /usr/bin/python3 ] || { echo "python3 is not installed (Debian package python3)"; return; }
    command -v setpriv >/dev/null || echo "setpriv is not installed (Debian package util-linux)"
}
if [ -n "$(why_no_manager)" ]; then
    echo "SKIP: no user manager: $(why_no_manager)"
    exit 77
fi
# One test at a time may be the user manager of nobody.
exec 9>/tmp/velmo-user-unit-test.lock
flock -w 600 9
chmod 755 "$runtime"
unshare --mount --propagation private bash "$(dirname "$0")/user-manager.sh" "$unit" "$cli" "$runtime"
