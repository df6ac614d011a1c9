#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "term_match.h"

namespace {

struct term_case {
    bool regex;
    bool word;
    std::string_view term;
    field_shape shape;
    std::string_view field;
    bool holds;
    friend void PrintTo(const term_case& c, std::ostream* os) {
        *os << (c.regex ? "--regex " : "") << (c.word ? "--word " : "") << "'" << c.term << "' in '"
            << c.field << "'";
    }
};

term_matcher matcher_for(const term_case& c) {
    search_options options;
    options.regular_expression = c.regex;
    options.whole_word = c.word;
    std::string error;
    std::optional<term_matcher> matcher = term_matcher::make(std::string(c.term), options, error);
    EXPECT_TRUE(matcher) << error;
    return std::move(*matcher);
}

class term_match_test : public testing::TestWithParam<term_case> {};

// What holds the term, and that a first field that holds it always passes
// the cheap test that lets the scan skip a line unsplit.
TEST_P(term_match_test, holds_by_the_options_way_of_matching) {
    const term_case& c = GetParam();
    const term_matcher matcher = matcher_for(c);
    EXPECT_EQ(matcher.holds(c.shape, c.field), c.holds);
    if (c.holds && c.shape == field_shape::packages) {
        EXPECT_TRUE(matcher.name_may_hold(c.field));
    }
}

constexpr auto packages = field_shape::packages;
constexpr auto words = field_shape::words;
constexpr auto path = field_shape::path;
constexpr auto web = field_shape::web_address;

INSTANTIATE_TEST_SUITE_P(
    substring_and_word, term_match_test,
    testing::Values(term_case{false, false, "VIM", packages, "neovim-0.10.1", true},
                    term_case{false, true, "vim", packages, "neovim-0.10.1", false},
                    term_case{false, false, "^vim", packages, "vim-9.1", false},
                    term_case{false, false, "", words, "", true},
                    term_case{false, true, "", words, "a b", false}));

// Anchors hold at the field's ends, classes and alternation as in grep -E,
// letters in either case.
INSTANTIATE_TEST_SUITE_P(
    expressions, term_match_test,
    testing::Values(term_case{true, false, "^py3[0-9]+-", packages, "py311-requests-2.32.3", true},
                    term_case{true, false, "^py3[0-9]+-", packages, "py39-requests-2.32.3", true},
                    term_case{true, false, "^py3[0-9]+-", packages, "py27-six-1.16", false},
                    term_case{true, false, "^py3[0-9]+-", packages, "libpy311-1.0", false},
                    term_case{true, false, "^(vim|neovim)-", packages, "neovim-0.10.1", true},
                    term_case{true, false, "^(vim|neovim)-", packages, "gvim-9.1", false},
                    term_case{true, false, "^(VIM|NEOVIM)-", packages, "vim-9.1", true},
                    term_case{true, false, "shells/z", path, "/usr/ports/shells/zsh", true},
                    term_case{true, false, "zsh$", path, "/usr/ports/shells/zsh", true},
                    term_case{true, false, "^zsh", path, "/usr/ports/shells/zsh", false},
                    term_case{true, false, "[[:digit:]]{3}", words, "HTTP 2 or 3", false},
                    term_case{true, false, "[[:digit:]]{3}", words, "Version 100", true},
                    term_case{true, false, "git(hub|lab)\\.com", web,
                              "https://gitlab.com/gitlab-org", true},
                    term_case{true, false, "git(hub|lab)\\.com", web, "https://gitlabxcom/", false},
                    term_case{true, false, "a.c", words, "abc", true},
                    term_case{true, false, "", words, "anything", true}));

// With --word the expression matches a whole word, by the field's shape.
INSTANTIATE_TEST_SUITE_P(
    expressions_as_words, term_match_test,
    testing::Values(term_case{true, true, "n?vim", packages, "vim-9.1.0707", true},
                    term_case{true, true, "n?vim", packages, "neovim-0.10.1", false},
                    term_case{true, true, "(neo)?vim", packages, "neovim-0.10.1", true},
                    term_case{true, true, "x(org|cb)", words, "Tools for (XCB) users", true},
                    term_case{true, true, "x(org|cb)", words, "libxcb-1.17 users", false},
                    term_case{true, true, "z.h", path, "/usr/ports/shells/zsh", true},
                    term_case{true, true, "shells/.*", path, "/usr/ports/shells/zsh", true},
                    term_case{true, true, "gitlab\\.com", web, "https://gitlab.com/x", true},
                    term_case{true, true, "x*", words, "(", false},
                    term_case{true, true, "", words, "a", false}));

TEST(term_matcher, an_invalid_expression_gives_the_engines_reason) {
    search_options options;
    options.regular_expression = true;
    for (const char* expression : {"(vim", "[a-", "a{2,1}", "a**"}) {
        std::string error;
        EXPECT_FALSE(term_matcher::make(expression, options, error)) << expression;
        EXPECT_TRUE(error.starts_with("invalid regular expression: ")) << error;
    }
    // Without --regex the same text is a plain term.
    std::string error;
    EXPECT_TRUE(term_matcher::make("(vim", {}, error));
}

} // namespace
