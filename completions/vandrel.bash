# bash completion for vandrel(1): the options; nothing is offered for the
# search term, and nothing after it, since vandrel stops parsing options at
# the first operand. Only the options themselves are offered: bash inserts
# what it offers (menu-complete does so one at a time), so a description
# would end up on the command line.

_vandrel() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local i
    # Options end at "--" or at the first operand.
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
        --) return 0 ;;
        -?*) ;;
        *) return 0 ;;
        esac
    done
    [[ $cur == -* ]] || return 0
    mapfile -t COMPREPLY < <(compgen -W '-a -d -p -m -D -f -n -r -h -v' -- "$cur")
}
complete -F _vandrel vandrel
