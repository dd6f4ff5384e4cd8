#!/usr/bin/env bash
# The bash, zsh and fish completions, each driven through its own shell's completion: bash calls
# the function with COMP_WORDS as readline splits a line, with bash-completion loaded and without;
# zsh completes in a real
# line editor on a pseudo-terminal (zpty) with compinit, recording what compadd is given; fish
# answers complete -C. Every row is a command line and what the shell must offer for its last
# word: the commands and each command's options as velmo-cli --help shows them, file names with
# spaces, a value left to the user; no shell may print an error.
#   usage: completions.sh VELMO_CLI COMPLETIONS_DIR
#   (exit 77, skipped, without bash-completion, zsh or fish)
set -euo pipefail
cli=$1
dir=$(realpath "$2")

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# What --help shows: the commands, and each command's options, short and long.
options_of() { "$cli" "$@" --help | sed -n '/^Options:/,$p' | awk '/^  -/ { print $1 }' | tr , '\n' | sort -u; }
commands=$("$cli" --help | grep -E '^  [a-z]' | awk '{ print $1 }' | sort -u)
declare -A expected=()
expected["velmo-cli "]=$(printf '%s\n' $commands help | sort -u)
expected["velmo-cli -"]=$(options_of)
expected["velmo-cli help "]=$commands
for command in $commands; do
    expected["velmo-cli $command -"]=$(options_of "$command")
done
# File names, typed plainly, escaped or after =; a value that is the user's own.
files=$'my file.txt\nmy folder'
expected["velmo-cli poll --state my"]=$files
expected["velmo-cli poll --state my\\ f"]=$files
expected["velmo-cli spider --report=my"]=$files
expected["velmo-cli probe --password-file my\\ fi"]="my file.txt"
expected["velmo-cli poll --interval "]=""
# Where only the absence of an error is asked: the router's address, whose message holds a colon.
lenient=("velmo-cli spider " "velmo-cli poll --gateway --igd=http://x/ ")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/files" "$work/files/my folder"
touch "$work/files/my file.txt" "$work/files/other"
cd "$work/files"

# The offer, one candidate a line, as a user would see it inserted: escapes and a folder's slash
# left out, and a value given after = without its option.
normal() { sed -e 's/\\\(.\)/\1/g' -e 's|/$||' -e 's/^--[a-z-]*=//' | sed '/^$/d' | sort -u; }
# check SHELL LINE OFFER ERRORS
check() {
    local offered
    offered=$(normal <<<"$3")
    if [ -n "$4" ]; then
        fail "$1 \"$2\": $4"
    elif [ -n "${expected[$2]+set}" ] && [ "$offered" != "${expected[$2]}" ]; then
        fail "$1 \"$2\": offers [$(tr '\n' '|' <<<"$offered")] instead of [$(tr '\n' '|' <<<"${expected[$2]}")]"
    fi
}
lines=("${!expected[@]}" "${lenient[@]}")

# bash: COMP_WORDS split as readline splits them, at unescaped blanks and at = and :.
bash_offer() {
    bash --norc --noprofile -c '
        [ "$0" = plain ] || source /usr/share/bash-completion/bash_completion
        source "$1"
        COMP_LINE=$2 COMP_POINT=${#2} COMP_WORDS=() word=""
        for ((i = 0; i < ${#2}; i++)); do
            c=${2:i:1}
            case $c in
                \\) word+=$c${2:i+1:1}; i=$((i + 1)) ;;
                " ") [ -z "$word" ] || COMP_WORDS+=("$word"); word="" ;;
                = | :) [ -z "$word" ] || COMP_WORDS+=("$word"); COMP_WORDS+=("$c"); word="" ;;
                *) word+=$c ;;
            esac
        done
        COMP_WORDS+=("$word")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        _velmo_cli velmo-cli "$word" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}"' "$1" "$dir/velmo-cli.bash" "$2"
}
modes=(plain)
missing=()
if [ -f /usr/share/bash-completion/bash_completion ]; then
    modes+=(bash-completion)
else
    missing+=(bash-completion)
