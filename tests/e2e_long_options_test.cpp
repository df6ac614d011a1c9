// The long options end to end: --installed, --outdated, --status, --word,
// --categories, --json, --index and --help, run on the sample index with a few
// lines added and a package database holding older, equal and newer versions;
// and which port an installed package is, by origin.
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "runner.h"

namespace {

using fixture::command;
using fixture::counts;
namespace fs = std::filesystem;

// Ports a substring search mistakes for vim, libxml2 and a maintainer: the
// sample's neighbours from real indexes.
constexpr const char* added_lines =
    "gvim-9.1.0707|/usr/ports/editors/gvim|/usr/local|Improved version of the vi editor (gtk3 "
    "flavor)|/usr/ports/editors/gvim/pkg-descr|adamw@FreeBSD.org|editors|pkgconf-2.3.0,1|gtk3-"
    "3.24.43 libxml2-2.11.8|https://www.vim.org/|||\n"
    "vimbamin-3.0.15|/usr/ports/mail/vimbadmin|/usr/local|Virtual mailbox administration|/usr/"
    "ports/mail/vimbadmin/pkg-descr|matthew@FreeBSD.org|mail www||php83-8.3.12|https://"
    "www.vimbadmin.net/|||\n"
    "libxml++-2.6-2.42.3|/usr/ports/textproc/libxml++26|/usr/local|XML API for C++ (2.6 series)|/"
    "usr/ports/textproc/libxml++26/pkg-descr|gnome@FreeBSD.org|textproc gnome|pkgconf-2.3.0,1|"
    "glibmm-2.66.7,1 libxml2-2.11.8|https://libxmlplusplus.github.io/libxmlplusplus/|||\n"
    "gnome-xml-tools-1.0|/usr/ports/textproc/gnome-xml-tools|/usr/local|Tools on libxml++|/usr/"
    "ports/textproc/gnome-xml-tools/pkg-descr|gnome@FreeBSD.org|textproc gnome|libxml++-2.6-"
    "2.42.3|libxml++-2.6-2.42.3|https://www.gnome.org/|||\n";

constexpr std::uint64_t index_lines = 362; // the sample's 358 and the four above

// The sample index and added lines, with a database in which some ports are
// older than the index (by version, revision or epoch), some equal, some
// newer, and one has no port in the index at all; each installed from its
// real origin.
class versions_system {
    struct package {
        const char* name;
        const char* version;
        const char* origin;
    };

public:
    versions_system() {
        std::filesystem::create_directory(dir_ / "ports");
        std::filesystem::create_directory(dir_ / "pkg");
        fixture::write_file(dir_ / "ports" / "INDEX-15",
                            fixture::read_source_file("tests/data/INDEX-sample") + added_lines);
        std::string inserts;
        for (const auto& [name, version, origin] : std::vector<package>{
                 {"zsh", "5.9_4", "shells/zsh"},                                // older: 5.9_5
                 {"vim", "9.1.0707", "editors/vim"},                            // equal
                 {"tmux", "3.5", "sysutils/tmux"},                              // newer: 3.4_1
                 {"nginx", "1.24.0_14,3", "www/nginx"},                         // older: 1.26.2_5,3
                 {"git", "2.47.0", "devel/git"},                                // newer: 2.46.2
                 {"sudo", "1.9.15p5_3", "security/sudo"},                       // older revision
                 {"openssh-portable", "9.8.p1,1", "security/openssh-portable"}, // older revision
                 {"lsof", "4.99.3_1,7", "sysutils/lsof"},                       // older epoch
                 {"liblz4", "1.9.4,1", "archivers/liblz4"},                     // older: 9 < 10
                 {"py311-urllib3", "2.2.3", "www/py-urllib3"},                  // older by epoch
                 {"curl", "8.10.1", "www/curl"},                                // equal
                 {"bash", "5.2.37", "shells/bash"},                             // equal
                 {"portaudit", "0.7.2", "ports-mgmt/portaudit"},                // not in the index
             }) {
            inserts += fixture::package_insert(name, version, origin);
        }
        fixture::make_package_db(dir_ / "pkg" / "local.sqlite", inserts);
        fixture::open_to_all(dir_.path());
    }
    [[nodiscard]] fixture::run_setup setup() const {
        fixture::run_setup setup;
        setup.ports = dir_ / "ports";
        setup.pkg = dir_ / "pkg";
        return setup;
    }
    [[nodiscard]] std::filesystem::path index() const { return dir_ / "ports" / "INDEX-15"; }

private:
    fixture::temp_dir dir_;
};

struct option_case {
    const char* label;
    std::vector<std::string> args;
    std::string out;
    friend void PrintTo(const option_case& c, std::ostream* os) { *os << c.label; }
};

class long_option_test : public testing::TestWithParam<option_case> {};

// Standard output as given, nothing on standard error, status 0.
TEST_P(long_option_test, prints_what_the_option_selects) {
    const option_case& c = GetParam();
    const versions_system system;
    RUN_OR_SKIP(got, system.setup(), command(c.args));
    EXPECT_EQ(got.out, c.out);
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.status, 0);
}

