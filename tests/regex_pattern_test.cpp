#include <cctype>
#include <ostream>
#include <random>
#include <regex.h>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "regex_pattern.h"
#include "text_search.h"

namespace {

using namespace std::string_view_literals;

regex_pattern compiled(std::string_view expression) {
    regex_compile_result result = regex_pattern::compile(expression);
    if (!result.pattern) {
        ADD_FAILURE() << "'" << expression << "': " << result.error;
        return std::move(*regex_pattern::compile("").pattern);
    }
    EXPECT_EQ(result.error, "");
    return std::move(*result.pattern);
}

struct match_case {
    std::string_view expression;
    std::string_view text;
    bool found;
    bool whole;
    friend void PrintTo(const match_case& c, std::ostream* os) {
        *os << "'" << c.expression << "' on '" << c.text << "'";
    }
};

class regex_match_test : public testing::TestWithParam<match_case> {};

TEST_P(regex_match_test, finds_and_matches_whole) {
    const match_case& c = GetParam();
    const regex_pattern pattern = compiled(c.expression);
    EXPECT_EQ(pattern.found_in(c.text), c.found) << "translated: " << pattern.translated();
    EXPECT_EQ(pattern.matches_whole(c.text), c.whole) << "translated: " << pattern.translated();
    // The match data is reused: a second call answers the same.
    EXPECT_EQ(pattern.found_in(c.text), c.found);
}

INSTANTIATE_TEST_SUITE_P(plain_and_case, regex_match_test,
                         testing::Values(match_case{"zsh", "zsh-5.9_5", true, false},
                                         match_case{"zsh", "oh-my-zsh-g20240822", true, false},
                                         match_case{"ZSH", "zsh-5.9", true, false},
                                         match_case{"zsh", "ZSH", true, true},
                                         match_case{"zsh", "bash-5.2", false, false},
                                         match_case{"", "anything", true, false},
                                         match_case{"", "", true, true},
                                         match_case{"a", "", false, false},
                                         // ASCII letters only fold: not Latin-1's Ä and ä.
                                         match_case{"\xC4", "\xE4", false, false},
                                         match_case{"\xC4", "\xC4", true, true}));

INSTANTIATE_TEST_SUITE_P(
    anchors, regex_match_test,
    testing::Values(
        match_case{"^py3[0-9]+-", "py311-requests-2.32.3", true, false},
        match_case{"^py3[0-9]+-", "PY39-foo-1.0", true, false},
        match_case{"^py3[0-9]+-", "py3-foo-1.0", false, false},
        match_case{"^py3[0-9]+-", "rubygem-py311-1.0", false, false},
        match_case{"_5$", "zsh-5.9_5", true, false}, match_case{"_5$", "zsh-5.9_51", false, false},
        match_case{"^zsh$", "zsh", true, true}, match_case{"^zsh$", "zsh-5.9", false, false},
        match_case{"a^b", "a^b", false, false}, match_case{"a$b", "a$b", false, false}));

INSTANTIATE_TEST_SUITE_P(
    classes, regex_match_test,
    testing::Values(match_case{"[0-9]", "vim-9.1", true, false},
                    match_case{"[0-9]", "vim", false, false},
                    match_case{"[[:digit:]]+", "2024", true, true},
                    match_case{"[[:alpha:]]", "123", false, false},
                    match_case{"[[:alpha:]]", "\xE4", false, false},
                    match_case{"[[:upper:]]", "x", true, true}, // case is ignored
                    match_case{"[^a-z]", "ABC", false, false},
                    match_case{"[^a-z]", "abc-", true, false}, match_case{"[]x]", "]", true, true},
                    match_case{"[^]x]", "]", false, false}, match_case{"[a-]", "-", true, true},
                    match_case{"[-a]", "-", true, true}, match_case{"[!--]", ",", true, true},
                    // A backslash in brackets is itself.
                    match_case{"[\\.]", "\\", true, true}, match_case{"[\\.]", ".", true, true},
                    match_case{"[\\d]", "1", false, false}, match_case{"[[.-.]]", "-", true, true},
                    match_case{"[[=e=]]", "E", true, true},
                    match_case{"[[:<:]]vim[[:>:]]", "a vim editor", true, false},
                    match_case{"[[:<:]]vim[[:>:]]", "neovim", false, false},
                    match_case{"[[:<:]]vim[[:>:]]", "vim_x", false, false},
                    match_case{"[[:<:]]vim[[:>:]]", "vim", true, true}));

INSTANTIATE_TEST_SUITE_P(alternation_and_groups, regex_match_test,
                         testing::Values(match_case{"^(vim|neovim)-", "neovim-0.10.1", true, false},
                                         match_case{"^(vim|neovim)-", "vim-9.1", true, false},
                                         match_case{"^(vim|neovim)-", "gvim-9.1", false, false},
                                         match_case{"(vim|emacs)", "xemacs-21", true, false},
                                         match_case{"vim|emacs", "emacs", true, true},
                                         match_case{"vim|emacs", "vimacs", true, false},
                                         match_case{"(a|b)c", "bc", true, true},
                                         match_case{"()", "x", true, false},
                                         match_case{"a|", "x", true, false}));

INSTANTIATE_TEST_SUITE_P(
    quantifiers_and_escapes, regex_match_test,
    testing::Values(match_case{"ab?c", "ac", true, true}, match_case{"ab*c", "abbbc", true, true},
                    match_case{"ab+c", "ac", false, false}, match_case{"a{2,3}", "aa", true, true},
                    match_case{"a{2,3}", "aaaa", true, false},
                    match_case{"a{2}", "a", false, false}, match_case{"a{2,}", "aaaaa", true, true},
                    match_case{"a{,2}", "a{,2}", true, true}, // { before no digit is itself
                    match_case{"{x", "{x", true, true}, match_case{"\\.", "a.b", true, false},
                    match_case{"\\.", "ab", false, false}, match_case{"\\(", "(", true, true},
                    match_case{"a.c", "a\nc", true, true}));

// Texts hold any bytes: NUL, bytes that aren't UTF-8, newlines.
INSTANTIATE_TEST_SUITE_P(bytes, regex_match_test,
                         testing::Values(match_case{"b", "a\0b"sv, true, false},
                                         match_case{"a.b", "a\0b"sv, true, true},
                                         match_case{"a$", "a\0"sv, false, false},
                                         match_case{"c$", "abc\n", false, false},
                                         match_case{"\xFF", "\xC3\xFF\x80", true, false},
                                         match_case{"[\x80-\xFF]+", "\xC3\xFF\x80", true, true},
                                         match_case{"^.{3}$", "\xC3\xFF\x80", true, true}));

TEST(regex_pattern, a_nul_in_the_expression_is_itself) {
    const regex_pattern pattern = compiled("a\0b"sv);
    EXPECT_TRUE(pattern.found_in("xa\0bx"sv));
    EXPECT_FALSE(pattern.found_in("ab"));
}

TEST(regex_pattern, catastrophic_backtracking_is_answered) {
    const regex_pattern pattern = compiled("(a|a)*x");
    const std::string text = std::string(40, 'a') + "yx";
    EXPECT_TRUE(pattern.found_in(text));
    EXPECT_FALSE(pattern.matches_whole(text));
    EXPECT_FALSE(compiled("(a|a)*ax").found_in(std::string(40, 'a') + "y"));
    // Past the backtracking limit on long texts, at the start, the end or
    // nowhere: the DFA matcher's one pass answers each.
    std::string pairs;
    for (int i = 0; i < 100000; ++i) {
        pairs += "ab";
    }
    EXPECT_TRUE(compiled("(a|b)+!x$").found_in(pairs + "!x"));
    EXPECT_FALSE(compiled("(a|b)+!y$").found_in(pairs + "!x"));
    EXPECT_TRUE(compiled("^(a|b)+!x").found_in(pairs + "!x"));
    EXPECT_FALSE(compiled("(a|a)*b").found_in(std::string(200000, 'a')));
    EXPECT_TRUE(compiled("(a|a)*b").found_in(std::string(200000, 'a') + "b"));
}

TEST(regex_pattern, long_texts) {
    const std::string text = std::string(1 << 20, 'q') + "zsh";
    EXPECT_TRUE(compiled("zsh$").found_in(text));
    EXPECT_TRUE(compiled("^q+zsh$").matches_whole(text));
}

struct invalid_case {
    std::string_view expression;
    std::string_view reason; // as PCRE2 words it, or vandrel where PCRE2 has none
    std::size_t offset;
    friend void PrintTo(const invalid_case& c, std::ostream* os) {
        *os << "'" << c.expression << "'";
    }
};

class regex_invalid_test : public testing::TestWithParam<invalid_case> {};

TEST_P(regex_invalid_test, says_why_and_where) {
    const invalid_case& c = GetParam();
    const regex_compile_result result = regex_pattern::compile(c.expression);
    EXPECT_FALSE(result.pattern.has_value());
    EXPECT_EQ(result.error, "invalid regular expression: " + std::string(c.reason) + " at offset " +
                                std::to_string(c.offset));
}

INSTANTIATE_TEST_SUITE_P(
    errors, regex_invalid_test,
    testing::Values(
        invalid_case{"(", "missing closing parenthesis", 1},
        invalid_case{"(vim", "missing closing parenthesis", 4},
        invalid_case{"((a)", "missing closing parenthesis", 4},
        invalid_case{"vim)", "unmatched closing parenthesis", 3},
        invalid_case{"[a-", "missing terminating ] for character class", 3},
        invalid_case{"[abc", "missing terminating ] for character class", 4},
        invalid_case{"[z-a]", "range out of order in character class", 3},
        invalid_case{"[[:word:]]", "unknown POSIX class name", 1},
        invalid_case{"[[:alpha:]", "missing terminating ] for character class", 10},
        invalid_case{"[[.space.]]", "POSIX collating elements are not supported", 1},
        invalid_case{"a{2,1}", "numbers out of order in {} quantifier", 1},
        invalid_case{"a{256}", "number too big in {} quantifier", 2},
        invalid_case{"a{1", "missing } at the end of a {} quantifier", 3},
        invalid_case{"a{1,x}", "missing } at the end of a {} quantifier", 4},
        invalid_case{"\\d", "a backslash before a letter or digit is no escape here", 0},
        invalid_case{"vim\\b", "a backslash before a letter or digit is no escape here", 3},
        invalid_case{"(a)\\1", "a backslash before a letter or digit is no escape here", 3},
        invalid_case{"*", "quantifier does not follow a repeatable item", 0},
        invalid_case{"+a", "quantifier does not follow a repeatable item", 0},
        invalid_case{"{1}", "quantifier does not follow a repeatable item", 0},
        invalid_case{"a**", "quantifier does not follow a repeatable item", 2},
        invalid_case{"a+?", "quantifier does not follow a repeatable item", 2},
        invalid_case{"a*+", "quantifier does not follow a repeatable item", 2},
        invalid_case{"(*UTF)", "quantifier does not follow a repeatable item", 1},
        invalid_case{"(?:a)", "quantifier does not follow a repeatable item", 1},
        invalid_case{"x|*", "quantifier does not follow a repeatable item", 2},
        invalid_case{"^*", "quantifier does not follow a repeatable item", 1},
        invalid_case{"a\\", "\\ at end of pattern", 1}));

TEST(regex_pattern, nesting_past_pcre2s_limit_is_its_error_at_the_expressions_offset) {
    const std::string expression = std::string(300, '(') + "a" + std::string(300, ')');
    const regex_compile_result result = regex_pattern::compile(expression);
    ASSERT_FALSE(result.pattern.has_value());
    EXPECT_NE(result.error.find("parentheses are too deeply nested"), std::string::npos)
        << result.error;
    EXPECT_NE(result.error.find(" at offset "), std::string::npos);
}

struct literal_case {
    std::string_view expression;
    std::string_view literal;
    friend void PrintTo(const literal_case& c, std::ostream* os) {
        *os << "'" << c.expression << "'";
    }
};

class regex_literal_test : public testing::TestWithParam<literal_case> {};

TEST_P(regex_literal_test, is_held_by_every_match) {
    const literal_case& c = GetParam();
    EXPECT_EQ(compiled(c.expression).required_literal(), c.literal);
}

INSTANTIATE_TEST_SUITE_P(
    literals, regex_literal_test,
    testing::Values(
        literal_case{"", ""}, literal_case{"zsh", "zsh"},
        literal_case{"ZSH", "ZSH"}, // compared without regard to case
        // anchors are zero width: the run goes on
        literal_case{"^zsh$", "zsh"}, literal_case{"^py3[0-9]+-", "py3"}, literal_case{"x^y", "xy"},
        // classes and . end a run
        literal_case{"ab[0-9]cde", "cde"}, literal_case{"abc.de", "abc"},
        literal_case{"[[:digit:]]", ""}, literal_case{"[[:<:]]vim[[:>:]]", "vim"},
        // alternation outside groups: nothing is required
        literal_case{"vim|emacs", ""}, literal_case{"abc|d", ""},
        // groups end a run and give nothing
        literal_case{"^(vim|neovim)-", "-"}, literal_case{"x(abc)yz", "yz"},
        literal_case{"(abc)", ""}, literal_case{"lib(xml|xslt)2-devel", "2-devel"},
        // quantifiers: ?, * and {0,...} drop the character, + and
        // {1,...} keep it and end the run
        literal_case{"colou?r", "colo"}, literal_case{"ab*cd", "cd"}, literal_case{"abc+de", "abc"},
        literal_case{"abc{0,2}de", "ab"}, literal_case{"abc{2}de", "abc"},
        literal_case{"ab{1,}", "ab"}, literal_case{"x(ab)*yz", "yz"},
        // escapes are literals
        literal_case{"\\.tar\\.gz", ".tar.gz"}, literal_case{"a\\*b", "a*b"},
        literal_case{"\\[x\\]", "[x]"}, literal_case{"p5-\\.", "p5-."}, literal_case{"{x", "{x"}));

TEST(regex_pattern, required_literals_hold_nul) {
    EXPECT_EQ(compiled("a\0b"sv).required_literal(), "a\0b"sv);
}

// Random short expressions and texts over a small alphabet: where the
// system's regex(3) compiles an expression too, both find the same texts
// (glibc's meanings of a backslash before a letter, such as \B, aside, and brackets with
// ranges, which glibc folds differently under REG_ICASE); and every text
// found holds the required literal.
TEST(regex_pattern, agrees_with_regex3_and_its_literal_holds) {
    std::mt19937 random(7); // NOLINT(cert-msc32-c,cert-msc51-cpp): the same run every time
    const std::string_view alphabet = "abAB()|*+?[]^$.\\:";
    const std::string_view text_alphabet = "abAB-[]\\.x";
    int compared = 0;
    for (int n = 0; n < 30000; ++n) {
        std::string expression;
        for (std::size_t length = random() % 7 + 1; length > 0; --length) {
            expression += alphabet[random() % alphabet.size()];
        }
        const regex_compile_result ours = regex_pattern::compile(expression);
        regex_t theirs;
        if (!ours.pattern ||
            regcomp(&theirs, expression.c_str(), REG_EXTENDED | REG_ICASE | REG_NOSUB) != 0) {
            continue;
        }
        bool gnu_escape = false; // \a, \b, \B, \w ... mean something else to glibc
        for (std::size_t at = 0; at + 1 < expression.size(); ++at) {
            gnu_escape =
                gnu_escape || (expression[at] == '\\' &&
                               std::isalpha(static_cast<unsigned char>(expression[at + 1])));
        }
        for (int t = 0; t < 10; ++t) {
            std::string text;
            for (std::size_t length = random() % 6; length > 0; --length) {
                text += text_alphabet[random() % text_alphabet.size()];
            }
            const bool found = ours.pattern->found_in(text);
            if (!gnu_escape) {
                EXPECT_EQ(found, regexec(&theirs, text.c_str(), 0, nullptr, 0) == 0)
                    << "'" << expression << "' on '" << text << "'";
                ++compared;
            }
            if (found) {
                EXPECT_TRUE(contains_ignoring_case(text, ours.pattern->required_literal()))
                    << "'" << expression << "' on '" << text << "'";
            }
        }
        regfree(&theirs);
    }
    EXPECT_GT(compared, 50000);
}

// PCRE2 sees ERE in its own syntax: no capture, literals escaped.
TEST(regex_pattern, translation) {
    EXPECT_EQ(compiled("^(vim|neovim)-").translated(), "^(?:vim|neovim)\\-");
    EXPECT_EQ(compiled("[\\.]").translated(), "[\\\\\\.]");
    EXPECT_EQ(compiled("a{2,}b{1,3}c{4}").translated(), "a{2,}b{1,3}c{4}");
    EXPECT_EQ(compiled("\xE4 ").translated(), "\\x{e4}\\x{20}");
}

} // namespace
