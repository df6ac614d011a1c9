// The options that widen and narrow a search, end to end: --regex,
// --exclude, --www, --pkg-descr and --moved, on a small ports tree with
// pkg-descr files and a MOVED file, alone and with --word, --json and -r.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "runner.h"

namespace {

using fixture::command;
using fixture::counts;
namespace fs = std::filesystem;

// Real-shaped lines: flavors of one port, two editors whose names hold each
// other's, PHP and its PECL extension, a port whose pkg-descr is missing and
// one whose description file is outside the tree.
constexpr const char* tree_index =
    "zsh-5.9_5|/usr/ports/shells/zsh|/usr/local|Z shell|/usr/ports/shells/zsh/pkg-descr|"
    "bapt@FreeBSD.org|shells|autoconf-2.72|pcre2-10.44|https://www.zsh.org/|||\n"
    "bash-5.2.37|/usr/ports/shells/bash|/usr/local|GNU Project's Bourne Again SHell|/usr/ports/"
    "shells/bash/pkg-descr|ehaupt@FreeBSD.org|shells||gettext-runtime-0.22.5|https://"
    "www.gnu.org/software/bash/|||\n"
    "py311-requests-2.32.3|/usr/ports/www/py-requests|/usr/local|HTTP library written in Python "
    "for human beings|/usr/ports/www/py-requests/pkg-descr|python@FreeBSD.org|www python|"
    "py311-setuptools-63.1.0_1|py311-urllib3-1.26.20,1|https://github.com/psf/requests|||\n"
    "py39-requests-2.32.3|/usr/ports/www/py-requests|/usr/local|HTTP library written in Python "
    "for human beings|/usr/ports/www/py-requests/pkg-descr|python@FreeBSD.org|www python|"
    "py39-setuptools-63.1.0_1|py39-urllib3-1.26.20,1|https://github.com/psf/requests|||\n"
    "vim-9.1.0707|/usr/ports/editors/vim|/usr/local|Improved version of the vi editor|/usr/ports/"
    "editors/vim/pkg-descr|adamw@FreeBSD.org|editors||libiconv-1.17_1|https://www.vim.org/|||\n"
    "neovim-0.10.1|/usr/ports/editors/neovim|/usr/local|Next-generation Vim|/usr/ports/editors/"
    "neovim/pkg-descr|adamw@FreeBSD.org|editors|cmake-core-3.30.3|libuv-1.48.0 "
    "luajit-2.1.0.20240815|https://neovim.io/|||\n"
    "php83-8.3.12|/usr/ports/lang/php83|/usr/local|PHP Scripting Language (8.3.X branch)|/usr/"
    "ports/lang/php83/pkg-descr|bofh@FreeBSD.org|lang devel www||pcre2-10.44|https://"
    "www.php.net/|||\n"
    "php83-pecl-redis-6.0.2|/usr/ports/databases/pecl-redis|/usr/local|Extension to access "
    "Redis|/usr/ports/databases/pecl-redis/pkg-descr|daniel@FreeBSD.org|databases||php83-8.3.12|"
    "https://pecl.php.net/package/redis|||\n"
    "gitlab-ce-17.3.4|/usr/ports/www/gitlab|/usr/local|Web GUI for managing git repositories|/usr/"
    "ports/www/gitlab/pkg-descr|mfechner@FreeBSD.org|www devel||git-2.46.2|https://gitlab.com/"
    "gitlab-org/gitlab-foss|||\n"
    "tmux-3.4_1|/usr/ports/sysutils/tmux|/usr/local|Terminal Multiplexer|/usr/ports/sysutils/tmux/"
    "pkg-descr|mat@FreeBSD.org|sysutils||libevent-2.1.12|https://github.com/tmux/tmux|||\n"
    "localport-1.0|/home/me/ports/misc/localport|/usr/local|A port of my own|/home/me/ports/misc/"
    "localport/pkg-descr|me@example.org|misc|||https://example.org/|||\n";

constexpr std::uint64_t tree_lines = 11;

// A ports tree: the index, pkg-descr files for all but tmux and the local
// port, and a MOVED file; no package database.
class ports_tree {
public:
    ports_tree() {
        fs::create_directories(dir_ / "ports");
        fixture::write_file(dir_ / "ports" / "INDEX-15", tree_index);
        for (const auto& [origin, text] : std::vector<std::pair<std::string, std::string>>{
                 {"shells/zsh", "Zsh is a UNIX command interpreter (shell) that resembles the\n"
                                "Korn shell, with many enhancements.\n"},
                 {"shells/bash", "Bash is an sh-compatible shell that incorporates useful\n"
                                 "features from the Korn shell and the C shell.\n"},
                 {"www/py-requests", "Requests is an elegant and simple HTTP library.\n"},
                 {"editors/vim", "Vim is a highly configurable text editor.\n"},
                 {"editors/neovim", "Neovim is a refactor of Vim, with an embedded Lua.\n"},
                 {"lang/php83", "PHP is a widely-used scripting language.\n"},
                 {"databases/pecl-redis", "Talk to Redis from PHP.\n"},
                 {"www/gitlab", "GitLab is a web front end for git, with issues and CI.\n"},
             }) {
            fs::create_directories(dir_ / "ports" / origin);
            fixture::write_file(dir_ / "ports" / origin / "pkg-descr", text);
        }
        using namespace std::string_literals;
        fixture::write_file(
            dir_ / "ports" / "MOVED",
            "# MOVED - ports moved or removed\n"
            "#\n"
            "# Port|Moved to|Date|Why\n"
            "lang/python27||2020-12-31|Has expired: Upstream support ended\n"
            "shells/zsh-devel|shells/zsh|2021-03-14|Merged back into shells/zsh\n"
            "editors/vim-lite|editors/vim@tiny|2022-09-25|Became a flavor of editors/vim\n"
            "www/py-requests2|www/py-requests|2019-04-05|\n"
            "shells/zsh-lovers\n"                              // one field only
            "|shells/zsh|2020-01-01|no old origin\n"           // no old origin
            "shells/zsh-\0nul|x/y|2020-01-01|after a NUL\n"s + // cut at the NUL
                "misc/" +
                std::string(std::size_t{1} << 20, 'z') + "|||huge\n" +
                "sysutils/tmux-devel|sysutils/tmux|2024-02-20|Obsolete, use sysutils/tmux");
        fixture::open_to_all(dir_.path());
    }
    // INDEXDIR is the tree; with_tree, so is PORTSDIR.
    [[nodiscard]] fixture::run_setup setup(bool with_tree = true) const {
        fixture::run_setup setup;
        setup.ports = dir_ / "ports";
        setup.pkg = dir_ / "pkg"; // absent: no packages
        if (with_tree) {
            setup.environment.emplace_back("PORTSDIR", (dir_ / "ports").string());
        }
        return setup;
    }
    [[nodiscard]] fs::path path() const { return dir_ / "ports"; }

private:
    fixture::temp_dir dir_;
};

struct search_case {
    const char* label;
    std::vector<std::string> args;
    std::string out;
    friend void PrintTo(const search_case& c, std::ostream* os) { *os << c.label; }
};

class search_option_test : public testing::TestWithParam<search_case> {};

// Standard output as given, nothing on standard error, status 0.
TEST_P(search_option_test, prints_what_the_options_select) {
    const search_case& c = GetParam();
    const ports_tree tree;
    RUN_OR_SKIP(got, tree.setup(), command(c.args));
    EXPECT_EQ(got.out, c.out);
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.status, 0);
}