const std::string outdated_lines =
    "+ liblz4-1.10.0,1 (/usr/ports/archivers/liblz4)\n"
    "+ openssh-portable-9.8.p1_1,1 (/usr/ports/security/openssh-portable)\n"
    "+ sudo-1.9.15p5_4 (/usr/ports/security/sudo)\n"
    "+ zsh-5.9_5 (/usr/ports/shells/zsh)\n"
    "+ lsof-4.99.3_1,8 (/usr/ports/sysutils/lsof)\n"
    "+ nginx-1.26.2_5,3 (/usr/ports/www/nginx)\n"
    "+ py311-urllib3-1.26.20,1 (/usr/ports/www/py-urllib3)\n";

// Installed and outdated ports: what is printed and what Results and Matches
// count; Entries still counts every line.
INSTANTIATE_TEST_SUITE_P(
    installed_and_outdated, long_option_test,
    testing::Values(
        option_case{"installed_lists_every_installed_port",
                    {"--installed", "-r", ""},
                    "+ liblz4-1.10.0,1 (/usr/ports/archivers/liblz4)\n"
                    "+ git-2.46.2 (/usr/ports/devel/git)\n"
                    "+ vim-9.1.0707 (/usr/ports/editors/vim)\n"
                    "+ openssh-portable-9.8.p1_1,1 (/usr/ports/security/openssh-portable)\n"
                    "+ sudo-1.9.15p5_4 (/usr/ports/security/sudo)\n"
                    "+ bash-5.2.37 (/usr/ports/shells/bash)\n"
                    "+ zsh-5.9_5 (/usr/ports/shells/zsh)\n"
                    "+ lsof-4.99.3_1,8 (/usr/ports/sysutils/lsof)\n"
                    "+ tmux-3.4_1 (/usr/ports/sysutils/tmux)\n"
                    "+ curl-8.10.1 (/usr/ports/www/curl)\n"
                    "+ nginx-1.26.2_5,3 (/usr/ports/www/nginx)\n"
                    "+ py311-urllib3-1.26.20,1 (/usr/ports/www/py-urllib3)\n" +
                        counts(12, 12, index_lines)},
        option_case{"outdated_lists_the_older_only",
                    {"--outdated", "-r", ""},
                    outdated_lines + counts(7, 7, index_lines)},
        option_case{"installed_with_a_term",
                    {"--installed", "-r", "zsh"},
                    "+ zsh-5.9_5 (/usr/ports/shells/zsh)\n" + counts(1, 1, index_lines)},
        option_case{"matches_count_only_the_ports_shown",
                    {"--outdated", "-a", "-r", "zsh"},
                    "+ zsh-5.9_5 (/usr/ports/shells/zsh)\n" + counts(1, 2, index_lines)},
        option_case{"outdated_shows_the_installed_version_with_f",
                    {"--outdated", "-f", "zsh"},
                    "+ zsh-5.9_5 (/usr/ports/shells/zsh, Version: 5.9_4 [bapt@FreeBSD.org, "
                    "/usr/local])\n"},
        option_case{"equal_and_newer_are_not_outdated",
                    {"--outdated", "-r", "vim"},
                    counts(0, 0, index_lines)},
        option_case{"both_filters_together", {"--outdated", "--installed", "tmux"}, ""}));

