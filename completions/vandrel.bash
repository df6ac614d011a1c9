# bash completion for vandrel(1): the options, a file after --index, nothing
# after --exclude, and for
# the search term the names of the ports in the index that begin with what is
# typed. Nothing is offered after the term, since vandrel stops parsing
# options at the first operand. Only bare words are offered: bash inserts
# what it offers (menu-complete does so one at a time), so a description
# would end up on the command line.

# Where "=" is in COMP_WORDBREAKS, as it is by default, bash hands
# "--index=FILE" over as three words: "--index", "=" and "FILE".

# The argument of the option that starts at word i: the word after it, or
# the one after "=".
_vandrel_argument() {
    if [[ ${COMP_WORDS[$1 + 1]} == = ]]; then
        printf '%s\n' "${COMP_WORDS[$1 + 2]}"
    else
        printf '%s\n' "${COMP_WORDS[$1 + 1]}"
    fi
}

# The index vandrel would read: --index's file, else as the ports framework
# and vandrel find it.
_vandrel_index() {
    local i index=
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
        --index) index=$(_vandrel_argument "$i") ;;
        --index=*) index=${COMP_WORDS[i]#--index=} ;;
        esac
    done
    if [[ -z $index ]]; then
        local file=${INDEXFILE:-INDEX-$(uname -r | cut -d. -f1)}
        if [[ $file == /* ]]; then
            index=$file
        else
            index=${INDEXDIR:-${PORTSDIR:-/usr/ports}}/$file
        fi
    fi
    printf '%s\n' "$index"
}

_vandrel() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]}
    local i option=$prev
    if [[ $prev == = ]] && ((COMP_CWORD >= 2)); then
        option=${COMP_WORDS[COMP_CWORD - 2]}
    fi
    case $option in
    --index)
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return 0
        ;;
    --exclude) return 0 ;;
    esac
    # Options end at "--" or at the first operand; --index and --exclude take
    # the next word, or the one after "=".
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
        --) break ;;
        --index | --exclude)
            [[ ${COMP_WORDS[i + 1]} == = ]] && ((i++))
            ((i++))
            ;;
        -?*) ;;
        *) return 0 ;;
        esac
    done
    if ((i < COMP_CWORD)); then
        : # after "--": the term
    elif [[ $cur == --index=* ]]; then
        mapfile -t COMPREPLY < <(compgen -f -P --index= -- "${cur#--index=}")
        return 0
    elif [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '-a -d -p -m -D -f -n -r -h -v --categories --www
            --pkg-descr --word --regex --exclude --installed --outdated --status --moved --json
            --index --help --version' -- "$cur")
        return 0
    fi
    # The term: port names, once something is typed (the whole index is
    # thousands of names).
    [[ -n $cur ]] || return 0
    local index
    index=$(_vandrel_index)
    [[ $index != - && -r $index && ! -d $index ]] || return 0
    mapfile -t COMPREPLY < <(awk -F'|' -v p="$cur" '{
        name = $1; sub(/-[^-]*$/, "", name)
        if (substr(name, 1, length(p)) == p && !seen[name]++) print name
    }' "$index")
}
complete -F _vandrel vandrel
