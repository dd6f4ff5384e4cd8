#!/usr/bin/env bash
# The bash, zsh and fish completions offer exactly the commands that velmo-cli --help lists and,
# for each command, exactly the long options that velmo-cli COMMAND --help shows. Each shell's
# own code runs: bash's function fills COMPREPLY, fish answers complete -C, and zsh's function
# runs with its completion helpers replaced by printers of what they are given.
#   usage: completions.sh VELMO_CLI COMPLETIONS_DIR   (exit 77, skipped, without zsh or fish)
set -euo pipefail
cli=$1
dir=$(realpath "$2")

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
long_options() { grep -o -- '--[a-z][a-z0-9-]*' | sort -u || true; }
# same SHELL WHAT EXPECTED OFFERED: the offer, one word a line, is the expected list.
same() {
    local offered
    offered=$(sort -u <<<"$4" | sed '/^$/d')
    [ "$offered" = "$3" ] || fail "$1 $2: offers [$(tr '\n' ' ' <<<"$offered")], --help shows [$(tr '\n' ' ' <<<"$3")]"
}

commands=$("$cli" --help | grep -E '^  [a-z]' | awk '{ print $1 }' | sort -u)
top=$(printf '%s\n' $commands help --help --version | sort -u)
declare -A options=()
for command in $commands; do
    options[$command]=$("$cli" "$command" --help | long_options)
done

# bash
bash_offer() { bash -c 'source "$0"; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _velmo_cli; printf "%s\n" "${COMPREPLY[@]}"' "$dir/velmo-cli.bash" "$@"; }
same bash commands "$top" "$(bash_offer velmo-cli '')"
for command in $commands; do
    same bash "$command" "${options[$command]}" "$(bash_offer velmo-cli "$command" --)"
done

if ! command -v zsh >/dev/null || ! command -v fish >/dev/null; then
    echo "SKIP: zsh or fish is not installed (Debian packages zsh, fish)"
    [ "$failures" -eq 0 ] && exit 77
    exit 1
fi

# fish
fish_offer() { fish --no-config -c "source $dir/velmo-cli.fish; complete -C'$1'" | cut -f1; }
same fish commands "$top" "$(fish_offer 'velmo-cli ' | grep -v '^-' ; fish_offer 'velmo-cli --')"
for command in $commands; do
    same fish "$command" "${options[$command]}" "$(fish_offer "velmo-cli $command --")"
done

# zsh: the long options and commands that _arguments and _values are given.
zsh_offer() {
    zsh -f -c 'function _arguments { print -rl -- "$@" }
               function _values { print -rl -- "${@:2}" }
               function _files _hosts { }
               source "$0" 2>/dev/null
               words=(velmo-cli "$@"); CURRENT=$#words; _velmo-cli' "$dir/_velmo-cli" "$@" |
        grep -oE -- '^[^[]*' | grep -oE -- '(^|[}),*])--[a-z][a-z0-9-]*|^[a-z]+$' |
        sed 's/^[}),*]//' | sort -u
}
same zsh commands "$top" "$(zsh_offer '')"
for command in $commands; do
    same zsh "$command" "${options[$command]}" "$(zsh_offer "$command" '')"
done

if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "completions match --help: $(wc -w <<<"$commands") commands in bash, zsh and fish"