// Whole words, by each field's shape, and the categories field.
INSTANTIATE_TEST_SUITE_P(
    words_and_categories, long_option_test,
    testing::Values(
        option_case{"word_finds_vim_not_gvim_or_vimbamin",
                    {"--word", "vim"},
                    "+ vim-9.1.0707 (/usr/ports/editors/vim)\n"},
        option_case{"word_takes_a_full_name",
                    {"--word", "VIM-9.1.0707"},
                    "+ vim-9.1.0707 (/usr/ports/editors/vim)\n"},
        option_case{"substring_finds_the_libxmlpp_dependents_too",
                    {"-D", "libxml++"},
                    "- libxml++-2.6-2.42.3 (/usr/ports/textproc/libxml++26)\n"
                    "- gnome-xml-tools-1.0 (/usr/ports/textproc/gnome-xml-tools)\n"},
        option_case{"word_dependency_by_name_not_by_part",
                    {"-D", "--word", "-r", "libxml"},
                    counts(0, 0, index_lines)},
        option_case{"word_dependency_libxml2_passes_over_libxmlpp_only",
                    {"-D", "--word", "libxml2"},
                    "- postgresql16-server-16.4 (/usr/ports/databases/postgresql16-server)\n"
                    "- llvm18-18.1.8_2 (/usr/ports/devel/llvm18)\n"
                    "- bind918-9.18.30 (/usr/ports/dns/bind918)\n"
                    "- emacs-29.4_2,3 (/usr/ports/editors/emacs)\n"
                    "- emacs-nox-29.4_2,3 (/usr/ports/editors/emacs)\n"
                    "- libreoffice-24.2.6.2_1 (/usr/ports/editors/libreoffice)\n"
                    "- virtualbox-ose-6.1.50_2 (/usr/ports/emulators/virtualbox-ose)\n"
                    "- gnucash-5.8_1 (/usr/ports/finance/gnucash)\n"
                    "- ImageMagick7-7.1.1.38 (/usr/ports/graphics/ImageMagick7)\n"
                    "- inkscape-1.3.2_9 (/usr/ports/graphics/inkscape)\n"
                    "- php83-8.3.12 (/usr/ports/lang/php83)\n"
                    "- pidgin-2.14.13_1 (/usr/ports/net-im/pidgin)\n"
                    "- clamav-1.3.2,1 (/usr/ports/security/clamav)\n"
                    "- libxml2-2.11.8 (/usr/ports/textproc/libxml2)\n"
                    "- libxslt-1.1.37_1 (/usr/ports/textproc/libxslt)\n"
                    "- rubygem-nokogiri-1.16.7 (/usr/ports/textproc/rubygem-nokogiri)\n"
                    "- chromium-128.0.6613.137 (/usr/ports/www/chromium)\n"
                    "- squid-6.10 (/usr/ports/www/squid)\n"
                    "- openbox-3.6.1_16 (/usr/ports/x11-wm/openbox)\n"
                    "- libxkbcommon-1.7.0_1 (/usr/ports/x11/libxkbcommon)\n"
                    "- gvim-9.1.0707 (/usr/ports/editors/gvim)\n"
                    "- libxml++-2.6-2.42.3 (/usr/ports/textproc/libxml++26)\n"},
        option_case{"word_maintainer_by_the_part_before_the_at",
                    {"-m", "--word", "mat"},
                    "- xxhash-0.8.2_1 (/usr/ports/devel/xxhash)\n"
                    "- bind918-9.18.30 (/usr/ports/dns/bind918)\n"
                    "+ tmux-3.4_1 (/usr/ports/sysutils/tmux)\n"},
        option_case{"word_path_by_its_last_two_components",
                    {"-p", "--word", "shells/zsh"},
                    "+ zsh-5.9_5 (/usr/ports/shells/zsh)\n"},
        option_case{"word_path_not_by_its_category_alone",
                    {"-p", "--word", "-r", "shells"},
                    counts(0, 0, index_lines)},
        option_case{"word_comment_without_its_punctuation",
                    {"-d", "--word", "flavor"},
                    "- git-lite-2.46.2 (/usr/ports/devel/git)\n"
                    "- emacs-nox-29.4_2,3 (/usr/ports/editors/emacs)\n"
                    "+ vim-9.1.0707 (/usr/ports/editors/vim)\n"
                    "- vim-tiny-9.1.0707 (/usr/ports/editors/vim)\n"
                    "- utf8proc-static-2.9.0 (/usr/ports/textproc/utf8proc)\n"
                    "- gvim-9.1.0707 (/usr/ports/editors/gvim)\n"},
        option_case{
            "categories_whole_with_word",
            {"--categories", "--word", "shells"},
            "- mc-4.8.31_1 (/usr/ports/misc/mc)\n"
            "+ bash-5.2.37 (/usr/ports/shells/bash)\n"
            "- bash-completion-2.14.0,2 (/usr/ports/shells/bash-completion)\n"
            "- dash-0.5.12 (/usr/ports/shells/dash)\n"
            "- fish-3.7.1 (/usr/ports/shells/fish)\n"
            "- mksh-59c (/usr/ports/shells/mksh)\n"
            "- nushell-0.97.1_1 (/usr/ports/shells/nushell)\n"
            "- oh-my-zsh-g20240822 (/usr/ports/shells/oh-my-zsh)\n"
            "- tcshrc-6.2.0 (/usr/ports/shells/tcshrc)\n"
            "+ zsh-5.9_5 (/usr/ports/shells/zsh)\n"
            "- zsh-autosuggestions-0.7.1 (/usr/ports/shells/zsh-autosuggestions)\n"
            "- zsh-completions-0.35.0 (/usr/ports/shells/zsh-completions)\n"
            "- zsh-syntax-highlighting-0.8.0,1 (/usr/ports/shells/zsh-syntax-highlighting)\n"},
        option_case{
            "categories_are_not_searched_by_a", {"-a", "-r", "ipv6"}, counts(0, 0, index_lines)},
        option_case{"categories_searched_by_their_option",
                    {"--categories", "-r", "ipv6"},
                    "- musicpd-0.23.15_4 (/usr/ports/audio/mpd)\n"
                    "- lftp-4.9.2_7 (/usr/ports/ftp/lftp)\n"
                    "- mutt-2.2.13 (/usr/ports/mail/mutt)\n"
                    "- nmap-7.95 (/usr/ports/net/nmap)\n"
                    "+ openssh-portable-9.8.p1_1,1 (/usr/ports/security/openssh-portable)\n" +
                        counts(5, 5, index_lines)},
        option_case{"word_and_installed_together",
                    {"--installed", "--categories", "--word", "shells"},
                    "+ bash-5.2.37 (/usr/ports/shells/bash)\n"
                    "+ zsh-5.9_5 (/usr/ports/shells/zsh)\n"}));

