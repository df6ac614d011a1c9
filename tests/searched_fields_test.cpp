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
    const search_options options = options_with(c.options);
    EXPECT_EQ(match_entry(entry, options, fixture::criteria_for(c.term, options)), c.tests_found)
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
    EXPECT_EQ(match_entry(entry, options_with("a"), fixture::criteria_for("")), 0);
    parse_index_line(entry, "foo-1.0");
    EXPECT_EQ(match_entry(entry, options_with("a"), fixture::criteria_for("")), 1);
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
        const search_options options = options_with(p.options);
        EXPECT_EQ(match_entry(entry, options, fixture::criteria_for(p.term, options)),
                  p.tests_found)
            << "-" << p.options << " '" << p.term << "' in " << p.line;
    }
}

// An excluded term in any searched field drops the entry; in a field the
// search doesn't look in, it changes nothing.
TEST(match_entry, drops_an_entry_that_holds_an_excluded_term) {
    struct exclusion_case {
        const char* options;
        const char* term;
        std::vector<std::string> excluded;
        int tests_found;
    };
    for (const exclusion_case& c : {
             exclusion_case{"", "zsh", {"5.9"}, 0},
             exclusion_case{"", "zsh", {"bash", "5.9_5"}, 0},
             exclusion_case{"", "zsh", {"bapt"}, 1},
             exclusion_case{"m", "zsh", {"BAPT"}, 0},
             exclusion_case{"d", "shell", {"autoconf"}, 1},
             exclusion_case{"D", "shell", {"autoconf"}, 0},
             exclusion_case{"a", "", {"pcre"}, 0},
             exclusion_case{"", "zsh", {""}, 0},
         }) {
        port_entry entry;
        parse_index_line(entry, zsh_line);
        const search_options options = options_with(c.options);
        EXPECT_EQ(match_entry(entry, options, fixture::criteria_for(c.term, options, c.excluded)),
                  c.tests_found)
            << "-" << c.options << " '" << c.term << "' less "
            << testing::PrintToString(c.excluded);
    }
    // Whole words: "pcre" is no word of "pcre2-10.44", "pcre2" is.
    search_options words = options_with("D");
    words.whole_word = true;
    port_entry entry;
    parse_index_line(entry, zsh_line);
    EXPECT_EQ(match_entry(entry, words, fixture::criteria_for("zsh", words, {"pcre"})), 1);
    EXPECT_EQ(match_entry(entry, words, fixture::criteria_for("zsh", words, {"pcre2"})), 0);
}

// The long description is read only for an entry the line leaves undecided,
// counts only where the line holds the term nowhere, and drops the entry
// when it holds an excluded term.
TEST(match_entry, reads_the_long_description_only_when_it_decides) {
    struct descr_case {
        const char* term;
        std::vector<std::string> excluded;
        std::optional<std::string_view> description;
        int tests_found;
        int reads;
    };
    for (const descr_case& c : {
             descr_case{"zsh", {}, "A shell", 1, 0},
             descr_case{"korn", {}, "Like the Korn shell", 1, 1},
             descr_case{"korn", {}, "A shell", 0, 1},
             descr_case{"korn", {}, std::nullopt, 0, 1},
             descr_case{"zsh", {"korn"}, "Like the Korn shell", 0, 1},
             descr_case{"zsh", {"korn"}, "A shell", 1, 1},
             descr_case{"zsh", {"zsh"}, "A shell", 0, 0},
             descr_case{"5.9", {"korn"}, std::nullopt, 1, 1},
         }) {
        port_entry entry;
        parse_index_line(entry, zsh_line);
        search_options options;
        options.search_pkg_descr = true;
        search_criteria criteria = fixture::criteria_for(c.term, options, c.excluded);
        int reads = 0;
        criteria.read_field = [&](const port_entry& read) {
            EXPECT_EQ(read.descr_file, "/usr/ports/shells/zsh/pkg-descr");
            ++reads;
            return c.description;
        };
        const std::string label =
            std::string(c.term) + " less " + testing::PrintToString(c.excluded);
        EXPECT_EQ(match_entry(entry, options, criteria), c.tests_found) << label;
        EXPECT_EQ(reads, c.reads) << label;
    }
}

// Every row of the table, through a real scan: a line whose only field that
// holds the term is the row's is found by the row's option alone (or by no
// option, for the fields every search looks in), and not without it, in
// either kind of match. A field read on demand holds the term where the line
// holds it nowhere. A field search added to the table is covered here at
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
            if (!row.read_on_demand) {
                fields[candidate] = candidate == 0 ? "needle-1.0" : std::string(term);
            }
            line.clear();
            for (const std::string& field : fields) {
                line += (line.empty() ? "" : "|") + field;
            }
            port_entry entry;
            parse_index_line(entry, line);
            if (row.read_on_demand || (entry.*row.field).value_or("").starts_with(term)) {
                place = candidate;
            }
        }
        ASSERT_TRUE(place) << "a row whose field no line fills";
        const auto scan = [&line, &row, term](const search_options& options) {
            const fixture::file_handle file = fixture::stream_with(line + "\n");
            fixture::memory_stream out;
            scan_counters counters;
            search_criteria criteria = fixture::criteria_for(std::string(term), options);
            if (row.read_on_demand) {
                criteria.read_field = [term](const port_entry&) { return std::optional(term); };
            }
            scan_index(
                fileno(file.get()), options, criteria, counters,
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
