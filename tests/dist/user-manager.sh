#!/usr/bin/env bash
# The user service run by a real user manager (user-unit.sh starts this in a mount namespace of its
# own, as root): start fails without NAME.conf; the service polls, keeps its state and runs its
# --on-change command inside its sandbox; reload (SIGHUP) starts it again with NAME.conf read
# anew; what fails at once, velmo-cli or the unit's own shell, keeps its unit in the journal; the
# sandbox keeps systemd-analyze's exposure below 6.
#   usage: user-manager.sh UNIT_FILE VELMO_CLI WORK_FOLDER
set -euo pipefail
unit=$1
cli=$2
work=$3
uid=65534  # nobody
gid=$(id -g nobody)

pids=()
groups=()
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
cleanup() {
    as_user systemctl --user stop 'velmo-poll@*' >/dev/null 2>&1 || true
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -CONT "${pids[i]}" 2>/dev/null || true
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    for group in "${groups[@]}"; do
        find "$group" -depth -type d -exec rmdir {} + 2>/dev/null || true
    done
}
trap cleanup EXIT
# until SECONDS COMMAND...: true once COMMAND succeeds, false if it has not within SECONDS.
until_true() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}

# The user's home and the program where a sandbox that hides /tmp lets them be: a /home of this
# namespace's own.
mount -t tmpfs -o mode=755 tmpfs /home
home=/home/nobody
runtime=/home/runtime
mkdir -p "$home/.config/velmo" "$home/.config/systemd/user/velmo-poll@.service.d" "$runtime" \
    /home/bin "$work/site"
cp "$cli" /home/bin/velmo-cli
chmod 755 /home/bin/velmo-cli
sed "s|exec [^ ]*/velmo-cli |exec /home/bin/velmo-cli |" "$unit" >"$home/.config/systemd/user/velmo-poll@.service"
# No wait before a restart here; and a sanitised velmo-cli may not stop the world to look for
# leaks under the sandbox's system call filter.
printf '[Service]\nRestartSec=0\nEnvironment=ASAN_OPTIONS=detect_leaks=0\n' \
    >"$home/.config/systemd/user/velmo-poll@.service.d/test.conf"
chown -R "$uid:$gid" "$home" "$runtime"
chmod 700 "$runtime"
as_user() {
    setpriv --reuid=$uid --regid=$gid --clear-groups \
        env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$runtime" LC_ALL=C "$@"
}

# The system's folders of systemd and the journal, this namespace's own: a /run of its own.
mount -t tmpfs -o mode=755 tmpfs /run
mkdir -p /run/systemd/system /run/systemd/journal /run/log
[ ! -d /var/log/journal ] || mount -t tmpfs tmpfs /var/log/journal
SYSTEMD_LOG_TARGET=console /lib/systemd/systemd-journald >"$work/journald.log" 2>&1 &
journald=$!
pids+=("$journald")
until_true 30 test -S /run/systemd/journal/socket || { fail "journald did not start"; exit 1; }
journal() {  # journalctl --user -u UNIT as nobody sees it, from this namespace's journal
    chmod -R a+rX /run/log/journal
    setpriv --reuid=$uid --regid=$gid --clear-groups \
        journalctl -D /run/log/journal --user-unit="$1" -o cat --no-pager "${@:3}"
}
# said UNIT TEXT [OPTION...]: the unit's journal has a line holding TEXT.
said() { journal "$@" | grep -q -F -- "$2"; }

# The manager's control group, as logind makes it: below user@UID.service, delegated to the user,
# in the unified hierarchy and, on a hybrid system, in systemd's own.
if [ "$(stat -f -c %T /sys/fs/cgroup)" = cgroup2fs ]; then
    hierarchies=(/sys/fs/cgroup)
else
    hierarchies=(/sys/fs/cgroup/unified /sys/fs/cgroup/systemd)
fi
for hierarchy in "${hierarchies[@]}"; do
    [ -f "$hierarchy/cgroup.procs" ] || continue
    mkdir -p "$hierarchy/user.slice/user-$uid.slice/user@$uid.service"
    chown -R "$uid" "$hierarchy/user.slice/user-$uid.slice/user@$uid.service"
    groups+=("$hierarchy/user.slice")
done
(
    for group in "${groups[@]}"; do
        echo "$BASHPID" >"$group/user-$uid.slice/user@$uid.service/cgroup.procs"
    done
    exec setpriv --reuid=$uid --regid=$gid --clear-groups env -i PATH=/usr/bin:/bin \
        HOME="$home" XDG_RUNTIME_DIR="$runtime" LC_ALL=C /lib/systemd/systemd --user
) >"$work/manager.log" 2>&1 &
pids+=($!)
until_true 60 as_user systemctl --user is-system-running --wait || {
    fail "the user manager did not start: $(cat "$work/manager.log")"
    exit 1
}