// --- installed packages against the index ---

// Every installed package whose name and version hold the term, by origin
// then name, the columns padded to the widest; a package whose origin the
// index lacks is marked "?".
INSTANTIATE_TEST_SUITE_P(
    status, long_option_test,
    testing::Values(
        option_case{"status_shows_every_installed_package",
                    {"--status", ""},
                    "< archivers/liblz4          liblz4-1.9.4,1            (index has 1.10.0,1)\n"
                    "> devel/git                 git-2.47.0                (index has 2.46.2)\n"
                    "= editors/vim               vim-9.1.0707              (index has 9.1.0707)\n"
                    "? ports-mgmt/portaudit      portaudit-0.7.2           (not in the index)\n"
                    "< security/openssh-portable openssh-portable-9.8.p1,1 (index has "
                    "9.8.p1_1,1)\n"
                    "< security/sudo             sudo-1.9.15p5_3           (index has "
                    "1.9.15p5_4)\n"
                    "= shells/bash               bash-5.2.37               (index has 5.2.37)\n"
                    "< shells/zsh                zsh-5.9_4                 (index has 5.9_5)\n"
                    "< sysutils/lsof             lsof-4.99.3_1,7           (index has "
                    "4.99.3_1,8)\n"
                    "> sysutils/tmux             tmux-3.5                  (index has 3.4_1)\n"
                    "= www/curl                  curl-8.10.1               (index has 8.10.1)\n"
                    "< www/nginx                 nginx-1.24.0_14,3         (index has "
                    "1.26.2_5,3)\n"
                    "< www/py-urllib3            py311-urllib3-2.2.3       (index has "
                    "1.26.20,1)\n"},
        option_case{"status_counts_the_lines_against_every_index_line",
                    {"--status", "-r", "sh"},
                    "< security/openssh-portable openssh-portable-9.8.p1,1 (index has "
                    "9.8.p1_1,1)\n"
                    "= shells/bash               bash-5.2.37               (index has 5.2.37)\n"
                    "< shells/zsh                zsh-5.9_4                 (index has 5.9_5)\n" +
                        counts(3, 3, index_lines)},
        option_case{"status_ignores_case",
                    {"--status", "NGINX"},
                    "< www/nginx nginx-1.24.0_14,3 (index has 1.26.2_5,3)\n"},
        option_case{"status_holds_the_term_in_the_version_too",
                    {"--status", "-r", "9.1.07"},
                    "= editors/vim vim-9.1.0707 (index has 9.1.0707)\n" +
                        counts(1, 1, index_lines)},
        option_case{"status_word_not_by_part",
                    {"--status", "--word", "-r", "ssh"},
                    counts(0, 0, index_lines)},
        option_case{"status_word_by_the_whole_name",
                    {"--status", "--word", "openssh-portable"},
                    "< security/openssh-portable openssh-portable-9.8.p1,1 (index has "
                    "9.8.p1_1,1)\n"},
        option_case{"status_word_by_name_and_version",
                    {"--status", "--word", "-r", "TMUX-3.5"},
                    "> sysutils/tmux tmux-3.5 (index has 3.4_1)\n" + counts(1, 1, index_lines)},
        option_case{"status_of_a_package_the_index_lacks",
                    {"--status", "portaudit"},
                    "? ports-mgmt/portaudit portaudit-0.7.2 (not in the index)\n"}));

// Each line begins with its mark and a space, so that a line-oriented filter
// (grep '^?') picks the packages of one standing.
TEST(status, lines_start_with_their_mark) {
    const versions_system system;
    RUN_OR_SKIP(got, system.setup(), command({"--status", ""}));
    ASSERT_EQ(got.status, 0) << got.err;
    std::map<char, std::vector<std::string>> by_mark;
    for (std::size_t at = 0; at < got.out.size(); at = got.out.find('\n', at) + 1) {
        const std::string line = got.out.substr(at, got.out.find('\n', at) - at);
        ASSERT_GE(line.size(), 2U);
        EXPECT_EQ(line[1], ' ') << line;
        by_mark[line[0]].push_back(line.substr(2, line.find(' ', 2) - 2));
    }
    EXPECT_EQ(by_mark, (std::map<char, std::vector<std::string>>{
                           {'<',
                            {"archivers/liblz4", "security/openssh-portable", "security/sudo",
                             "shells/zsh", "sysutils/lsof", "www/nginx", "www/py-urllib3"}},
                           {'=', {"editors/vim", "shells/bash", "www/curl"}},
                           {'>', {"devel/git", "sysutils/tmux"}},
                           {'?', {"ports-mgmt/portaudit"}}}));
}

