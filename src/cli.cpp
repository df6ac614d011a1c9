#include "cli.h"

#include <array>
#include <getopt.h>
#include <string_view>

namespace {

using o = search_options;

// getopt_long's answer for a long option without a letter: past every
// letter, by its place in the table.
constexpr int first_long_code = 256;

// clang-format off
constexpr auto option_table = std::to_array<command_option>({
    {'a', nullptr, nullptr, option_effect::set_flags,
     {&o::search_description, &o::search_path, &o::search_maintainer, &o::search_depends},
     "Search in all fields"},
    {'d', nullptr, nullptr, option_effect::set_flags, {&o::search_description},
     "Search in name and in description"},
    {'p', nullptr, nullptr, option_effect::set_flags, {&o::search_path},
     "Search in name and in path"},
    {'m', nullptr, nullptr, option_effect::set_flags, {&o::search_maintainer},
     "Search in name and maintainer"},
    {'D', nullptr, nullptr, option_effect::set_flags, {&o::search_depends},
     "Search in name and dependencies"},
    {'f', nullptr, nullptr, option_effect::set_flags, {&o::show_details},
     "Show result with dependencies"},
    {'n', nullptr, nullptr, option_effect::set_flags, {&o::long_format},
     "Show normal version of results (short version is default)"},
    {'r', nullptr, nullptr, option_effect::set_flags, {&o::show_counts},
     "Show result count"},
    {'h', nullptr, nullptr, option_effect::help, {}, "Print this help text"},
    {'\0', "categories", nullptr, option_effect::set_flags, {&o::search_categories},
     "Search in name and categories"},
    {'\0', "www", nullptr, option_effect::set_flags, {&o::search_web_site},
     "Search in name and web site"},
    {'\0', "pkg-descr", nullptr, option_effect::set_flags, {&o::search_pkg_descr},
     "Search in name and the long description (pkg-descr)"},
    {'\0', "word", nullptr, option_effect::set_flags, {&o::whole_word},
     "Match whole words only"},
    {'\0', "regex", nullptr, option_effect::set_flags, {&o::regular_expression},
     "Read the term as an extended regular expression"},
    {'\0', "exclude", "TERM", option_effect::exclude_term, {},
     "Leave out ports that match TERM too (repeatable)"},
    {'\0', "installed", nullptr, option_effect::set_flags, {&o::only_installed},
     "Show only installed ports"},
    {'\0', "outdated", nullptr, option_effect::set_flags, {&o::only_outdated},
     "Show only installed ports older than the index"},
    {'\0', "status", nullptr, option_effect::set_flags, {&o::show_status},
     "Show installed packages against the index (<, =, >, ?)"},
    {'\0', "moved", nullptr, option_effect::set_flags, {&o::show_moved},
     "Show ports moved or removed from the tree (MOVED)"},
    {'\0', "json", nullptr, option_effect::set_flags, {&o::json_output},
     "Show results as JSON, one object per line"},
    {'\0', "index", "FILE", option_effect::name_index, {},
     "Read the index from FILE (- for standard input)"},
    {'\0', "help", nullptr, option_effect::help_with_long, {},
     "Print this help text with the long options"},
    {'v', "version", nullptr, option_effect::version, {}, "Print version number"},
});
// clang-format on

constexpr std::span<const command_option> options_in_table{option_table};

// The answer getopt_long gives for the row: its letter, or a code of its own.
constexpr int code_of(std::size_t row) {
    const char letter = options_in_table[row].letter;
    return letter != '\0' ? static_cast<unsigned char>(letter)
                          : first_long_code + static_cast<int>(row);
}

// The number of long options.
constexpr std::size_t long_option_count() {
    std::size_t count = 0;
    for (const command_option& row : options_in_table) {
        count += row.long_name != nullptr ? 1 : 0;
    }
    return count;
}

// "+" (stop at the first operand, which getopt_long would otherwise not do
// on glibc or the BSDs), then each letter, with ":" when it takes an
// argument, and a closing NUL.
constexpr std::size_t option_string_size = [] {
    std::size_t size = 2;
    for (const command_option& row : options_in_table) {
        if (row.letter != '\0') {
            size += row.argument != nullptr ? 2 : 1;
        }
    }
    return size;
}();

constexpr std::array<char, option_string_size> option_string = [] {
    std::array<char, option_string_size> text{};
    std::size_t at = 0;
    text[at++] = '+';
    for (const command_option& row : options_in_table) {
        if (row.letter != '\0') {
            text[at++] = row.letter;
            if (row.argument != nullptr) {
                text[at++] = ':';
            }
        }
    }
    return text;
}();

// The long options as getopt_long wants them, closed by a zeroed entry.
std::array<option, long_option_count() + 1> getopt_long_options() {
    std::array<option, long_option_count() + 1> options{};
    std::size_t at = 0;
    for (std::size_t row = 0; row < options_in_table.size(); ++row) {
        const command_option& entry = options_in_table[row];
        if (entry.long_name != nullptr) {
            options[at++] = {entry.long_name,
                             entry.argument != nullptr ? required_argument : no_argument, nullptr,
                             code_of(row)};
        }
    }
    return options;
}

// The row that getopt_long answered with code; nullptr for '?' and ':'.
const command_option* option_for_code(int code) {
    for (std::size_t row = 0; row < options_in_table.size(); ++row) {
        if (code_of(row) == code) {
            return &options_in_table[row];
        }
    }
    return nullptr;
}

} // namespace

std::span<const command_option> command_options() noexcept {
    return options_in_table;
}

getopt_arguments getopt_arguments_for_parsing() noexcept {
    static const auto getopt_options = getopt_long_options();
    return {option_string.data(), getopt_options.data()};
}

command_line parse_command_line(int argc, char** argv) {
    const getopt_arguments arguments = getopt_arguments_for_parsing();
    command_line parsed;
    bool version = false;
    bool help = false;
    bool long_options_too = false;
    int code = 0;
    while ((code = getopt_long(argc, argv, arguments.option_string, arguments.long_options,
                               nullptr)) != -1) {
        const command_option* given = option_for_code(code);
        if (given == nullptr) { // unknown, or without its argument
            help = true;
            continue;
        }
        switch (given->effect) {
        case option_effect::set_flags:
            for (bool search_options::*flag : given->flags) {
                if (flag != nullptr) {
                    parsed.options.*flag = true;
                }
            }
            break;
        case option_effect::help:
            help = true;
            break;
        case option_effect::help_with_long:
            help = long_options_too = true;
            break;
        case option_effect::version:
            version = true;
            break;
        case option_effect::name_index:
            parsed.index_file = optarg;
            break;
        case option_effect::exclude_term:
            parsed.excluded_terms.emplace_back(optarg);
            break;
        }
    }
    parsed.first_operand = optind;
    parsed.operand_count = argc - optind;
    if (version) {
        parsed.mode = run_mode::version;
    } else if (long_options_too) {
        parsed.mode = run_mode::help_with_long_options;
    } else if (help || parsed.operand_count != 1) {
        parsed.mode = run_mode::help;
    } else {
        parsed.mode = run_mode::search;
        parsed.search_term = argv[parsed.first_operand];
    }
    return parsed;
}