// Exclusions by each way of matching; what they drop counts in Entries only.
INSTANTIATE_TEST_SUITE_P(
    exclude, search_option_test,
    testing::Values(search_case{"php_without_pecl",
                                {"-r", "--exclude", "pecl", "php"},
                                "- php83-8.3.12 (/usr/ports/lang/php83)\n" +
                                    counts(1, 1, tree_lines)},
                    search_case{"repeated_and_in_any_searched_field",
                                {"-r", "-d", "--exclude=py39", "--exclude", "EXTENSION", "e"},
                                "- zsh-5.9_5 (/usr/ports/shells/zsh)\n"
                                "- bash-5.2.37 (/usr/ports/shells/bash)\n"
                                "- py311-requests-2.32.3 (/usr/ports/www/py-requests)\n"
                                "- vim-9.1.0707 (/usr/ports/editors/vim)\n"
                                "- neovim-0.10.1 (/usr/ports/editors/neovim)\n"
                                "- php83-8.3.12 (/usr/ports/lang/php83)\n"
                                "- gitlab-ce-17.3.4 (/usr/ports/www/gitlab)\n"
                                "- tmux-3.4_1 (/usr/ports/sysutils/tmux)\n" +
                                    counts(8, 11, tree_lines)},
                    search_case{"not_in_a_field_left_unsearched",
                                {"--exclude", "access", "pecl"},
                                "- php83-pecl-redis-6.0.2 (/usr/ports/databases/pecl-redis)\n"},
                    search_case{"whole_words_only_with_word",
                                {"--word", "--exclude", "vi", "-d", "vim"},
                                "- neovim-0.10.1 (/usr/ports/editors/neovim)\n"},
                    search_case{"by_substring_without_word",
                                {"-r", "--exclude", "vi", "-d", "vim"},
                                counts(0, 0, tree_lines)}));