// --- which port an installed package is: by origin ---

// An index line for a port at origin (category/port).
std::string port_line(const std::string& name_version, const std::string& origin) {
    const std::string path = "/usr/ports/" + origin;
    return name_version + "|" + path + "|/usr/local|A port|" + path + "/pkg-descr|" +
           "ports@FreeBSD.org|" + origin.substr(0, origin.find('/')) +
           "|||https://example.org/|||\n";
}

// Ports that share a name at different origins (ruby, xorg-server), flavors
// that share an origin (py311-foo, py312-foo), and a port installed under a
// name it no longer has (oldname, now newname); the database is pkg's, with
// origins, or one of old without an origin column. The filters and --status
// go by origin; the short line's mark and -f's version stay by name, so the
// renamed port is selected as installed yet marked "-".
struct origin_case {
    const char* label;
    bool with_origins;
    std::vector<std::string> args;
    std::string out;
    friend void PrintTo(const origin_case& c, std::ostream* os) { *os << c.label; }
};

class origin_test : public testing::TestWithParam<origin_case> {};

TEST_P(origin_test, decides_which_port_is_installed) {
    const origin_case& c = GetParam();
    const fixture::temp_dir dir;
    std::filesystem::create_directory(dir / "ports");
    std::filesystem::create_directory(dir / "pkg");
    fixture::write_file(
        dir / "ports/INDEX-15",
        port_line("ruby-2.2.10", "lang/ruby22") + port_line("ruby-2.3.8", "lang/ruby23") +
            port_line("xorg-server-1.14.7", "x11/xserver14") +
            port_line("xorg-server-1.17.4", "x11/xserver17") +
            port_line("py311-foo-1.0", "devel/py-foo") +
            port_line("py312-foo-1.0", "devel/py-foo") + port_line("newname-2.0", "misc/newname"));
    const fs::path db = dir / "pkg/local.sqlite";
    if (c.with_origins) {
        fixture::make_package_db(
            db, fixture::package_insert("ruby", "2.2.9", "lang/ruby22") +
                    fixture::package_insert("xorg-server", "1.14.7_1", "x11/xserver14") +
                    fixture::package_insert("py311-foo", "1.0", "devel/py-foo") +
                    fixture::package_insert("oldname", "1.0", "misc/newname"));
    } else {
        fixture::run_sql(db, "CREATE TABLE packages (name TEXT, version TEXT);"
                             "INSERT INTO packages VALUES ('ruby', '2.2.9'), "
                             "('xorg-server', '1.14.7_1'), ('py311-foo', '1.0'), "
                             "('oldname', '1.0');");
    }
    fixture::open_to_all(dir.path());
    fixture::run_setup setup;
    setup.ports = dir / "ports";
    setup.pkg = dir / "pkg";
    RUN_OR_SKIP(got, setup, command(c.args));
    EXPECT_EQ(got.out, c.out);
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.status, 0);
}

