// Runs the real binary against fixture systems and compares standard output,
// standard error and exit status byte for byte. The fixtures are named by the
// ports and pkg variables, except where a case must prove the default paths
// and the release: those run in a private mount namespace, on Linux only.
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "index_lines.h"
#include "runner.h"

namespace {

using fixture::command;

using fixture::expected_help;
using fixture::expected_version_line;
using fixture::vandrel_binary;

struct expected_run {
    std::string out;
    std::string err;
    int status;
};

void expect_run(const fixture::run_result& got, const expected_run& want) {
    EXPECT_EQ(got.out, want.out);
    EXPECT_EQ(got.err, want.err);
    EXPECT_EQ(got.status, want.status);
    EXPECT_EQ(got.signal, 0);
}

// --- what a run does, by its options and operands ---

struct cli_case {
    const char* label;
    std::vector<std::string> args;
    expected_run want;
    friend void PrintTo(const cli_case& c, std::ostream* os) { *os << c.label; }
};

class command_line_test : public testing::TestWithParam<cli_case> {};

TEST_P(command_line_test, chooses_version_help_or_search) {
    const cli_case& c = GetParam();
    const fixture::sample_system system;
    RUN_OR_SKIP(got, system.setup(), command(c.args));
    expect_run(got, c.want);
}

const std::string help = expected_help(VANDREL_BINARY);
const std::string version = expected_version_line();

INSTANTIATE_TEST_SUITE_P(
    precedence, command_line_test,
    testing::Values(
        cli_case{"no_arguments", {}, {help, "", 0}},
        cli_case{"version_alone", {"-v"}, {version, "", 0}},
        cli_case{"version_with_one_operand", {"-v", "zsh"}, {version, "", 0}},
        cli_case{"version_with_two_operands", {"-v", "zsh", "bash"}, {version, "", 0}},
        cli_case{"version_beats_help", {"-hv", "zsh"}, {version, "", 0}},
        cli_case{"help_with_one_operand", {"-h", "zsh"}, {help, "", 0}},
        cli_case{"two_operands", {"zsh", "bash"}, {help, "", 0}},
        cli_case{"option_after_the_term_is_an_operand", {"zsh", "-n"}, {help, "", 0}},
        cli_case{"double_hyphen_then_a_term_that_looks_like_an_option",
                 {"--", "-n"},
                 {"- emacs-nox-29.4_2,3 (/usr/ports/editors/emacs)\n"
                  "- py311-numpy-1.26.4_1,1 (/usr/ports/math/py-numpy)\n"
                  "- py311-netaddr-1.3.0 (/usr/ports/net/py-netaddr)\n"
                  "- p5-Net-SSLeay-1.94 (/usr/ports/security/p5-Net-SSLeay)\n"
                  "- rubygem-nokogiri-1.16.7 (/usr/ports/textproc/rubygem-nokogiri)\n"
                  "- npm-node20-10.8.3 (/usr/ports/www/npm-node20)\n",
                  "", 0}},
        cli_case{"counts_with_no_match",
                 {"-r", "no-such-port"},
                 {"\nResults: 0 / Matches: 0 / Entries: 358\n\n", "", 0}},
        cli_case{"short_results_show_both_markers",
                 {"zsh"},
                 {"- oh-my-zsh-g20240822 (/usr/ports/shells/oh-my-zsh)\n"
                  "+ zsh-5.9_5 (/usr/ports/shells/zsh)\n"
                  "+ zsh-autosuggestions-0.7.1 (/usr/ports/shells/zsh-autosuggestions)\n"
                  "- zsh-completions-0.35.0 (/usr/ports/shells/zsh-completions)\n"
                  "- zsh-syntax-highlighting-0.8.0,1 (/usr/ports/shells/zsh-syntax-highlighting)\n",
                  "", 0}},
        cli_case{"short_results_with_f_and_counts",
                 {"-rf", "ZSH-"},
                 {"- oh-my-zsh-g20240822 (/usr/ports/shells/oh-my-zsh, Version: n/a "
                  "[sergey@akhmatov.ru, /usr/local])\n"
                  "+ zsh-5.9_5 (/usr/ports/shells/zsh, Version: 5.9_4 [bapt@FreeBSD.org, "
                  "/usr/local])\n"
                  "+ zsh-autosuggestions-0.7.1 (/usr/ports/shells/zsh-autosuggestions, Version: "
                  "0.7.1 [lcook@FreeBSD.org, /usr/local])\n"
                  "- zsh-completions-0.35.0 (/usr/ports/shells/zsh-completions, Version: n/a "
                  "[lcook@FreeBSD.org, /usr/local])\n"
                  "- zsh-syntax-highlighting-0.8.0,1 (/usr/ports/shells/zsh-syntax-highlighting, "
                  "Version: n/a [garga@FreeBSD.org, /usr/local])\n"
                  "\nResults: 5 / Matches: 5 / Entries: 358\n\n",
                  "", 0}},
        cli_case{"long_blocks_in_a_row",
                 {"-n", "nginx"},
                 {"\nnginx-1.26.2_5,3 (joneum@FreeBSD.org)\n"
                  "=====================================\n"
                  "\nRobust and small WWW server\n\n"
                  "        Port name: nginx\n"
                  "     Port version: 1.26.2_5,3\n"
                  "Installed version: 1.24.0_14,3\n"
                  "             Port: www\n"
                  "        Port path: /usr/ports/www/nginx\n"
                  "     Install path: /usr/local\n"
                  "\n"
                  "\nnginx-devel-1.27.1_5 (osa@FreeBSD.org)\n"
                  "======================================\n"
                  "\nRobust and small WWW server\n\n"
                  "        Port name: nginx-devel\n"
                  "     Port version: 1.27.1_5\n"
                  "Installed version: Not installed\n"
                  "             Port: www\n"
                  "        Port path: /usr/ports/www/nginx-devel\n"
                  "     Install path: /usr/local\n"
                  "\n",
                  "", 0}},
        cli_case{"long_block_with_f",
                 {"-nf", "git-lite"},
                 {"\ngit-lite-2.46.2 (garga@FreeBSD.org)\n"
                  "===================================\n"
                  "\nDistributed source code management tool (lite flavor)\n\n"
                  "        Port name: git-lite\n"
                  "     Port version: 2.46.2\n"
                  "Installed version: Not installed\n"
                  "             Port: devel\n"
                  "        Port path: /usr/ports/devel/git\n"
                  "     Install path: /usr/local\n"
                  "     Dependencies: gmake-4.4.1\n"
                  "   R-Dependencies: curl-8.10.1 expat-2.6.3 pcre2-10.44\n"
                  "\n",
                  "", 0}},
        cli_case{"all_fields_count_every_field_match",
                 {"-ar", "bapt@"},
                 {"+ zstd-1.5.6 (/usr/ports/archivers/zstd)\n"
                  "+ indexinfo-0.3.1 (/usr/ports/devel/indexinfo)\n"
                  "+ pkgconf-2.3.0,1 (/usr/ports/devel/pkgconf)\n"
                  "- mg-20240709 (/usr/ports/editors/mg)\n"
                  "- neomutt-20240425_1 (/usr/ports/mail/neomutt)\n"
                  "+ zsh-5.9_5 (/usr/ports/shells/zsh)\n"
                  "- i3-4.23_1 (/usr/ports/x11-wm/i3)\n"
                  "\nResults: 7 / Matches: 7 / Entries: 358\n\n",
                  "", 0}}),
    [](const testing::TestParamInfo<cli_case>& info) { return std::string(info.param.label); });

// An option not in the list, a long one that is ambiguous or given an
// argument it doesn't take, or --index without its file, counts as -h, and
// getopt_long says what was wrong. Its words are libc's own, and differ
// between glibc and the BSDs: the complaint expected is what this system's
// getopt_long prints for the program's own options.
class unknown_option_test : public testing::TestWithParam<cli_case> {};

TEST_P(unknown_option_test, counts_as_help_with_libcs_complaint) {
    const cli_case& c = GetParam();
    const std::string complaint = fixture::getopt_complaints(c.args);
    ASSERT_NE(complaint, "") << "getopt_long found nothing wrong";
    const fixture::sample_system system;
    RUN_OR_SKIP(got, system.setup(), command(c.args));
    expect_run(got, {c.want.out, complaint, c.want.status});
}

INSTANTIATE_TEST_SUITE_P(
    complaints, unknown_option_test,
    testing::Values(
        cli_case{"unknown_letter", {"-x", "zsh"}, {help, "", 0}},
        cli_case{"unknown_letter_with_version", {"-xv", "zsh"}, {version, "", 0}},
        cli_case{"unknown_long_option", {"--bogus", "zsh"}, {help, "", 0}},
        cli_case{"ambiguous_long_option", {"--in", "zsh"}, {help, "", 0}},
        cli_case{"argument_to_a_long_option_without_one", {"--json=yes", "zsh"}, {help, "", 0}},
        cli_case{"index_without_its_file", {"--index"}, {help, "", 0}}),
    [](const testing::TestParamInfo<cli_case>& info) { return std::string(info.param.label); });

// --- index lines with empty fields ---

// Every field keeps its place, as real lines with empty fields need: a web
// site is never taken for a dependency list, and an empty field shows its
// fallback text.
class empty_fields_test : public testing::TestWithParam<cli_case> {};

TEST_P(empty_fields_test, keep_every_field_in_its_place) {
    namespace lines = fixture::index_lines;
    const fixture::sample_system system;
    std::string index;
    for (const std::string_view line :
         {lines::no_build_depends, lines::no_run_depends, lines::no_depends, lines::no_comment,
          lines::no_name, lines::empty_run, lines::short_line}) {
        index += std::string(line) + "\n";
    }
    fixture::write_file(system.ports() / "INDEX-15", index);
    RUN_OR_SKIP(got, system.setup(), command(GetParam().args));
    expect_run(got, GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    real_lines, empty_fields_test,
    testing::Values(cli_case{"a_dependency_search_finds_no_web_site",
                             {"-D", "-r", "https"},
                             {"\nResults: 0 / Matches: 0 / Entries: 7\n\n", "", 0}},
                    cli_case{"a_line_without_a_name_never_matches",
                             {"-Dr", "cabextract"},
                             {"- cabextract-1.11_1 (/usr/ports/archivers/cabextract)\n"
                              "\nResults: 1 / Matches: 1 / Entries: 7\n\n",
                              "", 0}},
                    cli_case{"all_fields_count_only_present_ones",
                             {"-ar", ""},
                             {"- sa-utils-0.10_2 (/usr/ports/mail/sa-utils)\n"
                              "- liblzo2-2.10_1 (/usr/ports/archivers/liblzo2)\n"
                              "- cabextract-1.11_1 (/usr/ports/archivers/cabextract)\n"
                              "- xkbset-0.8_1 (/usr/ports/x11/xkbset)\n"
                              "- gnupg-2.4.5_2 (/usr/ports/security/gnupg)\n"
                              "- mg-20240709 (/usr/ports/editors/mg)\n"
                              "\nResults: 6 / Matches: 27 / Entries: 7\n\n",
                              "", 0}},
                    cli_case{"run_dependencies_of_a_port_without_build_dependencies",
                             {"-Dr", "spamassassin"},
                             {"- sa-utils-0.10_2 (/usr/ports/mail/sa-utils)\n"
                              "\nResults: 1 / Matches: 1 / Entries: 7\n\n",
                              "", 0}},
                    cli_case{"a_block_without_dependencies",
                             {"-n", "-f", "cabextract"},
                             {"\ncabextract-1.11_1 (ports@FreeBSD.org)\n"
                              "=====================================\n"
                              "\nProgram to extract Microsoft cabinet (.CAB) files\n\n"
                              "        Port name: cabextract\n"
                              "     Port version: 1.11_1\n"
                              "Installed version: Not installed\n"
                              "             Port: archivers\n"
                              "        Port path: /usr/ports/archivers/cabextract\n"
                              "     Install path: /usr/local\n"
                              "     Dependencies: No dependencies avaiable\n"
                              "   R-Dependencies: No r-dependencies avaiable\n"
                              "\n",
                              "", 0}},
                    cli_case{"a_block_with_a_run_of_empty_fields",
                             {"-nf", "gnupg"},
                             {"\ngnupg-2.4.5_2 (ports@FreeBSD.org)\n"
                              "=================================\n"
                              "\nNo description avaiable\n\n"
                              "        Port name: gnupg\n"
                              "     Port version: 2.4.5_2\n"
                              "Installed version: Not installed\n"
                              "             Port: security\n"
                              "        Port path: /usr/ports/security/gnupg\n"
                              "     Install path: No install path avaiable\n"
                              "     Dependencies: pkgconf-2.3.0,1\n"
                              "   R-Dependencies: libgcrypt-1.11.0 libksba-1.6.7\n"
                              "\n",
                              "", 0}},
                    cli_case{
                        "short_lines_with_f",
                        {"-f", "-d", "e"},
                        {"- sa-utils-0.10_2 (/usr/ports/mail/sa-utils, Version: n/a "
                         "[ports@FreeBSD.org, /usr/local])\n"
                         "- liblzo2-2.10_1 (/usr/ports/archivers/liblzo2, Version: n/a "
                         "[ports@FreeBSD.org, /usr/local])\n"
                         "- cabextract-1.11_1 (/usr/ports/archivers/cabextract, Version: n/a "
                         "[ports@FreeBSD.org, /usr/local])\n"
                         "- xkbset-0.8_1 (/usr/ports/x11/xkbset, Version: n/a "
                         "[ports@FreeBSD.org, /usr/local])\n"
                         "- mg-20240709 (/usr/ports/editors/mg, Version: n/a [n/a, /usr/local])\n",
                         "", 0}}),
    [](const testing::TestParamInfo<cli_case>& info) { return std::string(info.param.label); });

// --- the release and the index ---

struct release_case {
    const char* label;
    const char* release;
    const char* option;
    std::string err;
    friend void PrintTo(const release_case& c, std::ostream* os) { *os << c.label; }
};

class release_test : public testing::TestWithParam<release_case> {};

TEST_P(release_test, fails_with_one_message_and_nothing_on_stdout) {
    const release_case& c = GetParam();
    const fixture::temp_dir dir;
    std::filesystem::create_directory(dir / "ports");
    fixture::write_file(dir / "osrelease", c.release);
    fixture::run_setup setup;
    setup.ports = dir / "ports";
    setup.release = dir / "osrelease";
    setup.at_default_paths = true;
    RUN_OR_SKIP(got, setup, command({c.option, "zsh"}));
    expect_run(got, {"", c.err, 1});
}

INSTANTIATE_TEST_SUITE_P(
    releases, release_test,
    testing::Values(
        release_case{"release", "15.1-RELEASE\n", "-r", "Could not open /usr/ports/INDEX-15\n"},
        release_case{"patch_level", "15.1-RELEASE-p2\n", "-n",
                     "Could not open /usr/ports/INDEX-15\n"},
        release_case{"stable", "14.3-STABLE\n", "-r", "Could not open /usr/ports/INDEX-14\n"},
        release_case{"no_dot", "16\n", "-r", "Could not open /usr/ports/INDEX-16\n"},
        release_case{"leading_dot", ".1-RELEASE\n", "-r", "Could not open /usr/ports/INDEX-\n"},
        release_case{"empty_release", "", "-r", "Could not determine release\n"},
        release_case{"only_a_newline", "\n", "-a", "Could not determine release\n"}),
    [](const testing::TestParamInfo<release_case>& info) { return std::string(info.param.label); });

TEST(index, a_directory_is_reported_like_a_missing_index) {
    const fixture::sample_system system;
    std::filesystem::remove(system.ports() / "INDEX-15");
    std::filesystem::create_directory(system.ports() / "INDEX-15");
    RUN_OR_SKIP(got, system.setup(), command({"-r", "zsh"}));
    expect_run(got, {"", "Could not open " + system.index().string() + "\n", 1});
}

// --- the ports tree and package database elsewhere ---

// A sample system, and beside it a ports tree of its own under other/ports
// (with INDEX-15 and INDEX-custom, both holding only the zsh line), a
// package database under other/pkg that lists zsh at 5.8, and other/idx
// holding INDEX-15 with only the tmux line.
struct elsewhere_case {
    const char* label;
    std::vector<std::pair<std::string, std::string>> environment; // "@" is the other folder
    std::vector<std::string> args;
    std::string out;
    std::string err; // "@" is the other folder
    int status;
    const char* release = "15.1-RELEASE\n";
    friend void PrintTo(const elsewhere_case& c, std::ostream* os) { *os << c.label; }
};

class elsewhere_test : public testing::TestWithParam<elsewhere_case> {};

std::string with_folder(std::string text, const std::string& folder) {
    for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at)) {
        text.replace(at, 1, folder);
        at += folder.size();
    }
    return text;
}

