#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "index_lines.h"
#include "port_entry.h"

using namespace std::string_literals;
using namespace std::string_view_literals;
using field = std::optional<std::string_view>;

namespace {

struct name_case {
    std::string_view full_name;
    std::string_view name;
    field version;
    friend void PrintTo(const name_case& c, std::ostream* os) {
        *os << "\"" << c.full_name << "\"";
    }
};

class split_name_version_test : public testing::TestWithParam<name_case> {};

TEST_P(split_name_version_test, splits_at_the_last_hyphen) {
    const name_case& c = GetParam();
    const name_and_version split = split_name_version(c.full_name);
    EXPECT_EQ(split.name, c.name);
    EXPECT_EQ(split.version, c.version);
}

INSTANTIATE_TEST_SUITE_P(
    first_fields, split_name_version_test,
    testing::Values(name_case{"foo-bar-1.0_2", "foo-bar", "1.0_2"sv},
                    name_case{"py311-requests-2.32.3", "py311-requests", "2.32.3"sv},
                    name_case{"vorbis-tools-1.4.0_10,3", "vorbis-tools", "1.4.0_10,3"sv},
                    name_case{"foo", "foo", std::nullopt}, name_case{"-foo", "-foo", std::nullopt},
                    name_case{"foo-", "foo", ""sv}, name_case{"-", "-", std::nullopt},
                    name_case{"", "", std::nullopt}));

// The entry's twelve line fields in order, for comparing whole entries.
using line_fields = std::array<field, 12>;

line_fields fields_of(const port_entry& e) {
    return {e.full_name,  e.name,       e.version,    e.path,          e.prefix,      e.comment,
            e.descr_file, e.maintainer, e.categories, e.build_depends, e.run_depends, e.web_site};
}

struct line_case {
    const char* label;
    std::string_view line;
    line_fields expected;
    friend void PrintTo(const line_case& c, std::ostream* os) { *os << c.label; }
};

class parse_index_line_test : public testing::TestWithParam<line_case> {};

constexpr std::string_view thirteen_fields =
    "zsh-5.9_5|/usr/ports/shells/zsh|/usr/local|Z shell|/usr/ports/shells/zsh/pkg-descr|"
    "bapt@FreeBSD.org|shells|autoconf-2.72 gmake-4.4.1|libiconv-1.17_1 pcre2-10.44|"
    "https://www.zsh.org/|unzip-6.0_8|gpatch-2.7.6_3|fetch-1";

const line_fields zsh_fields = {"zsh-5.9_5"sv,
                                "zsh"sv,
                                "5.9_5"sv,
                                "/usr/ports/shells/zsh"sv,
                                "/usr/local"sv,
                                "Z shell"sv,
                                "/usr/ports/shells/zsh/pkg-descr"sv,
                                "bapt@FreeBSD.org"sv,
                                "shells"sv,
                                "autoconf-2.72 gmake-4.4.1"sv,
                                "libiconv-1.17_1 pcre2-10.44"sv,
                                "https://www.zsh.org/"sv};

// Separators, a run of them and a NUL on either side of the widths that the
// searches for them work in.
const std::string across_blocks = "big-2.0|" + std::string(100, 'p') + "||" + std::string(63, 'q') +
                                  "|" + std::string(64, 'r') + "|x";
const std::string nul_in_second_block = std::string(70, 'a') + '\0' + "|b";

TEST_P(parse_index_line_test, fills_each_field_from_its_place) {
    const line_case& c = GetParam();
    port_entry entry;
    const std::string line_text(c.line);
    parse_index_line(entry, line_text);
    EXPECT_EQ(fields_of(entry), c.expected) << c.label;
    EXPECT_FALSE(entry.installed_version);
}

// An entry that held a longer line, with an installed version, then gets a
// shorter one: it must equal the shorter line split alone.
TEST_P(parse_index_line_test, leaves_nothing_of_the_line_before) {
    const line_case& c = GetParam();
    port_entry entry;
    const std::string first(thirteen_fields);
    parse_index_line(entry, first);
    entry.installed_version = "5.9_4";
    const std::string line_text(c.line);
    parse_index_line(entry, line_text);
    EXPECT_EQ(fields_of(entry), c.expected) << c.label;
    EXPECT_FALSE(entry.installed_version);
}

INSTANTIATE_TEST_SUITE_P(
    lines, parse_index_line_test,
    testing::Values(
        line_case{"thirteen fields: the first ten fill the entry", thirteen_fields, zsh_fields},
        line_case{"an empty field is absent and keeps its place",
                  "a||c|d",
                  {"a"sv, "a"sv, std::nullopt, std::nullopt, "c"sv, "d"sv}},
        line_case{"three fields",
                  "foo-1.0|/usr/ports/misc/foo|/usr/local",
                  {"foo-1.0"sv, "foo"sv, "1.0"sv, "/usr/ports/misc/foo"sv, "/usr/local"sv}},
        line_case{"a first field alone", "foo", {"foo"sv, "foo"sv}},
        line_case{"empty line", "", {}}, line_case{"only separators", "|||||||||||||", {}},
        line_case{"leading separators leave the name and path absent",
                  "||x-1|y",
                  {std::nullopt, std::nullopt, std::nullopt, std::nullopt, "x-1"sv, "y"sv}},
        line_case{"a NUL byte ends what the split sees",
                  "foo-1.0|/usr/ports/misc/f\0oo|/usr/local"sv,
                  {"foo-1.0"sv, "foo"sv, "1.0"sv, "/usr/ports/misc/f"sv}},
        line_case{"a NUL as the first byte hides the whole line", "\0foo-1|bar"sv, {}},
        line_case{
            "a carriage return stays at the end of the last field",
            "a-1|b|c|d|e|f|g|h|i\r",
            {"a-1"sv, "a"sv, "1"sv, "b"sv, "c"sv, "d"sv, "e"sv, "f"sv, "g"sv, "h"sv, "i\r"sv}},
        line_case{"a NUL leaves the fields after it absent",
                  "a-1|b\0|c|d|e|f|g|h|i"sv,
                  {"a-1"sv, "a"sv, "1"sv, "b"sv}},
        line_case{"fields across 64-byte blocks",
                  across_blocks,
                  {"big-2.0"sv, "big"sv, "2.0"sv, std::string_view(across_blocks).substr(8, 100),
                   std::nullopt, std::string_view(across_blocks).substr(110, 63),
                   std::string_view(across_blocks).substr(174, 64), "x"sv}},
        line_case{"a NUL in a later block",
                  nul_in_second_block,
                  {std::string_view(nul_in_second_block).substr(0, 70),
                   std::string_view(nul_in_second_block).substr(0, 70)}},
        line_case{"0xFF is ordinary content",
                  "\xff\xfe-1|p",
                  {"\xff\xfe-1"sv, "\xff\xfe"sv, "1"sv, "p"sv}}));

namespace lines = fixture::index_lines;

// Lines as a real index has them: empty fields keep their places, so the web
// site in field 10 is never taken for a dependency list, nor one for it.
INSTANTIATE_TEST_SUITE_P(
    real_lines, parse_index_line_test,
    testing::Values(
        line_case{"no build dependencies",
                  lines::no_build_depends,
                  {"sa-utils-0.10_2"sv, "sa-utils"sv, "0.10_2"sv, "/usr/ports/mail/sa-utils"sv,
                   "/usr/local"sv, "SpamAssassin nightly periodic maintenance"sv,
                   "/usr/ports/mail/sa-utils/pkg-descr"sv, "ports@FreeBSD.org"sv, "mail"sv,
                   std::nullopt, "gnupg-2.4.5_2 spamassassin-4.0.1_2"sv,
                   "https://github.com/freebsd/sa-utils"sv}},
        line_case{"no run dependencies",
                  lines::no_run_depends,
                  {"liblzo2-2.10_1"sv, "liblzo2"sv, "2.10_1"sv, "/usr/ports/archivers/liblzo2"sv,
                   "/usr/local"sv, "Portable speedy, lossless data compression library"sv,
                   "/usr/ports/archivers/liblzo2/pkg-descr"sv, "ports@FreeBSD.org"sv,
                   "archivers devel"sv, "gmake-4.4.1"sv, std::nullopt,
                   "https://www.oberhumer.com/opensource/lzo/"sv}},
        line_case{"no dependencies, the name in the web site",
                  lines::no_depends,
                  {"cabextract-1.11_1"sv, "cabextract"sv, "1.11_1"sv,
                   "/usr/ports/archivers/cabextract"sv, "/usr/local"sv,
                   "Program to extract Microsoft cabinet (.CAB) files"sv,
                   "/usr/ports/archivers/cabextract/pkg-descr"sv, "ports@FreeBSD.org"sv,
                   "archivers"sv, std::nullopt, std::nullopt, "https://www.cabextract.org.uk/"sv}},
        line_case{"no comment",
                  lines::no_comment,
                  {"xkbset-0.8_1"sv, "xkbset"sv, "0.8_1"sv, "/usr/ports/x11/xkbset"sv,
                   "/usr/local"sv, std::nullopt, "/usr/ports/x11/xkbset/pkg-descr"sv,
                   "ports@FreeBSD.org"sv, "x11"sv, "gmake-4.4.1"sv,
                   "libX11-1.8.10,1 p5-Tk-804.036_1"sv}},
        line_case{"no name",
                  lines::no_name,
                  {std::nullopt, std::nullopt, std::nullopt, "/usr/ports/misc/nameless"sv,
                   "/usr/local"sv, "A line without a name"sv,
                   "/usr/ports/misc/nameless/pkg-descr"sv, "ports@FreeBSD.org"sv, "misc"sv,
                   "gmake-4.4.1"sv, "cabextract-1.11_1"sv, "https://example.org/"sv}},
        line_case{"a run of empty fields",
                  lines::empty_run,
                  {"gnupg-2.4.5_2"sv, "gnupg"sv, "2.4.5_2"sv, "/usr/ports/security/gnupg"sv,
                   std::nullopt, std::nullopt, std::nullopt, "ports@FreeBSD.org"sv, "security"sv,
                   "pkgconf-2.3.0,1"sv, "libgcrypt-1.11.0 libksba-1.6.7"sv}},
        line_case{"fewer than nine fields",
                  lines::short_line,
                  {"mg-20240709"sv, "mg"sv, "20240709"sv, "/usr/ports/editors/mg"sv, "/usr/local"sv,
                   "Small, fast Emacs-like editor"sv}}));

// Lines as a reader hands them over: views into the bytes read, each ending
// before its newline with more fields after it. A parse takes the fields of
// its own line, never a byte past its end, whether the end falls inside a
// word or a vector's width of the search.
TEST(parse_index_line, takes_nothing_past_the_end_of_its_line) {
    const std::string text =
        std::string(thirteen_fields) + "\n\nx-1|a\0b|c\n"s + std::string(90, 'b') + "-2|q|r\nc-3|s";
    struct step {
        field full_name;
        field path;
        field prefix;
    };
    const step steps[] = {{"zsh-5.9_5"sv, "/usr/ports/shells/zsh"sv, "/usr/local"sv},
                          {std::nullopt, std::nullopt, std::nullopt},
                          {"x-1"sv, "a"sv, std::nullopt},
                          {std::string_view(text).substr(text.find("bbb"), 92), "q"sv, "r"sv},
                          {"c-3"sv, "s"sv, std::nullopt}};
    std::size_t begin = 0;
    for (const step& expected : steps) {
        const std::size_t end = std::min(text.find('\n', begin), text.size());
        port_entry entry;
        parse_index_line(entry, std::string_view(text).substr(begin, end - begin));
        EXPECT_EQ(entry.full_name, expected.full_name) << "line at " << begin;
        EXPECT_EQ(entry.path, expected.path) << "line at " << begin;
        EXPECT_EQ(entry.prefix, expected.prefix) << "line at " << begin;
        begin = end + 1;
    }
    // Cut short anywhere, a line's last field ends at the cut.
    const std::string_view whole(thirteen_fields);
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        port_entry entry;
        parse_index_line(entry, whole.substr(0, length));
        const std::size_t first = whole.find('|');
        EXPECT_EQ(entry.full_name.value_or(""), whole.substr(0, std::min(length, first))) << length;
    }
}

TEST(port_entry, reset_leaves_every_field_absent) {
    port_entry entry;
    const std::string line_text(thirteen_fields);
    parse_index_line(entry, line_text);
    entry.installed_version = "5.9_4";
    port_entry_reset(entry);
    EXPECT_EQ(fields_of(entry), line_fields{});
    EXPECT_FALSE(entry.installed_version);
}

} // namespace