INSTANTIATE_TEST_SUITE_P(
    origins, origin_test,
    testing::Values(
        origin_case{"outdated_only_at_the_installed_origin",
                    true,
                    {"--outdated", "-r", ""},
                    "+ ruby-2.2.10 (/usr/ports/lang/ruby22)\n"
                    "- newname-2.0 (/usr/ports/misc/newname)\n" +
                        counts(2, 2, 7)},
        origin_case{"installed_flavor_by_name_renamed_by_origin",
                    true,
                    {"--installed", ""},
                    "+ ruby-2.2.10 (/usr/ports/lang/ruby22)\n"
                    "+ xorg-server-1.14.7 (/usr/ports/x11/xserver14)\n"
                    "+ py311-foo-1.0 (/usr/ports/devel/py-foo)\n"
                    "- newname-2.0 (/usr/ports/misc/newname)\n"},
        origin_case{"status_newer_than_its_own_origin",
                    true,
                    {"--status", ""},
                    "= devel/py-foo  py311-foo-1.0        (index has 1.0)\n"
                    "< lang/ruby22   ruby-2.2.9           (index has 2.2.10)\n"
                    "< misc/newname  oldname-1.0          (index has 2.0)\n"
                    "> x11/xserver14 xorg-server-1.14.7_1 (index has 1.14.7)\n"},
        origin_case{"the_short_mark_stays_by_name",
                    true,
                    {""},
                    "+ ruby-2.2.10 (/usr/ports/lang/ruby22)\n"
                    "+ ruby-2.3.8 (/usr/ports/lang/ruby23)\n"
                    "+ xorg-server-1.14.7 (/usr/ports/x11/xserver14)\n"
                    "+ xorg-server-1.17.4 (/usr/ports/x11/xserver17)\n"
                    "+ py311-foo-1.0 (/usr/ports/devel/py-foo)\n"
                    "- py312-foo-1.0 (/usr/ports/devel/py-foo)\n"
                    "- newname-2.0 (/usr/ports/misc/newname)\n"},
        origin_case{"the_installed_version_in_a_block_stays_by_name",
                    true,
                    {"-f", "newname"},
                    "- newname-2.0 (/usr/ports/misc/newname, Version: n/a [ports@FreeBSD.org, "
                    "/usr/local])\n"},
        origin_case{"json_at_the_installed_origin_only",
                    true,
                    {"--json", "--word", "-p", "lang/ruby23"},
                    R"({"name":"ruby","version":"2.3.8","full_name":"ruby-2.3.8",)"
                    R"("path":"/usr/ports/lang/ruby23","origin":"lang/ruby23",)"
                    R"("prefix":"/usr/local","comment":"A port",)"
                    R"("description_file":"/usr/ports/lang/ruby23/pkg-descr",)"
                    R"("maintainer":"ports@FreeBSD.org","categories":["lang"],)"
                    R"("build_depends":[],"run_depends":[],"www":"https://example.org/",)"
                    R"("installed_version":null,"outdated":false,"status":null})"
                    "\n"},
        origin_case{"json_of_a_renamed_port",
                    true,
                    {"--json", "newname"},
                    R"({"name":"newname","version":"2.0","full_name":"newname-2.0",)"
                    R"("path":"/usr/ports/misc/newname","origin":"misc/newname",)"
                    R"("prefix":"/usr/local","comment":"A port",)"
                    R"("description_file":"/usr/ports/misc/newname/pkg-descr",)"
                    R"("maintainer":"ports@FreeBSD.org","categories":["misc"],)"
                    R"("build_depends":[],"run_depends":[],"www":"https://example.org/",)"
                    R"("installed_version":"1.0","outdated":true,"status":"<"})"
                    "\n"},
        origin_case{"without_origins_names_decide",
                    false,
                    {"--outdated", ""},
                    "+ ruby-2.2.10 (/usr/ports/lang/ruby22)\n"
                    "+ ruby-2.3.8 (/usr/ports/lang/ruby23)\n"
                    "+ xorg-server-1.17.4 (/usr/ports/x11/xserver17)\n"}),
    [](const testing::TestParamInfo<origin_case>& info) { return std::string(info.param.label); });

// --- JSON Lines ---

// Each line of the output parsed on its own.
std::vector<nlohmann::json> json_lines(const std::string& out) {
    std::vector<nlohmann::json> lines;
    std::size_t begin = 0;
    while (begin < out.size()) {
        const std::size_t end = out.find('\n', begin);
        EXPECT_NE(end, std::string::npos) << "a last line without its newline";
        lines.push_back(nlohmann::json::parse(out.substr(begin, end - begin)));
        begin = end + 1;
    }
    return lines;
}

// Every field of a port, parsed back from its line, and the counts object
// that -r adds.
TEST(json, holds_every_field_of_the_port_and_the_counts) {
    const versions_system system;
    RUN_OR_SKIP(got, system.setup(), command({"--json", "-r", "--word", "zsh"}));
    ASSERT_EQ(got.err, "");
    ASSERT_EQ(got.status, 0);
    const std::vector<nlohmann::json> lines = json_lines(got.out);
    ASSERT_EQ(lines.size(), 2U) << got.out;
    const nlohmann::json& zsh = lines[0];
    EXPECT_EQ(zsh["name"], "zsh");
    EXPECT_EQ(zsh["version"], "5.9_5");
    EXPECT_EQ(zsh["full_name"], "zsh-5.9_5");
    EXPECT_EQ(zsh["path"], "/usr/ports/shells/zsh");
    EXPECT_EQ(zsh["origin"], "shells/zsh");
    EXPECT_EQ(zsh["prefix"], "/usr/local");
    EXPECT_EQ(zsh["comment"], "Z shell");
    EXPECT_EQ(zsh["description_file"], "/usr/ports/shells/zsh/pkg-descr");
    EXPECT_EQ(zsh["maintainer"], "bapt@FreeBSD.org");
    EXPECT_EQ(zsh["categories"], nlohmann::json::array({"shells"}));
    EXPECT_EQ(zsh["build_depends"],
              nlohmann::json::array({"autoconf-2.72", "gmake-4.4.1", "pkgconf-2.3.0,1"}));
    EXPECT_EQ(zsh["run_depends"], nlohmann::json::array({"libiconv-1.17_1", "pcre2-10.44"}));
    EXPECT_EQ(zsh["www"], "https://www.zsh.org/");
    EXPECT_EQ(zsh["installed_version"], "5.9_4");
    EXPECT_EQ(zsh["outdated"], true);
    EXPECT_EQ(zsh["status"], "<");
    EXPECT_EQ(zsh.size(), 16U) << zsh.dump();
    EXPECT_TRUE(got.out.find(R"(,"outdated":true,"status":"<"}
)") != std::string::npos)
        << "status is the last member: " << got.out;
    EXPECT_EQ(lines[1], nlohmann::json({{"results", 1}, {"matches", 1}, {"entries", index_lines}}));
}

// --status --json: one object per package, in the order of the lines, and
// the counts object that -r adds.
TEST(json, status_gives_one_object_per_package) {
    const versions_system system;
    RUN_OR_SKIP(got, system.setup(), command({"--status", "--json", "-r", "po"}));
    EXPECT_EQ(got.out,
              R"({"name":"portaudit","installed_version":"0.7.2","origin":"ports-mgmt/portaudit",)"
              R"("index_version":null,"status":"?"})"
              "\n"
              R"({"name":"openssh-portable","installed_version":"9.8.p1,1",)"
              R"("origin":"security/openssh-portable","index_version":"9.8.p1_1,1","status":"<"})"
              "\n"
              R"({"results":2,"matches":2,"entries":362})"
              "\n");
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.status, 0);
}

