#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "cli.h"
#include "fixtures.h"
#include "getopt_restart.h"

namespace {

// The flags of search_options in a fixed order, as letters, for comparing;
// the long options' flags as capitals: Categories, Word, Installed,
// Outdated, Json, Www (whole words: w), Pkg-descr, Regex, Moved, Status.
std::string flags_of(const search_options& o) {
    std::string flags;
    const std::pair<bool, char> all[] = {
        {o.search_description, 'd'}, {o.search_path, 'p'},       {o.search_maintainer, 'm'},
        {o.search_depends, 'D'},     {o.show_details, 'f'},      {o.long_format, 'n'},
        {o.show_counts, 'r'},        {o.search_categories, 'C'}, {o.whole_word, 'w'},
        {o.only_installed, 'I'},     {o.only_outdated, 'O'},     {o.json_output, 'J'},
        {o.search_web_site, 'W'},    {o.search_pkg_descr, 'P'},  {o.regular_expression, 'R'},
        {o.show_moved, 'M'},         {o.show_status, 'S'}};
    for (const auto& [set, letter] : all) {
        if (set) {
            flags += letter;
        }
    }
    return flags;
}

// The run modes as letters: search, help, Long options with the help,
// version.
char mode_letter(run_mode mode) {
    switch (mode) {
    case run_mode::search:
        return 's';
    case run_mode::help:
        return 'h';
    case run_mode::help_with_long_options:
        return 'L';
    case run_mode::version:
        return 'v';
    }
    return '?';
}

struct parse_case {
    std::vector<std::string> args;
    char mode;         // in mode_letter's letters
    std::string flags; // the flags set, in flags_of's order
    int first_operand; // in the argument vector, the program's name at 0
    int operand_count;
    std::optional<std::string> index_file = std::nullopt;
    std::vector<std::string> excluded = {};
};

// Each case parses after the one before, getopt_long started over between
// them as a second run of the program would start it.
TEST(parse_command_line, sets_flags_and_stops_at_the_first_operand) {
    testing::internal::CaptureStderr(); // getopt's own diagnostics
    for (const parse_case& c : {
             parse_case{{}, 'h', "", 1, 0},
             parse_case{{"zsh"}, 's', "", 1, 1},
             parse_case{{"-a", "zsh"}, 's', "dpmD", 2, 1},
             parse_case{{"-nfr", "zsh"}, 's', "fnr", 2, 1},
             parse_case{{"-d", "-p", "-m", "-D", "zsh"}, 's', "dpmD", 5, 1},
             parse_case{{"zsh", "-n"}, 'h', "", 1, 2},
             parse_case{{"--", "-n"}, 's', "", 2, 1},
             parse_case{{"-h"}, 'h', "", 2, 0},
             parse_case{{"-h", "zsh"}, 'h', "", 2, 1},
             parse_case{{"-x", "zsh"}, 'h', "", 2, 1},
             parse_case{{"-hv", "zsh", "bash"}, 'v', "", 2, 2},
             parse_case{{"--categories", "--word", "-a", "zsh"}, 's', "dpmDCw", 4, 1},
             parse_case{{"--installed", "--outdated", "--json", "-r", "zsh"}, 's', "rIOJ", 5, 1},
             parse_case{{"--inst", "--out", "zsh"}, 's', "IO", 3, 1},
             parse_case{{"--help"}, 'L', "", 2, 0},
             parse_case{{"-h", "--help", "zsh"}, 'L', "", 3, 1},
             parse_case{{"--version", "zsh"}, 'v', "", 2, 1},
             parse_case{{"--help", "-v"}, 'v', "", 3, 0},
             parse_case{{"--bogus", "zsh"}, 'h', "", 2, 1},
             parse_case{{"--index", "/tmp/INDEX", "zsh"}, 's', "", 3, 1, "/tmp/INDEX"},
             parse_case{{"--index=-", "zsh"}, 's', "", 2, 1, "-"},
             parse_case{{"--index", "a", "--index", "b", "zsh"}, 's', "", 5, 1, "b"},
             parse_case{{"--index"}, 'h', "", 2, 0},
             parse_case{{"zsh", "--json"}, 'h', "", 1, 2},
             parse_case{{"--", "--json"}, 's', "", 2, 1},
             parse_case{{"--www", "--pkg-descr", "--regex", "--moved", "--status", "x"},
                        's',
                        "WPRMS",
                        6,
                        1},
             parse_case{{"--exclude", "php", "--excl=pecl", "--exclude", "", "x"},
                        's',
                        "",
                        6,
                        1,
                        std::nullopt,
                        {"php", "pecl", ""}},
             parse_case{{"--exclude"}, 'h', "", 2, 0},
         }) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "vandrel");
        std::vector<char*> argv = fixture::c_strings(args);
        fixture::restart_getopt();
        const command_line parsed = parse_command_line(static_cast<int>(args.size()), argv.data());
        const std::string label = testing::PrintToString(c.args);
        // The command line owns what it holds: the arguments go first.
        args.assign(args.size(), std::string(40, '#'));
        EXPECT_EQ(mode_letter(parsed.mode), c.mode) << label;
        EXPECT_EQ(flags_of(parsed.options), c.flags) << label;
        if (parsed.mode == run_mode::search) {
            EXPECT_EQ(parsed.search_term, c.args.back()) << label;
        }
        EXPECT_EQ(parsed.first_operand, c.first_operand) << label;
        EXPECT_EQ(parsed.operand_count, c.operand_count) << label;
        EXPECT_EQ(parsed.index_file, c.index_file) << label;
        EXPECT_EQ(parsed.excluded_terms, c.excluded) << label;
    }
    // The wording, and the program's name before it, are libc's (the
    // end-to-end tests compare them byte for byte): one line for each of
    // -x, --bogus, --index and --exclude without their argument, naming what
    // was wrong.
    const std::string diagnostics = testing::internal::GetCapturedStderr();
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < diagnostics.size();) {
        const std::size_t end = std::min(diagnostics.find('\n', at), diagnostics.size());
        lines.push_back(diagnostics.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_EQ(lines.size(), 4U) << diagnostics;
    EXPECT_NE(lines[0].find('x'), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("bogus"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("index"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("exclude"), std::string::npos) << lines[3];
}

} // namespace
