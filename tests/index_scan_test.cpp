#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "index_lines.h"
#include "index_scan.h"
#include "result_output.h"
#include "searched_fields.h"

using namespace std::string_literals;
using namespace std::string_view_literals;

namespace {

constexpr std::string_view zsh_line =
    "zsh-5.9_5|/usr/ports/shells/zsh|/usr/local|Z shell, the shell|/usr/ports/shells/zsh/pkg-descr|"
    "bapt@FreeBSD.org|shells|autoconf-2.72 pcre2-10.44|pcre2-10.44 libiconv-1.17_1|"
    "https://www.zsh.org/|||";

// --- the scan ---

struct scan_run {
    scan_outcome outcome;
    scan_counters counters;
    std::string out;
    std::vector<std::string> looked_up; // the names asked about, in order
};

// A package database that knows only tmux, at 3.4_1, and records every name
// it is asked about.
installed_version_lookup recording_lookup(std::vector<std::string>& names) {
    return [&names](std::optional<std::string_view> name) -> std::optional<std::string> {
        names.emplace_back(name.value_or("(absent)"));
        return name == "tmux" ? std::optional<std::string>("3.4_1") : std::nullopt;
    };
}

scan_run scan(std::string_view index, std::string_view options, const char* term) {
    const fixture::file_handle file = fixture::stream_with(index);
    fixture::memory_stream out;
    scan_run run;
    const search_options chosen = fixture::options_with(options);
    run.outcome = scan_index(fileno(file.get()), chosen, fixture::criteria_for(term, chosen),
                             run.counters, recording_lookup(run.looked_up), out.get());
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
    EXPECT_EQ(run.looked_up, (std::vector<std::string>{"zsh", "zsh-completions", "oh-my-zsh"}))
        << "each match is looked up by its name, and nothing else is";
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

// A search of the name alone passes over the lines whose name can't hold the
// term without splitting them: it must print, look up and count exactly what
// splitting and matching every line gives.
TEST(scan_index, a_name_search_finds_what_splitting_every_line_finds) {
    namespace lines = fixture::index_lines;
    const std::vector<std::string> index_lines = {
        std::string(zsh_line), std::string(lines::no_build_depends), std::string(lines::no_depends),
        std::string(lines::no_name), std::string(lines::short_line), "", "zsh", "|zsh|zsh",
        // The term only after a field longer than a read: the line ends in a
        // later read than its name.
        "bash-5.2|/usr/ports/shells/bash|" + std::string(std::size_t{300} * 1024, 'x') + "|zsh-5.9",
        "cabextract\0zsh-1.0|/usr/ports/archivers/cabextract"s, "zsh-5.9|/usr/ports/shells/zsh\r",
        "tmux-3.5|/usr/ports/sysutils/tmux", // the last line, without a newline
    };
    std::string index;
    for (const std::string& line : index_lines) {
        index += line + (&line == &index_lines.back() ? "" : "\n");
    }
    for (const char* term : {"zsh", "ZSH", "", "cab", "x", "-", "5.9", "tmux", "a|b"}) {
        std::vector<std::string> expected_looked_up;
        const installed_version_lookup lookup = recording_lookup(expected_looked_up);
        scan_counters expected;
        fixture::memory_stream expected_out;
        for (const std::string& line : index_lines) {
            port_entry entry;
            parse_index_line(entry, line);
            const int found = match_entry(entry, {}, fixture::criteria_for(term));
            expected.matches += static_cast<std::uint64_t>(found);
            if (found > 0) {
                ++expected.results;
                entry.installed_version = lookup(entry.name);
                print_short_result(entry, false, expected_out.output());
            }
        }
        const scan_run run = scan(index, "", term);
        EXPECT_EQ(run.out, expected_out.text()) << "'" << term << "'";
        EXPECT_EQ(run.looked_up, expected_looked_up) << "'" << term << "'";
        EXPECT_EQ(run.counters.results, expected.results) << "'" << term << "'";
        EXPECT_EQ(run.counters.matches, expected.matches) << "'" << term << "'";
        EXPECT_EQ(run.counters.entries, index_lines.size()) << "'" << term << "'";
    }
}

TEST(scan_index, shows_the_installed_version_it_was_given) {
    const scan_run run = scan("tmux-3.5|/usr/ports/sysutils/tmux|/usr/local|Terminal||mat@\n"
                              "tmux-mem-cpu-load-3.8.1|/usr/ports/sysutils/tmux-mem-cpu-load\n",
                              "f", "tmux");
    EXPECT_EQ(run.out, "+ tmux-3.5 (/usr/ports/sysutils/tmux, Version: 3.4_1 [mat@, /usr/local])\n"
                       "- tmux-mem-cpu-load-3.8.1 (/usr/ports/sysutils/tmux-mem-cpu-load, "
                       "Version: n/a [n/a, n/a])\n");
}

TEST(scan_index, looks_nothing_up_without_a_match) {
    const scan_run run = scan(std::string(zsh_line) + "\n|zsh-nameless\n", "", "no-such-port");
    EXPECT_TRUE(run.looked_up.empty());
    const scan_run nameless = scan("|zsh-in-the-path|/usr/local\n", "a", "zsh");
    EXPECT_TRUE(nameless.looked_up.empty()) << "a line without a name never matches";
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
    const int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    scan_counters counters;
    fixture::memory_stream out;
    std::vector<std::string> looked_up;
    const scan_outcome outcome = scan_index(fd, {}, fixture::criteria_for(""), counters,
                                            recording_lookup(looked_up), out.get());
    close(fd);
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
    std::vector<std::string> looked_up;
    const scan_outcome outcome = scan_index(fileno(file.get()), {}, fixture::criteria_for("port"),
                                            counters, recording_lookup(looked_up), full.get());
    EXPECT_EQ(outcome.status, scan_status::write_error);
    EXPECT_EQ(outcome.error, ENOSPC);
    EXPECT_LT(counters.entries, 100000U);
}

} // namespace
