# bash completion for KestrumSSLVPN
_KestrumSSLVPN()
{
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    if [[ $prev == --connect ]]; then
        # The running client knows the profiles; without one there is nothing to offer.
        local IFS=$'\n'
        COMPREPLY=($(compgen -W "$("${COMP_WORDS[0]}" --profiles 2>/dev/null)" -- "$cur"))
        return
    fi
    local commands="--connect --disconnect --status --profiles --show --quit --help --version"
    local word given=""
    for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        case $word in
        --connect | --disconnect | --status | --profiles | --show | --quit | --help | --version) given=$word ;;
        esac
    done
    case $given in
    --connect) COMPREPLY=($(compgen -W "--otp-stdin --wait" -- "$cur")) ;;
    --disconnect) COMPREPLY=($(compgen -W "--wait" -- "$cur")) ;;
    --status) COMPREPLY=($(compgen -W "--json" -- "$cur")) ;;
    "") COMPREPLY=($(compgen -W "$commands" -- "$cur")) ;;
    esac
}
complete -F _KestrumSSLVPN KestrumSSLVPN
