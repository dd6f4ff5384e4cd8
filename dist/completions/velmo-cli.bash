# bash completion for velmo-cli: its commands, each command's options, and file names, spaces and
# all, where a file is asked for; --option=value as well as --option value. It uses the helpers of
# bash-completion where they are loaded, as they are for the completions it installs, and plain
# compgen otherwise. tests/dist/completions.sh drives it through bash.
_velmo_cli() {
    local cur prev words cword split=false
    if declare -F _init_completion >/dev/null; then
        _init_completion -s || return
    else
        cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
        words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
        if [[ $prev == = && $cword -ge 2 ]]; then
            prev=${COMP_WORDS[COMP_CWORD - 2]}
        elif [[ $cur == = ]]; then
            prev=${COMP_WORDS[COMP_CWORD - 1]} cur=""
        fi
    fi
    local command="" i options
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            spider | probe | poll | detect | gateway | help)
                command=${words[i]}
                break
                ;;
        esac
    done
    local common="-v --verbose --connect-timeout --max-time -h --help --json"
    local login="--login --password-stdin --password-file"
    case $command in
        "")
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "-h --help -V --version" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "spider probe poll detect gateway help" -- "$cur"))
            fi
            return
            ;;
        help)
            COMPREPLY=($(compgen -W "spider probe poll detect gateway" -- "$cur"))
            return
            ;;
        spider) options="$login $common -q --quiet --external-address --list-parsed --deep --report --detect-url" ;;
        probe) options="$login $common --allow-reserved --exclude" ;;
        poll) options="$login $common --exclude --interval --count --on-change --gateway --igd --natpmp --state -q --quiet" ;;
        detect) options="$common -q --quiet --allow-reserved --detect-url --each --gateway-check --igd --natpmp" ;;
        gateway) options="-h --help -v --verbose -q --quiet --json --igd --natpmp --each" ;;
    esac
    case $prev in
        --password-file | --report | --state)
            if declare -F _filedir >/dev/null; then
                _filedir
            else
                # As typed, less its escapes: "my\ f" is "my f", "a\\b" is "a\b".
                local IFS=$'\n' typed=${cur//\\\\/$'\x01'}
                typed=${typed//\\/}
                COMPREPLY=($(compgen -f -- "${typed//$'\x01'/\\}"))
                compopt -o filenames 2>/dev/null
            fi
            return
            ;;
        --login | --external-address | --detect-url | --exclude | --interval | --count | \
            --on-change | --igd | --natpmp | --connect-timeout | --max-time)
            return  # a value of the user's own
            ;;
    esac
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
}
complete -F _velmo_cli velmo-cli
