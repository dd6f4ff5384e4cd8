# bash completion for velmo-cli: its commands, each command's options, and files where a file is
# asked for. tests/dist/completions.sh holds it against velmo-cli --help.
_velmo_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local command="" i options
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            spider | probe | poll | detect | gateway | help)
                command=${COMP_WORDS[i]}
                break
                ;;
        esac
    done
    case $command in
        "")
            COMPREPLY=($(compgen -W "spider probe poll detect gateway help --help --version" -- "$cur"))
            return
            ;;
        help)
            COMPREPLY=($(compgen -W "spider probe poll detect gateway" -- "$cur"))
            return
            ;;
        spider) options="--login --password-stdin --password-file --external-address --list-parsed --deep --report --detect-url --connect-timeout --max-time --verbose --help" ;;
        probe) options="--login --password-stdin --password-file --allow-reserved --exclude --connect-timeout --max-time --verbose --help" ;;
        poll) options="--login --password-stdin --password-file --exclude --interval --count --on-change --gateway --igd --natpmp --state --quiet --connect-timeout --max-time --verbose --help" ;;
        detect) options="--allow-reserved --detect-url --each --gateway-check --igd --natpmp --connect-timeout --max-time --verbose --help" ;;
        gateway) options="--igd --natpmp --each --verbose --help" ;;
    esac
    case $prev in
        --password-file | --report | --state)
            COMPREPLY=($(compgen -f -- "$cur"))
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