TEST_P(elsewhere_test, follows_the_ports_and_pkg_variables) {
    const elsewhere_case& c = GetParam();
    const fixture::sample_system system;
    const fixture::temp_dir other;
    const std::string index = fixture::read_source_file("tests/data/INDEX-sample");
    const auto line_of = [&index](const std::string& start) {
        const std::size_t at = index.find("\n" + start) + 1;
        return index.substr(at, index.find('\n', at) - at + 1);
    };
    std::filesystem::create_directories(other / "ports");
    std::filesystem::create_directories(other / "idx");
    std::filesystem::create_directories(other / "pkg");
    fixture::write_file(other / "ports/INDEX-15", line_of("zsh-5.9_5|"));
    fixture::write_file(other / "ports/INDEX-custom", line_of("zsh-5.9_5|"));
    fixture::write_file(other / "idx/INDEX-15", line_of("tmux-"));
    fixture::make_package_db(other / "pkg/local.sqlite", fixture::package_insert("zsh", "5.8"));
    fixture::write_file(system.release(), c.release);
    fixture::open_to_all(other.path());
    fixture::run_setup setup = system.setup_at_default_paths();
    for (const auto& [name, value] : c.environment) {
        setup.environment.emplace_back(name, with_folder(value, other.path().string()));
    }
    const std::string before = fixture::read_file(other / "pkg/local.sqlite");
    RUN_OR_SKIP(got, setup, command(c.args));
    expect_run(got, {c.out, with_folder(c.err, other.path().string()), c.status});
    EXPECT_EQ(fixture::read_file(other / "pkg/local.sqlite"), before);
    EXPECT_FALSE(std::filesystem::exists("/nonexistent")) << "nothing was created";
}

