#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "index_lines.h"
#include "index_scan.h"

using namespace std::string_literals;
using namespace std::string_view_literals;

namespace {

std::vector<std::string> read_lines(int fd, std::size_t capacity) {
    line_reader reader(fd, capacity);
    std::vector<std::string> lines;
    while (const auto line = reader.next()) {
        lines.emplace_back(*line);
    }
    EXPECT_EQ(reader.error(), 0);
    return lines;
}

struct reader_case {
    const char* label;
    std::string content;
    std::vector<std::string> lines;
    friend void PrintTo(const reader_case& c, std::ostream* os) { *os << c.label; }
};

class line_reader_test : public testing::TestWithParam<reader_case> {};

// Every case runs with a buffer far smaller than its lines too, so that lines
// straddle reads and the buffer has to grow.
TEST_P(line_reader_test, yields_each_line_whole) {
    const reader_case& c = GetParam();
    for (const std::size_t capacity : {std::size_t{1}, std::size_t{3}, std::size_t{128} * 1024}) {
        const fixture::file_handle file = fixture::stream_with(c.content);
        EXPECT_EQ(read_lines(fileno(file.get()), capacity), c.lines)
            << c.label << ", buffer of " << capacity;
    }
}

INSTANTIATE_TEST_SUITE_P(
    contents, line_reader_test,
    testing::Values(reader_case{"empty file", "", {}},
                    reader_case{"three lines", "a|b\nc|d\ne\n", {"a|b", "c|d", "e"}},
                    reader_case{"last line without newline", "a\nbc", {"a", "bc"}},
                    reader_case{"empty lines count", "\n\na\n\n", {"", "", "a", ""}},
                    reader_case{"CR stays", "a\r\nb\r\n", {"a\r", "b\r"}},
                    reader_case{"NUL and 0xFF are content", "a\0b\xff\nc\n"s, {"a\0b\xff"s, "c"}},
                    reader_case{"a long line",
                                std::string(100000, 'x') + "\ny",
                                {std::string(100000, 'x'), "y"}}));

// The scan's way: each line split as it is found. Whatever the reads, every
// line splits as it does alone: lines and fields that straddle a read or a
// 64-byte block, a line that outgrows the buffer, a NUL, a last line without
// a newline.
TEST(line_reader, splits_each_line_as_it_splits_alone) {
    std::string content;
    std::vector<std::string> lines;
    std::mt19937 random(7); // NOLINT(cert-msc32-c,cert-msc51-cpp): repeatable on purpose
    for (int i = 0; i < 60; ++i) {
        std::string line = "port" + std::to_string(i) + "-1." + std::to_string(i);
        const int fields = static_cast<int>(random() % 15);
        for (int f = 0; f < fields; ++f) {
            line += (random() % 4 == 0 ? "||" : "|") +
                    std::string(random() % 150, static_cast<char>('a' + f));
        }
        if (i == 30) {
            line += std::string(1, '\0') + "|after-a-nul";
        }
        lines.push_back(line);
        content += line + (i + 1 < 60 ? "\n" : "");
    }
    for (const std::size_t capacity : {std::size_t{1}, std::size_t{7}, std::size_t{64},
                                       std::size_t{100}, std::size_t{128} * 1024}) {
        const fixture::file_handle file = fixture::stream_with(content);
        line_reader reader(fileno(file.get()), capacity);
        port_entry entry;
        std::size_t count = 0;
        while (const auto line = reader.next([&entry](delimiter_cursor& cursor) {
            return parse_index_line(entry, cursor);
        })) {
            ASSERT_LT(count, lines.size());
            EXPECT_EQ(*line, lines[count]) << "buffer of " << capacity;
            port_entry alone;
            parse_index_line(alone, lines[count]);
            EXPECT_EQ(entry.full_name, alone.full_name);
            EXPECT_EQ(entry.path, alone.path);
            EXPECT_EQ(entry.comment, alone.comment);
            EXPECT_EQ(entry.run_depends, alone.run_depends);
            ++count;
        }
        EXPECT_EQ(count, lines.size()) << "buffer of " << capacity;
        EXPECT_EQ(reader.error(), 0);
    }
}

TEST(line_reader, reads_from_a_pipe) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer([fd = fds[1]] {
        for (int i = 0; i < 1000; ++i) {
            const std::string line = "port" + std::to_string(i) + "-1.0|/usr/ports/misc/p\n";
            EXPECT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        }
        close(fd);
    });
    const std::vector<std::string> lines = read_lines(fds[0], 64);
    writer.join();
    close(fds[0]);
    ASSERT_EQ(lines.size(), 1000U);
    EXPECT_EQ(lines[999], "port999-1.0|/usr/ports/misc/p");
}

TEST(line_reader, reports_a_read_error) {
    const fixture::temp_dir dir;
    const int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    line_reader reader(fd);
    EXPECT_FALSE(reader.next());
    EXPECT_EQ(reader.error(), EISDIR);
    close(fd);
}

// --- the case-insensitive search ---

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

// --- matching ---

constexpr std::string_view zsh_line =
    "zsh-5.9_5|/usr/ports/shells/zsh|/usr/local|Z shell, the shell|/usr/ports/shells/zsh/pkg-descr|"
    "bapt@FreeBSD.org|shells|autoconf-2.72 pcre2-10.44|pcre2-10.44 libiconv-1.17_1|"
    "https://www.zsh.org/|||";