// The web site: the whole address or, with --word, its host.
INSTANTIATE_TEST_SUITE_P(
    web_site, search_option_test,
    testing::Values(search_case{"www_finds_a_host",
                                {"--www", "github"},
                                "- py311-requests-2.32.3 (/usr/ports/www/py-requests)\n"
                                "- py39-requests-2.32.3 (/usr/ports/www/py-requests)\n"
                                "- tmux-3.4_1 (/usr/ports/sysutils/tmux)\n"},
                    search_case{"www_word_takes_the_host",
                                {"--www", "--word", "gitlab.com"},
                                "- gitlab-ce-17.3.4 (/usr/ports/www/gitlab)\n"},
                    search_case{"www_word_without_www",
                                {"--www", "--word", "-r", "vim.org"},
                                "- vim-9.1.0707 (/usr/ports/editors/vim)\n" +
                                    counts(1, 1, tree_lines)},
                    search_case{"not_searched_without_www", {"-a", "github"}, ""}));

// The long description, read under PORTSDIR where the index names
// /usr/ports: tmux's file is missing and the local port's is outside the
// tree, so neither is found by it.
INSTANTIATE_TEST_SUITE_P(
    pkg_descr, search_option_test,
    testing::Values(
        search_case{"finds_what_only_the_description_holds",
                    {"--pkg-descr", "-r", "korn"},
                    "- zsh-5.9_5 (/usr/ports/shells/zsh)\n"
                    "- bash-5.2.37 (/usr/ports/shells/bash)\n" +
                        counts(2, 2, tree_lines)},
        search_case{"counts_it_only_where_the_line_holds_the_term_nowhere",
                    {"--pkg-descr", "-r", "vim"},
                    "- vim-9.1.0707 (/usr/ports/editors/vim)\n"
                    "- neovim-0.10.1 (/usr/ports/editors/neovim)\n" +
                        counts(2, 2, tree_lines)},
        search_case{"flavours_share_a_file",
                    {"--pkg-descr", "--word", "elegant"},
                    "- py311-requests-2.32.3 (/usr/ports/www/py-requests)\n"
                    "- py39-requests-2.32.3 (/usr/ports/www/py-requests)\n"},
        search_case{"words_at_the_ends_of_its_lines",
                    {"--pkg-descr", "--word", "-r", "enhancements"},
                    "- zsh-5.9_5 (/usr/ports/shells/zsh)\n" + counts(1, 1, tree_lines)},
        search_case{"excluded_by_what_it_holds", {"--pkg-descr", "--exclude", "korn", "shell"}, ""},
        search_case{"not_searched_without_the_option", {"-a", "korn"}, ""},
        search_case{"json_gains_nothing",
                    {"--pkg-descr", "--json", "Talk to Redis"},
                    R"({"name":"php83-pecl-redis","version":"6.0.2",)"
                    R"("full_name":"php83-pecl-redis-6.0.2",)"
                    R"("path":"/usr/ports/databases/pecl-redis",)"
                    R"("origin":"databases/pecl-redis","prefix":"/usr/local",)"
                    R"("comment":"Extension to access Redis",)"
                    R"("description_file":"/usr/ports/databases/pecl-redis/pkg-descr",)"
                    R"("maintainer":"daniel@FreeBSD.org","categories":["databases"],)"
                    R"("build_depends":[],"run_depends":["php83-8.3.12"],)"
                    R"("www":"https://pecl.php.net/package/redis",)"
                    R"("installed_version":null,"outdated":false,"status":null})"
                    "\n"}));