const std::string zsh_line_installed = "+ zsh-5.9_5 (/usr/ports/shells/zsh)\n";
const std::string zsh_line_not_installed = "- zsh-5.9_5 (/usr/ports/shells/zsh)\n";
const std::string zsh_with_version =
    "+ zsh-5.9_5 (/usr/ports/shells/zsh, Version: 5.8 [bapt@FreeBSD.org, /usr/local])\n";

INSTANTIATE_TEST_SUITE_P(
    variables, elsewhere_test,
    testing::Values(
        elsewhere_case{"portsdir",
                       {{"PORTSDIR", "@/ports"}},
                       {"-r", "sh"},
                       zsh_line_installed + "\nResults: 1 / Matches: 1 / Entries: 1\n\n",
                       "",
                       0},
        elsewhere_case{"indexdir_wins_over_portsdir",
                       {{"PORTSDIR", "@/ports"}, {"INDEXDIR", "@/idx"}},
                       {"-r", "tmux"},
                       "+ tmux-3.4_1 (/usr/ports/sysutils/tmux)\n"
                       "\nResults: 1 / Matches: 1 / Entries: 1\n\n",
                       "",
                       0},
        elsewhere_case{"indexfile_needs_no_release",
                       {{"PORTSDIR", "@/ports"}, {"INDEXFILE", "INDEX-custom"}},
                       {"zsh"},
                       zsh_line_installed,
                       "",
                       0,
                       ""},
        elsewhere_case{"without_indexfile_the_release_is_needed",
                       {{"PORTSDIR", "@/ports"}},
                       {"zsh"},
                       "",
                       "Could not determine release\n",
                       1,
                       ""},
        elsewhere_case{"set_but_empty_counts_as_unset",
                       {{"PORTSDIR", ""}, {"INDEXDIR", ""}, {"INDEXFILE", ""}, {"PKG_DBDIR", ""}},
                       {"-r", "zsh-5"},
                       zsh_line_installed + "\nResults: 1 / Matches: 1 / Entries: 358\n\n",
                       "",
                       0},
        elsewhere_case{
            "pkg_dbdir", {{"PKG_DBDIR", "@/pkg"}}, {"-f", "zsh-5"}, zsh_with_version, "", 0},
        elsewhere_case{"pkg_dbdir_pointing_nowhere",
                       {{"PKG_DBDIR", "/nonexistent/pkg"}},
                       {"zsh-5"},
                       zsh_line_not_installed,
                       "",
                       0},
        elsewhere_case{"a_portsdir_that_does_not_exist",
                       {{"PORTSDIR", "/nonexistent/ports"}},
                       {"zsh"},
                       "",
                       "Could not open /nonexistent/ports/INDEX-15\n",
                       1},
        elsewhere_case{"a_directory_as_indexfile",
                       {{"INDEXDIR", "@"}, {"INDEXFILE", "idx"}},
                       {"zsh"},
                       "",
                       "Could not open @/idx\n",
                       1},
        elsewhere_case{"a_value_longer_than_path_max",
                       {{"INDEXFILE", std::string(5000, 'x')}},
                       {"zsh"},
                       "",
                       "Could not open /usr/ports/" + std::string(5000, 'x') + "\n",
                       1},
        elsewhere_case{"a_read_error_names_the_path_tried",
                       {{"INDEXDIR", "/proc/self"}, {"INDEXFILE", "mem"}},
                       {"zsh"},
                       "",
                       "Could not read /proc/self/mem: Input/output error\n",
                       1}),
    [](const testing::TestParamInfo<elsewhere_case>& info) {
        return std::string(info.param.label);
    });