// A port that isn't installed has a null installed version; one at the
// index's version, or a newer one, isn't outdated. Filters apply as to the
// other forms.
TEST(json, shows_installed_state_and_follows_the_filters) {
    const versions_system system;
    RUN_OR_SKIP(got, system.setup(), command({"--json", "--word", "-p", "editors/vim"}));
    const std::vector<nlohmann::json> lines = json_lines(got.out);
    ASSERT_EQ(lines.size(), 2U) << got.out;
    EXPECT_EQ(lines[0]["full_name"], "vim-9.1.0707");
    EXPECT_EQ(lines[0]["installed_version"], "9.1.0707");
    EXPECT_EQ(lines[0]["outdated"], false);
    EXPECT_EQ(lines[0]["status"], "=");
    // A flavor of the same origin whose name isn't installed.
    EXPECT_EQ(lines[1]["full_name"], "vim-tiny-9.1.0707");
    EXPECT_TRUE(lines[1]["installed_version"].is_null());
    EXPECT_EQ(lines[1]["outdated"], false);
    EXPECT_TRUE(lines[1]["status"].is_null());

    RUN_OR_SKIP(newer, system.setup(), command({"--json", "--word", "tmux"}));
    ASSERT_EQ(json_lines(newer.out).size(), 1U) << newer.out;
    EXPECT_EQ(json_lines(newer.out)[0]["status"], ">");
    EXPECT_EQ(json_lines(newer.out)[0]["outdated"], false);

    RUN_OR_SKIP(outdated, system.setup(), command({"--json", "--outdated", ""}));
    std::vector<std::string> names;
    for (const nlohmann::json& line : json_lines(outdated.out)) {
        names.push_back(line["name"]);
        EXPECT_EQ(line["outdated"], true) << line.dump();
    }
    EXPECT_EQ(names, (std::vector<std::string>{"liblz4", "openssh-portable", "sudo", "zsh", "lsof",
                                               "nginx", "py311-urllib3"}));
}

// Fields an index line leaves empty are null, or empty lists; bytes that
// aren't UTF-8 become U+FFFD and the line stays valid JSON, while valid UTF-8
// and characters JSON must escape come through.
TEST(json, writes_absent_fields_and_odd_bytes_as_valid_json) {
    const fixture::temp_dir dir;
    const std::string line = "caf\xc3\xa9-1.0|/usr/ports/misc/caf\xc3\xa9||Bad \xff byte, "
                             "\"quoted\"\ttab\\|||misc\n";
    fixture::write_file(dir / "INDEX", line);
    fixture::open_to_all(dir.path());
    fixture::run_setup setup;
    setup.ports = dir.path();
    setup.pkg = dir.path(); // no database: nothing is installed
    RUN_OR_SKIP(got, setup, command({"--json", "--index", (dir / "INDEX").string(), "caf"}));
    ASSERT_EQ(got.status, 0) << got.err;
    const std::vector<nlohmann::json> lines = json_lines(got.out);
    ASSERT_EQ(lines.size(), 1U) << got.out;
    const nlohmann::json& port = lines[0];
    EXPECT_EQ(port["name"], "caf\xc3\xa9");
    EXPECT_EQ(port["origin"], "misc/caf\xc3\xa9");
    EXPECT_EQ(port["comment"], "Bad \xef\xbf\xbd byte, \"quoted\"\ttab\\");
    EXPECT_TRUE(port["prefix"].is_null());
    EXPECT_TRUE(port["maintainer"].is_null());
    EXPECT_EQ(port["categories"], nlohmann::json::array({"misc"}));
    EXPECT_EQ(port["build_depends"], nlohmann::json::array());
    EXPECT_TRUE(port["www"].is_null());
    EXPECT_TRUE(port["installed_version"].is_null());
}

