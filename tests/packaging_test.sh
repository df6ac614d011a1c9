#!/usr/bin/env bash
# Checks what users meet besides the binary, one check per run:
#
#   packaging_test.sh CHECK SOURCE_DIR [ARG...]
#
# manpage PAGE DATE: the built page lints clean, bears the release's date and names the diagnostics
# options BINARY PAGE: every option that --help lists is in the man page, both completions and the README
# install BUILD_DIR VERSION: a DESTDIR install puts every file in place; binary and port say VERSION
# completion BINARY: the bash completion offers the options, files after --index and port names from the index
# shells: both completions, typed into real shells
# dist: a release is reproducible and builds
# sandbox: the sandbox's inner half refuses to run by hand
# demo: the demo shows installed and other ports
# install_deps: on FreeBSD, install-deps asks pkg and installs with it
set -euo pipefail
what=$1
source_dir=$2

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

case $what in
manpage)
    # The page as the build writes it, dated with the release.
    page=$3
    release_date=$4
    mandoc -T lint -W warning "$page"
    grep -qx "\.Dd $release_date" "$page" || fail "the page is not dated $release_date"
    # The page names the messages that users meet.
    for text in "Could not determine release" "Could not open" "Could not read" "input file is output file" \
        "vandrel: write error" "invalid regular expression" "no pkg-descr file could be read" \
        "/usr/ports/MOVED" \
        "vandrel: out of memory" "illegal option"; do
        grep -q "$text" "$page" || fail "DIAGNOSTICS lacks '$text'"
    done
    for variable in PORTSDIR INDEXDIR INDEXFILE PKG_DBDIR; do
        grep -q "^\.It Ev $variable\$" "$page" || fail "ENVIRONMENT lacks $variable"
    done
    ;;