// Extended regular expressions in each searched field, and in excluded
// terms; anchors hold at a field's ends.
INSTANTIATE_TEST_SUITE_P(
    regex, search_option_test,
    testing::Values(search_case{"flavours_by_an_anchored_class",
                                {"--regex", "-r", "^py3[0-9]+-"},
                                "- py311-requests-2.32.3 (/usr/ports/www/py-requests)\n"
                                "- py39-requests-2.32.3 (/usr/ports/www/py-requests)\n" +
                                    counts(2, 2, tree_lines)},
                    search_case{"alternation_in_either_case",
                                {"--regex", "^(VIM|neovim)-"},
                                "- vim-9.1.0707 (/usr/ports/editors/vim)\n"
                                "- neovim-0.10.1 (/usr/ports/editors/neovim)\n"},
                    search_case{"a_plain_word_as_a_substring",
                                {"--regex", "vim"},
                                "- vim-9.1.0707 (/usr/ports/editors/vim)\n"
                                "- neovim-0.10.1 (/usr/ports/editors/neovim)\n"},
                    search_case{"whole_words_with_word",
                                {"--regex", "--word", "-d", "n?vim"},
                                "- vim-9.1.0707 (/usr/ports/editors/vim)\n"
                                "- neovim-0.10.1 (/usr/ports/editors/neovim)\n"},
                    search_case{"each_field_anchored_on_its_own",
                                {"--regex", "-p", "-r", "shells/[a-z]+sh$"},
                                "- zsh-5.9_5 (/usr/ports/shells/zsh)\n"
                                "- bash-5.2.37 (/usr/ports/shells/bash)\n" +
                                    counts(2, 2, tree_lines)},
                    search_case{"excluded_by_an_expression",
                                {"--regex", "--exclude", "^py[0-9]+-", "--www", "github"},
                                "- tmux-3.4_1 (/usr/ports/sysutils/tmux)\n"},
                    search_case{"in_the_long_description",
                                {"--regex", "--pkg-descr", "korn +shell"},
                                "- zsh-5.9_5 (/usr/ports/shells/zsh)\n"
                                "- bash-5.2.37 (/usr/ports/shells/bash)\n"}));

// An invalid expression, the term or an excluded one, is the engine's
// complaint and status 1, before anything is read.
TEST(regex, an_invalid_expression_searches_nothing) {
    const ports_tree tree;
    for (const auto& [args, err] : {
             std::pair<std::vector<std::string>, std::string>{
                 {"--regex", "(vim"},
                 "vandrel: invalid regular expression: missing closing parenthesis at offset "
                 "4\n"},
             {{"--regex", "--exclude", "[a-", "vim"},
              "vandrel: --exclude: invalid regular expression: missing terminating ] for "
              "character class at offset 3\n"},
             {{"--regex", "--index", "/nonexistent", "a**"},
              "vandrel: invalid regular expression: quantifier does not follow a repeatable "
              "item at offset 2\n"},
         }) {
        RUN_OR_SKIP(got, tree.setup(), command(args));
        EXPECT_EQ(got.out, "") << testing::PrintToString(args);
        EXPECT_EQ(got.err, err) << testing::PrintToString(args);
        EXPECT_EQ(got.status, 1) << testing::PrintToString(args);
    }
}

const std::string huge_origin = "misc/" + std::string(std::size_t{1} << 20, 'z');

