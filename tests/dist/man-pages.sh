#!/usr/bin/env bash
# velmo-cli.1 documents every command and long option that velmo-cli --help and
# velmo-cli COMMAND --help show, and documents no option that they do not show.
# In the man page each command is a .SS under COMMANDS, its options the .TP tags that follow;
# the options of velmo-cli itself are the .TP tags under OPTIONS.
#   usage: man-pages.sh VELMO_CLI VELMO_CLI_MAN_PAGE
set -euo pipefail
cli=$1
page=$2

# Options the man page announces before velmo-cli has them. Remove an entry when
# velmo-cli gains the option; the test says so once every documented command accepts it.
pending=()

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
long_options() { grep -o -- '--[a-z][a-z0-9-]*' | sort -u || true; }
has() { grep -qxF -- "$2" <<<"$1"; }

# "KEY --option" lines: KEY is the command, or "-" for velmo-cli's own options.
documented=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/"//g' "$page" | awk '
    /^\.SH/ { section = $2; command = ""; tag = 0; next }
    /^\.SS/ { command = $2; tag = 0; next }
    /^\.TP/ { tag = 1; next }
    tag {
        tag = 0
        key = section == "COMMANDS" ? command : section == "OPTIONS" ? "-" : ""
        if (key == "") next
        line = $0
        while (match(line, /--[a-z][a-z0-9-]*/)) {
            print key, substr(line, RSTART, RLENGTH)
            line = substr(line, RSTART + RLENGTH)
        }
    }' | sort -u)
man_commands=$(sed -n 's/^\.SS *"\{0,1\}\([a-z][a-z-]*\).*/\1/p' "$page" | sort -u)
documented_for() { awk -v key="$1" '$1 == key { print $2 }' <<<"$documented"; }

main_help=$("$cli" --help)
commands=$(grep -E '^  [a-z]' <<<"$main_help" | awk '{ print $1 }' | sort -u)
[ -n "$commands" ] || fail "velmo-cli --help lists no command"

for command in $commands; do
    has "$man_commands" "$command" || fail "command $command is not a .SS under COMMANDS"
done
for command in $man_commands; do
    has "$commands" "$command" || fail "the man page documents command $command, --help does not"
done

# check KEY HELP_TEXT: each option of the help is documented, each documented one is in the help.
declare -A accepted_by_all=()
check() {
    local key=$1 label=$2 shown documented_here option
    shown=$(long_options <<<"$3")
    documented_here=$(documented_for "$key")
    for option in $shown; do
        [ "$option" = --help ] && [ "$key" != - ] && continue  # documented once, under OPTIONS
        has "$documented_here" "$option" || fail "$label: $option is in --help, not in the man page"
    done
    for option in $documented_here; do
        if has "$shown" "$option"; then
            [ -n "${accepted_by_all[$option]+set}" ] || accepted_by_all[$option]=yes
        else
            accepted_by_all[$option]=no
            [[ " ${pending[*]} " == *" $option "* ]] ||
                fail "$label: the man page documents $option, --help does not show it"
        fi
    done
}

check - "velmo-cli" "$main_help"
for command in $commands; do
    if help=$("$cli" "$command" --help); then
        check "$command" "velmo-cli $command" "$help"
    else
        fail "velmo-cli $command --help exits $?"
    fi
done
for option in "${pending[@]}"; do
    [ "${accepted_by_all[$option]:-}" != yes ] ||
        fail "velmo-cli accepts $option now: remove it from pending in $0"
done

checked=$(wc -l <<<"$documented")
if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "velmo-cli.1 matches --help: $(wc -w <<<"$commands") commands, $checked documented options"
