#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "index_lines.h"
#include "index_scan.h"
#include "searched_fields.h"

namespace {

using fixture::options_with;

constexpr std::string_view zsh_line =
    "zsh-5.9_5|/usr/ports/shells/zsh|/usr/local|Z shell, the shell|/usr/ports/shells/zsh/pkg-descr|"
    "bapt@FreeBSD.org|shells|autoconf-2.72 pcre2-10.44|pcre2-10.44 libiconv-1.17_1|"
    "https://www.zsh.org/|||";

struct match_case {
    const char* options;
    const char* term;
    int tests_found;
    friend void PrintTo(const match_case& c, std::ostream* os) {
        *os << "-" << c.options << " '" << c.term << "'";
    }
};

class match_entry_test : public testing::TestWithParam<match_case> {};

TEST_P(match_entry_test, counts_the_fields_that_hold_the_term) {
    const match_case& c = GetParam();
    port_entry entry;
    const std::string line_text(zsh_line);
    parse_index_line(entry, line_text);
    EXPECT_EQ(match_entry(entry, options_with(c.options), c.term), c.tests_found)
        << "-" << c.options << " " << c.term;
}

INSTANTIATE_TEST_SUITE_P(
    zsh, match_entry_test,
    testing::Values(match_case{"", "ZSH", 1}, match_case{"", "5.9", 1}, match_case{"", "5.9_5", 1},
                    match_case{"", "bapt", 0}, match_case{"m", "bapt", 1},
                    match_case{"d", "shell", 1}, match_case{"p", "shell", 1},
                    match_case{"dp", "SHELL", 2}, match_case{"D", "pcre2", 2},
                    match_case{"D", "autoconf", 1}, match_case{"a", "zsh", 2},
                    match_case{"a", "", 6}, match_case{"", "", 1}, match_case{"a", "/usr/local", 0},
                    match_case{"a", "pkg-descr", 0}, match_case{"a", "https", 0},
                    match_case{"a", "freebsd.org", 1}));

TEST(match_entry, skips_absent_fields_and_never_matches_an_empty_line) {
    port_entry entry;
    parse_index_line(entry, "");
    EXPECT_EQ(match_entry(entry, options_with("a"), ""), 0);
    parse_index_line(entry, "foo-1.0");
    EXPECT_EQ(match_entry(entry, options_with("a"), ""), 1);
}

// Empty fields keep their places: a web site is never searched as a
// dependency list, and a line without a name matches nothing.
TEST(match_entry, searches_each_field_in_its_place) {
    namespace lines = fixture::index_lines;
    struct probe {
        std::string_view line;
        const char* options;
        const char* term;
        int tests_found;
    };
    for (const probe& p :
         {probe{lines::no_depends, "D", "cabextract", 1}, probe{lines::no_depends, "a", "https", 0},
          probe{lines::no_depends, "a", "", 4},
          probe{lines::no_build_depends, "D", "spamassassin", 1},
          probe{lines::no_build_depends, "D", "github", 0}, probe{lines::no_comment, "d", "", 1},
          probe{lines::no_comment, "a", "", 5}, probe{lines::no_name, "a", "", 0},
          probe{lines::no_name, "p", "nameless", 0}, probe{lines::short_line, "D", "", 1}}) {
        port_entry entry;
        parse_index_line(entry, p.line);
        EXPECT_EQ(match_entry(entry, options_with(p.options), p.term), p.tests_found)
            << "-" << p.options << " '" << p.term << "' in " << p.line;
    }
}

// Every row of the table, through a real scan: a line whose only field that
// holds the term is the row's is found by the row's option alone (or by no
// option, for the fields every search looks in), and not without it, in
// either kind of match. A field search added to the table is covered here at
// once.
TEST(searched_fields, each_is_found_by_its_own_option_through_a_scan) {
    constexpr std::string_view term = "needle";
    for (const searched_field& row : searched_fields) {
        // The row's place in the line: where a parse puts a field into it.
        std::optional<std::size_t> place;
        std::string line;
        for (std::size_t candidate = 0; candidate < 13 && !place; ++candidate) {
            std::vector<std::string> fields = {"port-1.0"};
            for (std::size_t i = 1; i < 13; ++i) {
                fields.push_back("field" + std::to_string(i));
            }
            fields[candidate] = candidate == 0 ? "needle-1.0" : std::string(term);
            line.clear();
            for (const std::string& field : fields) {
                line += (line.empty() ? "" : "|") + field;
            }
            port_entry entry;
            parse_index_line(entry, line);
            if ((entry.*row.field).value_or("").starts_with(term)) {
                place = candidate;
            }
        }
        ASSERT_TRUE(place) << "a row whose field no line fills";
        const auto scan = [&line, term](const search_options& options) {
            const fixture::file_handle file = fixture::stream_with(line + "\n");
            fixture::memory_stream out;
            scan_counters counters;
            scan_index(
                fileno(file.get()), options, term, counters,
                [](std::optional<std::string_view>) { return std::nullopt; }, out.get());
            return counters;
        };
        // The field holds the term as a whole word too.
        for (const bool whole_word : {false, true}) {
            search_options none;
            none.whole_word = whole_word;
            search_options alone = none;
            if (row.option != nullptr) {
                alone.*row.option = true;
                EXPECT_EQ(scan(none).results, 0U)
                    << "field " << *place << " searched without its option";
            }
            const scan_counters found = scan(alone);
            EXPECT_EQ(found.results, 1U)
                << "field " << *place << " not found by its option alone, word " << whole_word;
            EXPECT_GE(found.matches, 1U) << "field " << *place;
        }
    }
}

} // namespace