# The router: status.htm shows one address, other.htm another.
echo "WAN 203.0.113.45" >"$work/site/status.htm"
echo "WAN 198.51.100.7" >"$work/site/other.htm"
/usr/bin/python3 -c '
import functools, http.server, sys
class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass
handler = functools.partial(Quiet, directory=sys.argv[1])
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
print(server.server_address[1], flush=True)
server.serve_forever()' "$work/site" >"$work/port" &
pids+=($!)
until_true 30 test -s "$work/port" || { fail "the web server did not start"; exit 1; }
router=127.0.0.1:$(cat "$work/port")
conf() { printf '%s\n' "${@:2}" >"$home/.config/velmo/$1.conf"; chown "$uid:$gid" "$home/.config/velmo/$1.conf"; }
service() { as_user systemctl --user "$@"; }
property() { service show -P "$2" "velmo-poll@$1.service"; }
is() { [ "$(property "$1" "$2")" = "$3" ]; }

# Without NAME.conf, start fails, and says which file it wanted.
if output=$(service start velmo-poll@missing.service 2>&1); then
    fail "start without missing.conf succeeded"
elif [ "$(property missing AssertResult)" != no ]; then
    fail "start without missing.conf: $output; $(service status velmo-poll@missing.service 2>&1)"
fi

# The service polls, keeps its state and runs its command in its sandbox, which may write in the
# home folder and its own /tmp.
conf home "ROUTER=$router" PAGE_PATH=/status.htm INTERVAL=1 \
    "ON_CHANGE='echo \"\$VELMO_ADDRESS\" >> changes; echo sandboxed > /tmp/t && cat /tmp/t >> changes'"
service start velmo-poll@home.service || fail "start: $(service status velmo-poll@home.service 2>&1)"
changes=$home/.config/velmo/changes
if ! until_true 60 grep -q -x sandboxed "$changes"; then
    fail "the command did not run: $(journal velmo-poll@home.service - 2>&1 | tail -5)"
fi
[ "$(head -1 "$changes" 2>/dev/null)" = 203.0.113.45 ] || fail "the command saw: $(cat "$changes")"
[ "$(cat "$home/.local/state/velmo/home.last" 2>/dev/null)" = 203.0.113.45 ] ||
    fail "no state file: $(ls -la "$home/.local/state/velmo" 2>&1)"
until_true 30 said velmo-poll@home.service " - 203.0.113.45" ||
    fail "the readings are not in the service's journal"

# Reload ends velmo-cli with SIGHUP, and the service starts again with NAME.conf as it is now.
first=$(property home MainPID)
conf home "ROUTER=$router" PAGE_PATH=/other.htm INTERVAL=1 'ON_CHANGE=echo "$VELMO_ADDRESS" >> changes'
service reload velmo-poll@home.service || fail "reload: $(service status velmo-poll@home.service 2>&1)"
if ! until_true 60 grep -q -x 198.51.100.7 "$changes"; then
    fail "reload did not read home.conf again: $(service status velmo-poll@home.service 2>&1)"
fi
[ "$(property home ActiveState)" = active ] && [ "$(property home MainPID)" != "$first" ] ||
    fail "after reload: $(service status velmo-poll@home.service 2>&1)"

# What fails at once keeps its unit: velmo-cli refusing a password file others may read, and the
# unit's own shell refusing SOURCE. The journal reads their lines only once they have ended, as a
# busy journal would: a line on its stream would then find no unit.
echo secret >"$home/.config/velmo/open.password"
chmod 644 "$home/.config/velmo/open.password"
chown "$uid:$gid" "$home/.config/velmo/open.password"
conf refused "ROUTER=$router" PAGE_PATH=/status.htm PASSWORD_FILE=open.password
conf typo SOURCE=pages
kill -STOP "$journald"
for name in refused typo; do
    service start "velmo-poll@$name.service" || true
    until_true 30 is "$name" ActiveState failed ||
        fail "velmo-poll@$name does not fail: $(service status "velmo-poll@$name.service" 2>&1)"
done
kill -CONT "$journald"
until_true 30 said velmo-poll@refused.service "open.password" -p err ||
    fail "velmo-cli's reason is not in the unit's journal: $(journal velmo-poll@refused.service - -p err)"
until_true 30 said velmo-poll@typo.service "SOURCE is page or gateway, not pages" -p err ||
    fail "the unit's reason is not in its journal: $(journal velmo-poll@typo.service - -p err)"

# The sandbox, as systemd-analyze judges it for this manager: 9.8 without it.
if ! exposure=$(as_user systemd-analyze --user security --threshold=60 velmo-poll@home.service 2>&1); then
    fail "systemd-analyze --user security: $(tail -1 <<<"$exposure")"
fi
echo "$(tail -1 <<<"$exposure")"

if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "PASS: a user manager starts, reloads and sandboxes the service, and keeps its failures"
