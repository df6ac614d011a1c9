#include "cli.h"

#include <array>
#include <getopt.h>
#include <stdexcept>
#include <string_view>
#include <unistd.h>

namespace {

// getopt_long's answer for a long option: past every letter, by its place
// in the table.
constexpr int first_long_code = 256;

constexpr std::array<long_option, 9> long_option_table = {{
    {"categories", nullptr, "Search in name and categories"},
    {"word", nullptr, "Match whole words only"},
    {"installed", nullptr, "Show only installed ports"},
    {"outdated", nullptr, "Show only installed ports older than the index"},
    {"status", nullptr, "Show installed packages against the index (<, =, >, ?)"},
    {"json", nullptr, "Show results as JSON, one object per line"},
    {"index", "FILE", "Read the index from FILE (- for standard input)"},
    {"help", nullptr, "Print this help text with the long options"},
    {"version", nullptr, "Print version number"},
}};

// The answer for the option of that name; a name not in the table stops the
// build, as the exception can't be thrown in a constant expression.
constexpr int long_code(std::string_view name) {
    for (std::size_t i = 0; i < long_option_table.size(); ++i) {
        if (name == long_option_table[i].name) {
            return first_long_code + static_cast<int>(i);
        }
    }
    throw std::logic_error("no such long option");
}

// "+": stop at the first operand, which getopt_long would otherwise not do on
// glibc or the BSDs.
constexpr const char* option_string = "+adpmDrhfvn";

// The table as getopt_long wants it, closed by a zeroed entry.
std::array<option, long_option_table.size() + 1> getopt_long_options() {
    std::array<option, long_option_table.size() + 1> options{};
    for (std::size_t i = 0; i < long_option_table.size(); ++i) {
        const long_option& entry = long_option_table[i];
        options[i] = {entry.name, entry.argument != nullptr ? required_argument : no_argument,
                      nullptr, first_long_code + static_cast<int>(i)};
    }
    return options;
}

} // namespace

std::span<const long_option> long_options() noexcept {
    return long_option_table;
}

getopt_arguments getopt_arguments_for_parsing() noexcept {
    static const auto getopt_options = getopt_long_options();
    return {option_string, getopt_options.data()};
}

command_line parse_command_line(int argc, char** argv) {
    const getopt_arguments arguments = getopt_arguments_for_parsing();
    command_line parsed;
    search_options& o = parsed.options;
    bool version = false;
    bool help = false;
    bool long_options_too = false;
    int code = 0;
    while ((code = getopt_long(argc, argv, arguments.option_string, arguments.long_options,
                               nullptr)) != -1) {
        switch (code) {
        case 'a':
            o.search_description = o.search_path = o.search_maintainer = o.search_depends = true;
            break;
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
        case 'f':
            o.show_details = true;
            break;
        case 'n':
            o.long_format = true;
            break;
        case 'r':
            o.show_counts = true;
            break;
        case 'v':
        case long_code("version"):
            version = true;
            break;
        case long_code("categories"):
            o.search_categories = true;
            break;
        case long_code("word"):
            o.whole_word = true;
            break;
        case long_code("installed"):
            o.only_installed = true;
            break;
        case long_code("outdated"):
            o.only_outdated = true;
            break;
        case long_code("status"):
            o.show_status = true;
            break;
        case long_code("json"):
            o.json_output = true;
            break;
        case long_code("index"):
            parsed.index_file = optarg;
            break;
        case long_code("help"):
            help = long_options_too = true;
            break;
        default: // 'h' and '?'
            help = true;
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
