# bash completion for vandrel(1): the options, with their descriptions when
# more than one fits; nothing is offered for the search term itself.

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

    local -a options=(
        "-a:Search in all fields"
        "-d:Search in name and in description"
        "-p:Search in name and in path"
        "-m:Search in name and maintainer"
        "-D:Search in name and dependencies"
        "-f:Show result with dependencies"
        "-n:Show normal version of results (short version is default)"
        "-r:Show result count"
        "-h:Print this help text"
        "-v:Print version number"
    )
    local -a fitting=()
    local option
    for option in "${options[@]}"; do
        [[ ${option%%:*} == "$cur"* ]] && fitting+=("$option")
    done
    COMPREPLY=()
    if ((${#fitting[@]} == 1)); then
        COMPREPLY=("${fitting[0]%%:*}")
    else
        # Shown as a list; their common prefix is what was typed.
        for option in "${fitting[@]}"; do
            COMPREPLY+=("$(printf '%-3s %s' "${option%%:*}" "${option#*:}")")
        done
    fi
}
complete -F _vandrel vandrel