// --- how the program was invoked ---

TEST(invocation, usage_shows_a_relative_name_as_typed) {
    const fixture::sample_system system;
    const fixture::temp_dir bin;
    std::filesystem::create_symlink(vandrel_binary(), bin / "x");
    fixture::run_setup setup = system.setup();
    setup.cwd = bin.path();
    RUN_OR_SKIP(got, setup, {"./x"});
    expect_run(got, {expected_help("./x"), "", 0});
}

TEST(invocation, usage_shows_a_full_path_as_typed) {
    const fixture::sample_system system;
    RUN_OR_SKIP(got, system.setup(), {vandrel_binary(), "-h"});
    expect_run(got, {expected_help(vandrel_binary()), "", 0});
}

// --- output that can't be written ---

TEST(output, a_full_disk_is_a_failure) {
    const fixture::sample_system system;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-v"}, std::vector<std::string>{"-h"},
          std::vector<std::string>{"-r", "zsh"}}) {
        fixture::run_setup setup = system.setup();
        setup.stdout_file = "/dev/full";
        RUN_OR_SKIP(got, setup, command(args));
        expect_run(got, {"", "vandrel: write error: No space left on device\n", 1});
    }
}

// With standard output closed, the index would open in its place: the
// search refuses to start and says why.
TEST(output, closed_is_reported_as_such) {
    const fixture::sample_system system;
    fixture::run_setup setup = system.setup();
    setup.stdout_closed = true;
    RUN_OR_SKIP(got, setup, command({"-r", "zsh"}));
    expect_run(got, {"", "vandrel: standard output is closed\n", 1});
    EXPECT_EQ(fixture::read_file(system.index()).find("Results:"), std::string::npos);
}