options)
    # What --help lists, nothing kept by hand: letters from the help text,
    # long options from their list.
    binary=$3
    page=$4
    help=$("$binary" --help)
    letters=$(sed -n 's/^\t-\([a-zA-Z]\)\t.*/\1/p' <<<"$help")
    long=$(sed -n 's/^\t--\([a-z][a-z-]*\).*/\1/p' <<<"$help")
    [ "$(wc -w <<<"$letters")" -ge 10 ] || fail "--help lists too few letters: $letters"
    [ "$(wc -w <<<"$long")" -ge 9 ] || fail "--help lists too few long options: $long"
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
    offered=$(offer vandrel -)
    for letter in $letters; do
        grep -q "^\.It Fl $letter\$" "$page" || fail "the man page has no entry for -$letter"
        grep -qx -- "-$letter" <<<"$offered" || fail "bash does not offer -$letter"
    done
    for option in $long; do
        grep -qF ".It Fl \\-$option" "$page" || fail "the man page has no entry for --$option"
        grep -qx -- "--$option" <<<"$offered" || fail "bash does not offer --$option"
        grep -q -- "--$option\b" "$source_dir/README.md" || fail "the README does not name --$option"
    done
    # zsh shows each option with the help text's own line.
    while IFS= read -r line; do
        flag=${line%% *} description=${line#* - }
        grep -qF -- "$flag[$description]" "$source_dir/completions/_vandrel" ||
            grep -qF -- "$flag=[$description]" "$source_dir/completions/_vandrel" ||
            fail "zsh does not offer $flag as '$description'"
    done < <(sed -n 's/^\t\(-[a-zA-Z]\)\t- /\1 - /p; s/^\t\(--[a-z-]*\)[ A-Z]* - /\1 - /p' <<<"$help")
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
    # The options, a file after --index and port names for the term, from
    # an index named as vandrel names it.
    binary=$3
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
    [ "$(offer vandrel - | grep -v -- '^--')" = "$(printf '%s\n' -a -d -p -m -D -f -n -r -h -v)" ] ||
        fail "- does not offer every option letter"
    [ "$(offer vandrel --wo)" = "--word" ] || fail "--wo does not complete to --word"
    [ -z "$(offer vandrel zsh -)" ] || fail "options offered after the search term"
    [ -z "$(offer vandrel -- -)" ] || fail "options offered after --"
    index_dir=$(mktemp -d)
    trap 'rm -rf "$index_dir"' EXIT
    printf '%s\n' "zsh-5.9_5|/usr/ports/shells/zsh" "zsh-completions-0.35.0|/usr/ports/shells/zsh-completions" \
        "zsh-5.9_6|/usr/ports/shells/zsh" "bash-5.2.37|/usr/ports/shells/bash" >"$index_dir/INDEX-15"
    cp "$index_dir/INDEX-15" "$index_dir/other"
    names() { offer "$@" | tr '\n' ' ' | sed 's/ $//'; }
    [ "$(INDEXDIR=$index_dir INDEXFILE=INDEX-15 names vandrel -a zs)" = "zsh zsh-completions" ] ||
        fail "port names not offered for the term"
    [ "$(INDEXFILE=$index_dir/other names vandrel b)" = "bash" ] || fail "an absolute INDEXFILE not followed"
    [ "$(names vandrel --index "$index_dir/other" b)" = "bash" ] || fail "--index FILE not followed"
    [ "$(names vandrel "--index=$index_dir/other" -- b)" = "bash" ] || fail "--index=FILE not followed"
    [ -z "$(INDEXDIR=$index_dir INDEXFILE=INDEX-15 names vandrel '')" ] || fail "names offered before anything is typed"
    [ -z "$(INDEXDIR=$index_dir/none names vandrel z)" ] || fail "something offered without an index"
    [ "$(names vandrel --index "$index_dir/oth")" = "$index_dir/other" ] || fail "no file offered after --index"
    # Bash splits "--index=FILE" at "=" into three words.
    [ "$(names vandrel --index = "$index_dir/oth")" = "$index_dir/other" ] || fail "no file offered after --index="
    [ "$(names vandrel --index = "$index_dir/other" b)" = "bash" ] || fail "--index=FILE, split, not followed"
    [ -z "$(names vandrel --exclude p)" ] || fail "something offered for --exclude's term"
    [ "$(offer vandrel --exclude = php --ww)" = "--www" ] || fail "no options after --exclude=TERM"
    if command -v zsh >/dev/null; then
        zsh -n "$source_dir/completions/_vandrel" || fail "the zsh completion does not parse"
    fi
    ;;
shells)
    # The completions in real interactive shells, typed into tmux and read off
    # its screen: bash with menu-complete inserts one bare option per Tab, and
    # zsh lists the options with their descriptions, but none after the term.
    missing=()
    for tool in tmux zsh; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "[  SKIPPED ] needs ${missing[*]} (scripts/install-deps test)"
        exit 0
    fi
    socket="vandrel-completion-$$"
    trap 'tmux -L "$socket" kill-server 2>/dev/null' EXIT
    screen() { tmux -L "$socket" capture-pane -p -t "$1" | sed 's/ *$//' | grep -v '^$'; }
    type_keys() { # pane, keys...
        local pane=$1
        shift
        tmux -L "$socket" send-keys -t "$pane" "$@"
    }
    # What each session writes, as tmux's control mode reports it: a line for
    # every piece of output. A control client attached to the session writes
    # them into a FIFO that the test reads.
    events=$(mktemp -d)
    clients=()
    trap 'kill "${clients[@]}" 2>/dev/null; tmux -L "$socket" kill-server 2>/dev/null; rm -rf "$events"' EXIT
    declare -A event_fd
    watch() { # session
        local input output
        mkfifo "$events/$1.in" "$events/$1.out"
        exec {input}<>"$events/$1.in" # the client's input, held open
        tmux -L "$socket" -C attach -t "$1" <&"$input" >"$events/$1.out" 2>/dev/null &
        clients+=($!)
        exec {output}<"$events/$1.out"
        event_fd[$1]=$output
    }
    # pane, what, test...: waits until the test (a command given the pane's
    # screen on its input) passes, looking again after each report of output;
    # fails when 10 s pass without one.
    wait_for() {
        local pane=$1 what=$2 event
        shift 2
        while ! screen "$pane" | "$@"; do
            read -r -t 10 -u "${event_fd[$pane]}" event || fail "$pane: $what: $(screen "$pane")"
        done
    }
    screen_is() { [ "$(cat)" = "$1" ]; }
    last_line_is() { [ "$(tail -n 1)" = "$1" ]; }
    last_line_matches() { [[ $(tail -n 1) =~ $1 ]]; }
    wait_for_prompt() { # pane, prompt: waits until the screen holds only the prompt
        wait_for "$1" "did not start" screen_is "$2"
    }
    tmux -L "$socket" new-session -d -s bash -x 200 -y 40 "env -i HOME=/nonexistent TERM=xterm bash --norc --noprofile"
    watch bash
    type_keys bash "PS1='$ '; source '$source_dir/completions/vandrel.bash'; bind 'TAB:menu-complete'; clear" Enter
    wait_for_prompt bash '$'
    # One bare option per Tab, a letter or a long one.
    option_typed="^[$] vandrel -([a-zA-Z]|-[a-z]+)\$"
    type_keys bash "vandrel -" Tab
    wait_for bash "the first Tab gave no option" last_line_matches "$option_typed"
    first=$(screen bash | tail -n 1)
    type_keys bash Tab
    wait_for bash "the second Tab gave no other option" \
        eval '! last_line_is "$first" && screen bash | last_line_matches "$option_typed"'
    # A key typed after the Tab shows that the Tab has been dealt with.
    type_keys bash C-u "vandrel zsh -" Tab "#"
    wait_for bash "the key after the Tab" eval '[[ $(tail -n 1) == *"#" ]]'
    [ "$(screen bash | tail -n 1)" = '$ vandrel zsh -#' ] || fail "bash: options offered after the term"

    tmux -L "$socket" new-session -d -s zsh -x 200 -y 40 "env -i HOME=/nonexistent TERM=xterm zsh -f"
    watch zsh
    type_keys zsh "PS1='%% '; fpath=('$source_dir/completions' \$fpath); autoload -U compinit; compinit -u -D; clear" Enter
    wait_for_prompt zsh '%'
    type_keys zsh "vandrel -" Tab
    wait_for zsh "no options listed" grep -q -- '-a.*Search in all fields'
    screen zsh | grep -q -- '-v.*Print version number' || fail "zsh: -v not listed: $(screen zsh)"
    type_keys zsh C-u
    type_keys zsh "clear" Enter
    wait_for_prompt zsh '%'
    type_keys zsh "vandrel zsh -" Tab "#"
    wait_for zsh "the key after the Tab" grep -qxF '% vandrel zsh -#'
    ! screen zsh | grep -q 'Search in' || fail "zsh: options offered after the term: $(screen zsh)"
    ;;
