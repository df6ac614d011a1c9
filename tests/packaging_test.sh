#!/usr/bin/env bash
# Checks what users meet besides the binary:
#   packaging_test.sh manpage SOURCE_DIR             the page lints clean and matches the help text
#   packaging_test.sh install SOURCE_DIR BUILD_DIR VERSION
#                                                    a DESTDIR install puts every file in place,
#                                                    and the binary and the port say VERSION
#   packaging_test.sh completion SOURCE_DIR          the bash completion offers the options
#   packaging_test.sh sandbox SOURCE_DIR             the sandbox's inner half refuses to run by hand
#   packaging_test.sh demo SOURCE_DIR                the demo shows installed and other ports
set -euo pipefail
what=$1
source_dir=$2

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

case $what in
manpage)
    page="$source_dir/man/vandrel.1"
    mandoc -T lint -W warning "$page"
    # Every option of the help text has its entry, and the page names the help's texts.
    for letter in a d p m D f n r h v; do
        grep -q "^\.It Fl $letter\$" "$page" || fail "no entry for -$letter"
    done
    for text in "Could not determine release" "Could not open" "Could not read" "vandrel: write error" \
        "vandrel: out of memory" "illegal option"; do
        grep -q "$text" "$page" || fail "DIAGNOSTICS lacks '$text'"
    done
    for variable in PORTSDIR INDEXDIR INDEXFILE PKG_DBDIR; do
        grep -q "^\.It Ev $variable\$" "$page" || fail "ENVIRONMENT lacks $variable"
    done
    ;;
install)
    build_dir=$3
    version=$4
    stage=$(mktemp -d)
    trap 'rm -rf "$stage"' EXIT
    DESTDIR="$stage" cmake --install "$build_dir" --prefix /usr/local >/dev/null
    for file in bin/vandrel share/man/man1/vandrel.1 share/zsh/site-functions/_vandrel \
        share/bash-completion/completions/vandrel; do
        [ -f "$stage/usr/local/$file" ] || fail "$file was not installed"
    done
    [ -x "$stage/usr/local/bin/vandrel" ] || fail "bin/vandrel is not executable"
    "$stage/usr/local/bin/vandrel" -v | grep -qF "vandrel $version by " ||
        fail "the installed binary does not run or does not say $version"
    grep -q "^DISTVERSION=[[:space:]]*${version//./\\.}\$" "$source_dir/packaging/freebsd/Makefile" ||
        fail "the port's DISTVERSION is not $version, the version CMakeLists.txt sets"
    rendered=$(mandoc -T ascii "$stage/usr/local/share/man/man1/vandrel.1" | col -b)
    grep -q "vandrel - search the ports collection index" <<<"$rendered" || fail "the page does not render"
    ;;
completion)
    # shellcheck source=/dev/null
    complete() { :; }
    source "$source_dir/completions/vandrel.bash"
    offer() {
        COMP_WORDS=("$@")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMPREPLY=()
        _vandrel
        printf '%s\n' "${COMPREPLY[@]}"
    }
    [ "$(offer vandrel -n)" = "-n" ] || fail "-n does not complete to itself"
    [ "$(offer vandrel -)" = "$(printf '%s\n' \
        "-a  Search in all fields" \
        "-d  Search in name and in description" \
        "-p  Search in name and in path" \
        "-m  Search in name and maintainer" \
        "-D  Search in name and dependencies" \
        "-f  Show result with dependencies" \
        "-n  Show normal version of results (short version is default)" \
        "-r  Show result count" \
        "-h  Print this help text" \
        "-v  Print version number")" ] || fail "- does not list every option with its description"
    [ -z "$(offer vandrel zsh -)" ] || fail "options offered after the search term"
    [ -z "$(offer vandrel -- -)" ] || fail "options offered after --"
    [ -z "$(offer vandrel z)" ] || fail "something offered for the search term"
    if command -v zsh >/dev/null; then
        zsh -n "$source_dir/completions/_vandrel" || fail "the zsh completion does not parse"
    fi
    ;;
sandbox)
    # The inner half refuses to mount anything in the namespace it was started from.
    scratch=$(mktemp -d)
    trap 'rmdir "$scratch"' EXIT
    status=0
    err=$("$source_dir/scripts/sandbox-run" --inner "$(readlink /proc/self/ns/mnt)" "$scratch" -- true 2>&1) ||
        status=$?
    [ $status -eq 125 ] || fail "--inner ran in the caller's namespace (status $status)"
    grep -q "only inside the namespace" <<<"$err" || fail "--inner refused without saying why: $err"
    ! mountpoint -q "$scratch" || fail "--inner mounted over $scratch"
    ;;
demo)
    output=$("$source_dir/scripts/demo" zsh) || {
        status=$?
        [ $status -eq 125 ] && { echo "[  SKIPPED ] no private mount namespace here"; exit 0; }
        fail "scripts/demo exited with $status"
    }
    grep -q '^+ zsh-5\.9_5 (/usr/ports/shells/zsh)$' <<<"$output" || fail "no installed port marked +"
    grep -q '^- zsh-completions-' <<<"$output" || fail "no other port marked -"
    ;;
*)
    fail "unknown check $what"
    ;;
esac
echo "ok: $what"