search_options with(std::string_view letters) {
    search_options o;
    for (const char letter : letters) {
        switch (letter) {
        case 'd':
            o.search_description = true;
            break;
        case 'p':
            o.search_path = true;
            break;
        case 'm':
            o.search_maintainer = true;
            break;
        case 'D':
            o.search_depends = true;
            break;
        case 'a':
            o.search_description = o.search_path = o.search_maintainer = o.search_depends = true;
            break;
        default:
            break;
        }
    }
    return o;
}

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
    EXPECT_EQ(match_entry(entry, with(c.options), c.term), c.tests_found)
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
    EXPECT_EQ(match_entry(entry, with("a"), ""), 0);
    parse_index_line(entry, "foo-1.0");
    EXPECT_EQ(match_entry(entry, with("a"), ""), 1);
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
        EXPECT_EQ(match_entry(entry, with(p.options), p.term), p.tests_found)
            << "-" << p.options << " '" << p.term << "' in " << p.line;
    }
}

// --- the scan ---

struct scan_run {
    scan_outcome outcome;
    scan_counters counters;
    std::string out;
};

scan_run scan(std::string_view index, std::string_view options, const char* term) {
    const fixture::file_handle file = fixture::stream_with(index);
    fixture::memory_stream out;
    scan_run run;
    package_db database("/nonexistent/local.sqlite");
    run.outcome = scan_index(file.get(), with(options), term, run.counters, database, out.get());
    run.out = out.text();
    return run;
}

TEST(scan_index, prints_every_match_in_index_order_and_counts) {
    const std::string index = "zsh-5.9|/usr/ports/shells/zsh\n"
                              "\n"
                              "bash-5.2|/usr/ports/shells/bash\n"
                              "zsh-completions-0.35|/usr/ports/shells/zsh-completions\n"
                              "oh-my-zsh-1|/usr/ports/shells/oh-my-zsh"; // no final newline
    const scan_run run = scan(index, "", "zsh");
    EXPECT_EQ(run.outcome.status, scan_status::complete);
    EXPECT_EQ(run.out, "- zsh-5.9 (/usr/ports/shells/zsh)\n"
                       "- zsh-completions-0.35 (/usr/ports/shells/zsh-completions)\n"
                       "- oh-my-zsh-1 (/usr/ports/shells/oh-my-zsh)\n");
    EXPECT_EQ(run.counters.results, 3U);
    EXPECT_EQ(run.counters.matches, 3U);
    EXPECT_EQ(run.counters.entries, 5U);
}

TEST(scan_index, counts_field_matches_separately_from_results) {
    const std::string index = std::string(zsh_line) + "\n" + std::string(zsh_line) + "\n";
    const scan_run depends = scan(index, "D", "pcre2");
    EXPECT_EQ(depends.counters.results, 2U);
    EXPECT_EQ(depends.counters.matches, 4U);
    const scan_run maintainer_only = scan(index, "", "bapt");
    EXPECT_EQ(maintainer_only.counters.results, 0U);
    EXPECT_EQ(maintainer_only.counters.entries, 2U);
    EXPECT_EQ(maintainer_only.out, "");
}

TEST(scan_index, counts_an_empty_index_as_no_entries) {
    const scan_run run = scan("", "a", "");
    EXPECT_EQ(run.outcome.status, scan_status::complete);
    EXPECT_EQ(run.counters.entries, 0U);
    EXPECT_EQ(run.out, "");
}

TEST(scan_index, reads_past_a_nul_byte_to_the_next_line) {
    const scan_run run = scan("a-1|x\0zsh|y\nzsh-5.9|p\n"s, "a", "zsh");
    EXPECT_EQ(run.counters.entries, 2U);
    EXPECT_EQ(run.counters.results, 1U);
    EXPECT_EQ(run.out, "- zsh-5.9 (p)\n");
}

TEST(scan_index, stops_at_a_read_error) {
    const fixture::temp_dir dir;
    const fixture::file_handle file(std::fopen(dir.path().c_str(), "r"));
    ASSERT_TRUE(file);
    scan_counters counters;
    fixture::memory_stream out;
    package_db database("/nonexistent/local.sqlite");
    const scan_outcome outcome = scan_index(file.get(), {}, "", counters, database, out.get());
    EXPECT_EQ(outcome.status, scan_status::read_error);
    EXPECT_EQ(outcome.error, EISDIR);
}

TEST(scan_index, stops_at_the_first_failed_write) {
    std::string index;
    for (int i = 0; i < 100000; ++i) {
        index += "port-" + std::to_string(i) + "|/usr/ports/misc/port\n";
    }
    const fixture::file_handle file = fixture::stream_with(index);
    const fixture::file_handle full(std::fopen("/dev/full", "w"));
    ASSERT_TRUE(full);
    scan_counters counters;
    package_db database("/nonexistent/local.sqlite");
    const scan_outcome outcome = scan_index(file.get(), {}, "port", counters, database, full.get());
    EXPECT_EQ(outcome.status, scan_status::write_error);
    EXPECT_EQ(outcome.error, ENOSPC);
    EXPECT_LT(counters.entries, 100000U);
}

} // namespace
