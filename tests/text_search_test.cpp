#include <cctype>
#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "text_search.h"

namespace {

struct contains_case {
    std::string_view haystack;
    std::string_view needle;
    bool found;
    friend void PrintTo(const contains_case& c, std::ostream* os) {
        *os << "'" << c.needle << "' in '" << c.haystack << "'";
    }
};

class contains_test : public testing::TestWithParam<contains_case> {};

TEST_P(contains_test, finds_what_strcasestr_finds) {
    const contains_case& c = GetParam();
    EXPECT_EQ(contains_ignoring_case(c.haystack, c.needle), c.found)
        << "'" << c.needle << "' in '" << c.haystack << "'";
}

INSTANTIATE_TEST_SUITE_P(
    cases, contains_test,
    testing::Values(contains_case{"zsh-5.9", "ZSH", true}, contains_case{"zsh-5.9", "5.9", true},
                    contains_case{"zsh-5.9", "", true}, contains_case{"", "", true},
                    contains_case{"", "a", false}, contains_case{"zs", "zsh", false},
                    contains_case{"ZSH", "zsh", true}, contains_case{"xxZsH", "zSh", true},
                    contains_case{"zzzzzsh", "zzsh", true}, contains_case{"aAaAb", "AAB", true},
                    contains_case{"abc", "abd", false}, contains_case{"a[b", "A{B", false},
                    contains_case{"\xc3\x84rger", "\xc3\xa4rger", false},
                    contains_case{"caf\xc3\xa9", "CAF\xc3\xa9", true},
                    contains_case{"a@b", "`", false}, contains_case{"x|y", "|", true},
                    contains_case{"tail", "l", true}, contains_case{"tail", "L", true}));

// Every byte against every byte, alone and inside others: the fold must be
// ASCII's and nothing more, for the bytes above 127 too, as strcasestr's is
// in the C locale.
TEST(contains_ignoring_case, agrees_with_strcasestr_on_every_pair_of_bytes) {
    int disagreements = 0;
    for (int h = 1; h < 256; ++h) {
        for (int n = 1; n < 256; ++n) {
            const std::string haystack = {'.', static_cast<char>(h), '.'};
            const std::string needle(1, static_cast<char>(n));
            const std::string longer = "." + needle; // the comparison after a first match
            const bool expected = strcasestr(haystack.c_str(), needle.c_str()) != nullptr;
            const bool expected_longer = strcasestr(haystack.c_str(), longer.c_str()) != nullptr;
            if (contains_ignoring_case(haystack, needle) != expected ||
                contains_ignoring_case(haystack, longer) != expected_longer) {
                ADD_FAILURE() << "byte " << n << " in byte " << h << ": strcasestr says "
                              << expected << ", and " << expected_longer << " after a dot";
                if (++disagreements == 10) {
                    return;
                }
            }
        }
    }
}

TEST(contains_ignoring_case, agrees_with_strcasestr_on_random_text) {
    std::mt19937 random(20100830); // NOLINT(cert-msc32-c,cert-msc51-cpp): repeatable on purpose
    const std::string alphabet = "aAbBzZ@[`{-_.09\xff";
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<std::size_t> haystack_length(0, 120); // both search paths
    std::uniform_int_distribution<std::size_t> needle_length(0, 4);
    const auto text = [&](std::size_t length) {
        std::string s;
        for (std::size_t i = 0; i < length; ++i) {
            s += alphabet[pick(random)];
        }
        return s;
    };
    for (int i = 0; i < 20000; ++i) {
        const std::string haystack = text(haystack_length(random));
        const std::string needle = text(needle_length(random));
        ASSERT_EQ(contains_ignoring_case(haystack, needle),
                  strcasestr(haystack.c_str(), needle.c_str()) != nullptr)
            << "'" << needle << "' in '" << haystack << "'";
    }
}

// Long needles go through a linear-time search; over a tiny alphabet they are
// periodic, the case that search has to get right, and half of them are cut
// from the haystack (with their case changed) so that matches are common.
TEST(contains_ignoring_case, agrees_with_strcasestr_on_long_periodic_needles) {
    std::mt19937 random(1995); // NOLINT(cert-msc32-c,cert-msc51-cpp): repeatable on purpose
    const std::string alphabet = "aAb";
    const auto below = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    for (int i = 0; i < 20000; ++i) {
        std::string haystack;
        for (std::size_t k = below(400); k > 0; --k) {
            haystack += alphabet[below(alphabet.size())];
        }
        std::string needle;
        const std::size_t length = 32 + below(40);
        if (below(2) == 0 && haystack.size() >= length) {
            needle = haystack.substr(below(haystack.size() - length + 1), length);
            for (char& ch : needle) {
                ch = below(2) == 0 ? static_cast<char>(std::toupper(ch)) : ch;
            }
        } else {
            for (std::size_t k = 0; k < length; ++k) {
                needle += alphabet[below(alphabet.size())];
            }
        }
        ASSERT_EQ(contains_ignoring_case(haystack, needle),
                  strcasestr(haystack.c_str(), needle.c_str()) != nullptr)
            << "'" << needle << "' in '" << haystack << "'";
    }
}

// Comparing a long needle whole at every candidate would take hours here; a
// hang shows as the test's timeout.
TEST(contains_ignoring_case, stays_linear_on_a_hostile_needle) {
    const std::string haystack(std::size_t{4} << 20, 'a');
    EXPECT_FALSE(contains_ignoring_case(haystack, std::string(40000, 'A') + "b"));
    EXPECT_TRUE(contains_ignoring_case(haystack + "b", std::string(40000, 'A') + "B"));
    EXPECT_FALSE(contains_ignoring_case(haystack, "b" + std::string(40000, 'A')));
}

} // namespace