TEST(output, into_the_index_being_read_is_refused) {
    const fixture::sample_system system;
    const std::string before = fixture::read_file(system.index());
    for (const bool append : {true, false}) {
        fixture::run_setup setup = system.setup();
        setup.stdout_file = system.index();
        setup.stdout_append = append;
        if (!append) { // as after the shell's truncation: an empty index
            fixture::write_file(system.index(), "");
        }
        RUN_OR_SKIP(got, setup, command({"-r", ""}));
        expect_run(
            got, {"", "vandrel: " + system.index().string() + ": input file is output file\n", 1});
        EXPECT_EQ(fixture::read_file(system.index()), append ? before : "");
    }
}

// --- the package database as an ordinary user ---

TEST(package_database, an_ordinary_user_sees_installed_ports_in_a_wal_database) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs real root to run the search as nobody";
    }
    const fixture::sample_system system;
    fixture::run_setup setup = system.setup();
    setup.user = "nobody";
    RUN_OR_SKIP(got, setup, command({"-f", "zsh-5"}));
    expect_run(
        got,
        {"+ zsh-5.9_5 (/usr/ports/shells/zsh, Version: 5.9_4 [bapt@FreeBSD.org, /usr/local])\n", "",
         0});
    EXPECT_FALSE(std::filesystem::exists(system.pkg() / "local.sqlite-wal"));
    EXPECT_FALSE(std::filesystem::exists(system.pkg() / "local.sqlite-shm"));
}