// MOVED's entries whose old origin holds the term, after the results and
// before the counts, which leave them out; lines short of their fields
// passed over, a NUL ending its line, the last line without a newline.
INSTANTIATE_TEST_SUITE_P(
    moved, search_option_test,
    testing::Values(
        search_case{"a_removed_port",
                    {"--moved", "-r", "python27"},
                    "lang/python27 removed on 2020-12-31: Has expired: Upstream support ended\n" +
                        counts(0, 0, tree_lines)},
        search_case{"after_the_results",
                    {"--moved", "-r", "zsh"},
                    "- zsh-5.9_5 (/usr/ports/shells/zsh)\n"
                    "shells/zsh-devel moved to shells/zsh on 2021-03-14: Merged back into "
                    "shells/zsh\n" +
                        counts(1, 1, tree_lines)},
        search_case{"by_the_old_origin_only", {"--moved", "python-requests"}, ""},
        search_case{"no_reason",
                    {"--moved", "requests2"},
                    "www/py-requests2 moved to www/py-requests on 2019-04-05\n"},
        search_case{"the_last_line_without_a_newline",
                    {"--moved", "tmux-devel"},
                    "sysutils/tmux-devel moved to sysutils/tmux on 2024-02-20: Obsolete, use "
                    "sysutils/tmux\n"},
        search_case{"a_huge_line", {"--moved", "zzzzzzzzzz"}, huge_origin + " removed: huge\n"},
        search_case{"whole_words_by_the_path",
                    {"--moved", "--word", "-p", "zsh-devel"},
                    "shells/zsh-devel moved to shells/zsh on 2021-03-14: Merged back into "
                    "shells/zsh\n"},
        search_case{"excluded_terms_too",
                    {"--moved", "--exclude", "devel", "zsh"},
                    "- zsh-5.9_5 (/usr/ports/shells/zsh)\n"},
        search_case{"expressions",
                    {"--moved", "--regex", "^(lang|editors)/"},
                    "lang/python27 removed on 2020-12-31: Has expired: Upstream support ended\n"
                    "editors/vim-lite moved to editors/vim@tiny on 2022-09-25: Became a flavor "
                    "of editors/vim\n"},
        search_case{"as_json",
                    {"--moved", "--json", "-r", "python27"},
                    R"({"moved_from":"lang/python27","moved_to":null,"date":"2020-12-31",)"
                    R"("reason":"Has expired: Upstream support ended"})"
                    "\n"
                    R"({"results":0,"matches":0,"entries":11})"
                    "\n"}));

TEST(moved, a_missing_file_is_said_once_and_the_search_goes_on) {
    const ports_tree tree;
    fs::remove(tree.path() / "MOVED");
    RUN_OR_SKIP(got, tree.setup(), command({"--moved", "bash"}));
    EXPECT_EQ(got.out, "- bash-5.2.37 (/usr/ports/shells/bash)\n");
    EXPECT_EQ(got.err,
              "vandrel: " + (tree.path() / "MOVED").string() + ": No such file or directory\n");
    EXPECT_EQ(got.status, 0);
}

// An empty excluded term would leave nothing: refused, like an empty
// --index.
TEST(exclude, an_empty_term_is_refused) {
    const ports_tree tree;
    RUN_OR_SKIP(got, tree.setup(), command({"-r", "--exclude", "", "zsh"}));
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, "vandrel: --exclude: the term is empty\n");
    EXPECT_EQ(got.status, 1);
}

// A MOVED that is no regular file (/dev/zero) is never read: it would not end.
TEST(moved, a_file_that_is_no_regular_file_is_not_read) {
    const ports_tree tree;
    fs::remove(tree.path() / "MOVED");
    fs::create_symlink("/dev/zero", tree.path() / "MOVED");
    RUN_OR_SKIP(got, tree.setup(), command({"--moved", "bash"}));
    EXPECT_EQ(got.out, "- bash-5.2.37 (/usr/ports/shells/bash)\n");
    EXPECT_EQ(got.err, "vandrel: " + (tree.path() / "MOVED").string() + ": not a regular file\n");
    EXPECT_EQ(got.status, 0);
}

// Without a ports tree the search goes on without descriptions, and says so
// once; with the tree, a name search reads nothing and says nothing.
TEST(pkg_descr, without_a_tree_says_so_once) {
    const ports_tree tree;
    const fixture::temp_dir empty;
    fixture::run_setup setup = tree.setup(false);
    setup.environment.emplace_back("PORTSDIR", empty.path().string());
    RUN_OR_SKIP(got, setup, command({"--pkg-descr", "-r", "sh"}));
    EXPECT_EQ(got.out, "- zsh-5.9_5 (/usr/ports/shells/zsh)\n"
                       "- bash-5.2.37 (/usr/ports/shells/bash)\n" +
                           counts(2, 2, tree_lines));
    EXPECT_EQ(got.err, "vandrel: no pkg-descr file could be read under " + empty.path().string() +
                           "; descriptions not searched\n");
    EXPECT_EQ(got.status, 0);

    RUN_OR_SKIP(name_decides, setup, command({"--pkg-descr", "-r", ""}));
    EXPECT_EQ(name_decides.err, "");
    EXPECT_EQ(name_decides.status, 0);
}

} // namespace