dist)
    # Two releases of one commit are the same bytes, the second made with the
    # clock 400 days on, and the tarball builds.
    command -v git >/dev/null && git -C "$source_dir" rev-parse HEAD >/dev/null 2>&1 ||
        { echo "[  SKIPPED ] not a git checkout"; exit 0; }
    command -v faketime >/dev/null ||
        { echo "[  SKIPPED ] needs faketime (scripts/install-deps test)"; exit 0; }
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    "$source_dir/scripts/dist" -o "$work/one" HEAD >/dev/null
    faketime -f '+400d' "$source_dir/scripts/dist" -o "$work/two" HEAD >/dev/null
    tarball=$(cd "$work/one" && ls vandrel-*.tar.gz)
    cmp "$work/one/$tarball" "$work/two/$tarball" || fail "two runs gave different tarballs"
    cmp "$work/one/distinfo" "$work/two/distinfo" || fail "two runs gave different distinfo"
    grep -q "^SHA256 ($tarball) = $(sha256sum "$work/one/$tarball" | cut -d' ' -f1)\$" "$work/one/distinfo" ||
        fail "distinfo does not hold the tarball's SHA256"
    grep -q "^SIZE ($tarball) = $(wc -c <"$work/one/$tarball" | tr -d ' ')\$" "$work/one/distinfo" ||
        fail "distinfo does not hold the tarball's size"
    grep -q '^TIMESTAMP = [0-9]*$' "$work/one/distinfo" || fail "distinfo has no TIMESTAMP"
    tar -xzf "$work/one/$tarball" -C "$work"
    cmake -S "$work/${tarball%.tar.gz}" -B "$work/build" -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$work/build" >/dev/null
    version=${tarball#vandrel-}
    version=${version%.tar.gz}
    "$work/build/vandrel" -v | grep -qF "vandrel $version by " ||
        fail "the tarball does not build a binary of its version"
    ;;
sandbox)
    # The inner half refuses to mount anything in the namespace it was started from.
    [ -e /proc/self/ns/mnt ] || { echo "[  SKIPPED ] no Linux mount namespaces here"; exit 0; }
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
        [ $status -eq 125 ] && { echo "[  SKIPPED ] install-deps doesn't know this system"; exit 0; }
        fail "scripts/demo exited with $status"
    }
    grep -q '^+ zsh-5\.9_5 (/usr/ports/shells/zsh)$' <<<"$output" || fail "no installed port marked +"
    grep -q '^- zsh-completions-' <<<"$output" || fail "no other port marked -"
    ;;
install_deps)
    # A FreeBSD whose pkg knows only cmake-core as installed, and logs what it is
    # asked to install.
    fake=$(mktemp -d)
    trap 'rm -rf "$fake"' EXIT
    chmod 755 "$fake"
    printf '#!/bin/sh\necho FreeBSD\n' >"$fake/uname"
    cat >"$fake/pkg" <<END
#!/bin/sh
case "\$1 \$2" in
"info -e") [ "\$3" = cmake-core ] ;;
"install -y") shift 3; echo "\$*" >>"$fake/installed" ;;
*) exit 64 ;;
esac
END
    # A copy, which an ordinary user can run wherever the clone is.
    cp "$source_dir/scripts/install-deps" "$fake/install-deps"
    chmod 755 "$fake/uname" "$fake/pkg" "$fake/install-deps"
    wanted="bash googletest libfaketime ninja nlohmann-json pcre2 sqlite3 tmux zsh"
    as_user=()
    if [ "$(id -u)" -eq 0 ]; then
        PATH="$fake:$PATH" "$fake/install-deps" build test 2>/dev/null
        [ "$(cat "$fake/installed")" = "$wanted" ] || fail "pkg was asked for: $(cat "$fake/installed")"
        command -v setpriv >/dev/null || { echo "ok: install_deps (as root only)"; exit 0; }
        as_user=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups --)
    fi
    status=0
    err=$(PATH="$fake:$PATH" "${as_user[@]}" "$fake/install-deps" build test 2>&1) ||
        status=$?
    [ $status -eq 1 ] || fail "an ordinary user missing packages got status $status"
    grep -qx "  sudo pkg install -y $wanted" <<<"$err" || fail "no pkg line for an ordinary user: $err"
    status=0
    PATH="$fake:$PATH" "${as_user[@]}" "$fake/install-deps" build --optional test \
        2>/dev/null || status=$?
    [ $status -eq 1 ] || fail "missing required packages passed (status $status)"
    ;;
*)
    fail "unknown check $what"
    ;;
esac
echo "ok: $what"