// PKG_DBDIR as ${ROOT}/var/db/pkg gives with ROOT=/, and with a doubled slash
// inside: the same database, for root and for an ordinary user.
TEST(package_database, doubled_slashes_in_pkg_dbdir_name_the_same_database) {
    const fixture::sample_system system;
    const std::string pkg = system.pkg().string();
    for (const char* user : {"", "nobody"}) {
        if (*user != '\0' && geteuid() != 0) {
            GTEST_SKIP() << "needs real root to run the search as nobody";
        }
        for (const std::string& dir : {"/" + pkg, pkg.substr(0, pkg.rfind('/')) + "//pkg/"}) {
            fixture::run_setup setup = system.setup();
            setup.user = user;
            setup.environment = {{"PKG_DBDIR", dir}};
            RUN_OR_SKIP(got, setup, command({"-f", "zsh-5"}));
            EXPECT_EQ(got.out, "+ zsh-5.9_5 (/usr/ports/shells/zsh, Version: 5.9_4 "
                               "[bapt@FreeBSD.org, /usr/local])\n")
                << dir << " as " << user;
            EXPECT_EQ(got.status, 0);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(system.pkg() / "local.sqlite-shm"));
}

TEST(package_database, a_missing_database_shows_every_port_as_not_installed) {
    const fixture::sample_system system;
    std::filesystem::remove(system.pkg() / "local.sqlite");
    RUN_OR_SKIP(got, system.setup(), command({"-r", "zsh-5"}));
    expect_run(got, {"- zsh-5.9_5 (/usr/ports/shells/zsh)\n"
                     "\nResults: 1 / Matches: 1 / Entries: 358\n\n",
                     "", 0});
    EXPECT_TRUE(std::filesystem::is_empty(system.pkg())) << "no database was created";
}

} // namespace