fi
for mode in "${modes[@]}"; do
    for line in "${lines[@]}"; do
        # bash-completion leaves the escapes of a word to readline's own dequoting, which only a
        # completion readline runs has.
        [[ $mode == plain || $line != *\\* ]] || continue
        errors=$(bash_offer "$mode" "$line" 2>&1 >/dev/null) || true
        check "bash ($mode)" "$line" "$(bash_offer "$mode" "$line" 2>/dev/null)" "$errors"
    done
done

command -v zsh >/dev/null || missing+=(zsh)
command -v fish >/dev/null || missing+=(fish)
if [ ${#missing[@]} -ne 0 ]; then
    echo "SKIP: not installed: ${missing[*]} (the Debian packages of the same names)"
    [ "$failures" -eq 0 ] && exit 77
    exit 1
fi

# fish
for line in "${lines[@]}"; do
    errors=$(fish --no-config -c 'source $argv[1]; complete -C $argv[2]' "$dir/velmo-cli.fish" \
        "$line" 2>&1 >/dev/null) || true
    offer=$(fish --no-config -c 'source $argv[1]; complete -C $argv[2]' "$dir/velmo-cli.fish" \
        "$line" 2>/dev/null | cut -f1)
    check fish "$line" "$offer" "$errors"
done

# zsh: each line typed into an interactive zsh, then Tab; compadd notes the candidates it is given
# in a file, one block per line, and the terminal shows any error.
cat >"$work/drive.zsh" <<'EOF'
zmodload zsh/zpty
zpty -b shell zsh -f -i
zpty -w shell "PS1=''; fpath=($1 \$fpath); autoload -Uz compinit; compinit -u -D; out=$2"
zpty -w shell "unsetopt auto_list list_beep; zstyle ':completion:*' list-prompt ''"
zpty -w shell 'compadd() {
    if (( ${@[(I)-[OAD]]} )); then builtin compadd "$@"; return; fi
    local -a hits; builtin compadd -O hits "$@"; (( ! $#hits )) || print -rl -- $hits >> $out
    builtin compadd "$@"
}'
# Tab completes, then notes that it has: nothing more is typed while it runs.
zpty -w shell 'complete-and-note() { zle expand-or-complete; print -r -- "=== completed" >> $out }'
zpty -w shell 'zle -N complete-and-note; bindkey "^I" complete-and-note'
zpty -w shell 'print READY'
zpty -r -m shell setup '*READY*READY*'
out=$2
tty=$2.tty
shift 2
zmodload zsh/zselect
for ((n = 1; n <= $#; n++)); do
    zpty -w shell "print -r -- '=== $n' >> \$out"
    zpty -w -n shell "${@[n]}"$'\t'
    for ((wait = 0; wait < 3000; wait++)); do
        [[ $(<$out) == *"=== $n"*"=== completed" ]] && break
        zselect -t 1
    done
    # The line's end: a mark the shell prints, which its echo of the command cannot show.
    zpty -w shell $'\C-e\C-u'"print DONE\$(($n))"
    zpty -r -m shell typed "*DONE${n}[[:space:]]*"
    print -r -- "=== $n ${typed//[[:cntrl:]]/ }" >>$tty
done
zpty -w shell 'print -r -- "=== end" >> $out; print ENDED$((1))'
zpty -r -m shell rest '*ENDED1*'
zpty -d shell
EOF
touch "$work/zsh.out" "$work/zsh.out.tty"
zsh -f "$work/drive.zsh" "$dir" "$work/zsh.out" "${lines[@]}"
grep -q -x "=== end" "$work/zsh.out" || fail "zsh did not complete every line"
for ((n = 1; n <= ${#lines[@]}; n++)); do
    offer=$(awk -v n="$n" '/^=== / { on = ($2 == n); next } on' "$work/zsh.out")
    errors=$(grep -a "^=== $n " "$work/zsh.out.tty" | grep -a -o -i -E '[^ ]*[ a-z]*error.{0,30}' || true)
    check zsh "${lines[n - 1]}" "$offer" "$errors"
done

if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "completions: ${#lines[@]} lines in bash (with bash-completion and without), zsh and fish"
