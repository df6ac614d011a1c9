#include <ostream>
#include <string_view>

#include <gtest/gtest.h>

#include "word_match.h"

namespace {

struct word_case {
    field_shape shape;
    std::string_view field;
    std::string_view term;
    bool holds;
    friend void PrintTo(const word_case& c, std::ostream* os) {
        *os << "'" << c.term << "' in '" << c.field << "'";
    }
};

class word_match_test : public testing::TestWithParam<word_case> {};

TEST_P(word_match_test, finds_only_whole_words) {
    const word_case& c = GetParam();
    EXPECT_EQ(holds_word(c.shape, c.field, c.term), c.holds);
}

constexpr auto packages = field_shape::packages;
constexpr auto words = field_shape::words;
constexpr auto path = field_shape::path;
constexpr auto address = field_shape::address;
constexpr auto web = field_shape::web_address;

// The first field and the dependency lists: a name-version matches by its
// name or whole, never by a part of either.
INSTANTIATE_TEST_SUITE_P(
    name_versions, word_match_test,
    testing::Values(word_case{packages, "vim-9.1.0707", "vim", true},
                    word_case{packages, "vim-9.1.0707", "VIM", true},
                    word_case{packages, "vim-9.1.0707", "vim-9.1.0707", true},
                    word_case{packages, "vimbamin-1.0", "vim", false},
                    word_case{packages, "gvim-9.1.0707", "vim", false},
                    word_case{packages, "vim-9.1.0707", "vim-9", false},
                    word_case{packages, "vim-9.1.0707", "9.1.0707", false},
                    word_case{packages, "py311-setuptools-63.1.0_1", "py311-setuptools", true},
                    word_case{packages, "py311-setuptools-63.1.0_1", "setuptools", false},
                    word_case{packages, "gettext-runtime-0.22.5 libxml2-2.11.8", "libxml2", true},
                    word_case{packages, "gettext-runtime-0.22.5 libxml++-2.6", "libxml2", false},
                    word_case{packages, "libxml2-2.11.8", "libxml", false},
                    word_case{packages, "gmake-4.4.1  libxml2-2.11.8 ", "libxml2", true},
                    word_case{packages, "vim", "vim", true},
                    word_case{packages, "vim-9.1.0707", "", false}));

// Comments and categories: words between spaces, with the punctuation around
// them taken off.
INSTANTIATE_TEST_SUITE_P(
    text, word_match_test,
    testing::Values(word_case{words, "Multithreaded SQL database (server)", "server", true},
                    word_case{words, "Multithreaded SQL database (server)", "(server)", true},
                    word_case{words, "Small, fast Emacs-like editor", "small", true},
                    word_case{words, "Small, fast Emacs-like editor", "emacs", false},
                    word_case{words, "Small, fast Emacs-like editor", "emacs-like", true},
                    word_case{words, "Improved version of the vi editor", "vim", false},
                    word_case{words, "Library for C++ programs", "c++", true},
                    word_case{words, "shells", "shells", true},
                    word_case{words, "archivers devel", "devel", true},
                    word_case{words, "archivers devel", "arch", false},
                    word_case{words, "textproc", "text", false},
                    word_case{words, "(.CAB) files", "cab", true},
                    word_case{words, "...", "", false}));

// A port's directory by its last component or last two, and a maintainer by
// the whole address or the part before the "@".
INSTANTIATE_TEST_SUITE_P(
    paths_and_addresses, word_match_test,
    testing::Values(word_case{path, "/usr/ports/shells/zsh", "zsh", true},
                    word_case{path, "/usr/ports/shells/zsh", "shells/zsh", true},
                    word_case{path, "/usr/ports/shells/zsh", "SHELLS/ZSH", true},
                    word_case{path, "/usr/ports/shells/zsh", "/usr/ports/shells/zsh", true},
                    word_case{path, "/usr/ports/shells/zsh/", "shells/zsh", true},
                    word_case{path, "/usr/ports/shells/zsh", "shells", false},
                    word_case{path, "/usr/ports/shells/zsh", "ports/shells/zsh", false},
                    word_case{path, "/usr/ports/shells/zsh-autosuggestions", "zsh", false},
                    word_case{path, "zsh", "zsh", true},
                    word_case{address, "mat@FreeBSD.org", "mat", true},
                    word_case{address, "mat@FreeBSD.org", "MAT@freebsd.org", true},
                    word_case{address, "matthew@FreeBSD.org", "mat", false},
                    word_case{address, "mat@FreeBSD.org", "FreeBSD.org", false},
                    word_case{address, "mat@FreeBSD.org", "mat@", false},
                    word_case{address, "nobody", "nobody", true}));

// A web site: the whole address, or its host with or without "www.".
INSTANTIATE_TEST_SUITE_P(
    web_sites, word_match_test,
    testing::Values(word_case{web, "https://gitlab.com/foo/bar", "gitlab.com", true},
                    word_case{web, "https://www.zsh.org/", "zsh.org", true},
                    word_case{web, "https://www.zsh.org/", "WWW.zsh.org", true},
                    word_case{web, "https://www.zsh.org/", "https://www.zsh.org/", true},
                    word_case{web, "https://www.zsh.org/", "zsh", false},
                    word_case{web, "https://gitlab.com/foo/bar", "foo", false},
                    word_case{web, "https://gitlab.com/foo/bar", "gitlab", false},
                    word_case{web, "http://example.org", "example.org", true},
                    word_case{web, "example.org/x", "example.org", true},
                    word_case{web, "http://me@example.com:8080/foo", "example.com", true},
                    word_case{web, "HTTPS://WWW.Example.COM", "example.com", true},
                    word_case{web, "https://example.com?x=1", "example.com", true},
                    word_case{web, "https://example.com#top", "example.com", true}));

} // namespace