// --- the index by path, and --help ---

// --index wins over INDEXDIR and INDEXFILE; "-" reads standard input; a
// missing file is reported like a missing index.
TEST(index_option, names_the_index_whatever_the_environment_says) {
    const versions_system system;
    const fixture::temp_dir dir;
    fixture::write_file(dir / "other", "zsh-9.9|/usr/ports/shells/zsh|/usr/local|Newer Z shell\n");
    fixture::open_to_all(dir.path());
    const std::string other = (dir / "other").string();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--index", other, "-r", "zsh"},
          std::vector<std::string>{"--index=" + other, "-r", "zsh"},
          std::vector<std::string>{"--ind", other, "-r", "zsh"}}) {
        RUN_OR_SKIP(got, system.setup(), command(args));
        EXPECT_EQ(got.out, "+ zsh-9.9 (/usr/ports/shells/zsh)\n" + counts(1, 1, 1)) << args[0];
        EXPECT_EQ(got.err, "");
        EXPECT_EQ(got.status, 0);
    }

    fixture::run_setup from_stdin = system.setup();
    from_stdin.stdin_file = dir / "other";
    RUN_OR_SKIP(piped, from_stdin, command({"--index", "-", "--outdated", "zsh"}));
    EXPECT_EQ(piped.out, "+ zsh-9.9 (/usr/ports/shells/zsh)\n");
    EXPECT_EQ(piped.status, 0);

    RUN_OR_SKIP(missing, system.setup(),
                command({"--index", (dir / "none").string(), "-r", "zsh"}));
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "Could not open " + (dir / "none").string() + "\n");
    EXPECT_EQ(missing.status, 1);

    for (const std::vector<std::string>& args : {std::vector<std::string>{"--index", "", "zsh"},
                                                 std::vector<std::string>{"--index=", "zsh"}}) {
        RUN_OR_SKIP(empty, system.setup(), command(args));
        EXPECT_EQ(empty.out, "");
        EXPECT_EQ(empty.err, "vandrel: --index: the file name is empty\n");
        EXPECT_EQ(empty.status, 1);
    }
}

// --help adds the long options to the help text; an unknown long option, or
// --index without its file, is handled like an unknown letter.
TEST(help_option, lists_the_long_options_and_unknown_ones_bring_the_help) {
    const versions_system system;
    const std::string help = fixture::expected_help(VANDREL_BINARY);
    RUN_OR_SKIP(got, system.setup(), command({"--help"}));
    EXPECT_EQ(got.out, help +
                           "Long options:\n"
                           "----------\n"
                           "\n"
                           "\t--categories   - Search in name and categories\n"
                           "\t--www          - Search in name and web site\n"
                           "\t--pkg-descr    - Search in name and the long description "
                           "(pkg-descr)\n"
                           "\t--word         - Match whole words only\n"
                           "\t--regex        - Read the term as an extended regular expression\n"
                           "\t--exclude TERM - Leave out ports that match TERM too (repeatable)\n"
                           "\t--installed    - Show only installed ports\n"
                           "\t--outdated     - Show only installed ports older than the index\n"
                           "\t--status       - Show installed packages against the index (<, =, "
                           ">, ?)\n"
                           "\t--moved        - Show ports moved or removed from the tree (MOVED)\n"
                           "\t--json         - Show results as JSON, one object per line\n"
                           "\t--index FILE   - Read the index from FILE (- for standard input)\n"
                           "\t--help         - Print this help text with the long options\n"
                           "\t--version      - Print version number\n"
                           "\n");
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.status, 0);

    RUN_OR_SKIP(short_help, system.setup(), command({"-h"}));
    EXPECT_EQ(short_help.out, help);

    // After the term, --index is a second operand: help, and no complaint.
    // Otherwise the complaint is this system's getopt_long's own.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--bogus", "zsh"}, std::vector<std::string>{"zsh", "--index"},
          std::vector<std::string>{"--index"}}) {
        RUN_OR_SKIP(bad, system.setup(), command(args));
        const std::string label = testing::PrintToString(args);
        EXPECT_EQ(bad.out, help) << label;
        EXPECT_EQ(bad.err, fixture::getopt_complaints(args)) << label;
        EXPECT_EQ(bad.status, 0) << label;
    }
    EXPECT_EQ(fixture::getopt_complaints({"zsh", "--index"}), "");
    EXPECT_NE(fixture::getopt_complaints({"--bogus", "zsh"}).find("bogus"), std::string::npos);

    RUN_OR_SKIP(version, system.setup(), command({"--vers", "zsh", "bash"}));
    EXPECT_EQ(version.out, fixture::expected_version_line());
}

} // namespace
