// The command line: what the run does, options into search_options, and the
// operands.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "search_options.h"

struct option; // <getopt.h>

// What a run does, as its command line says.
enum class run_mode {
    search,                 // exactly one operand, and nothing below asked for
    help,                   // -h, an unknown option, or no operand or more than one
    help_with_long_options, // --help: the help text and the long options
    version,                // -v or --version, whatever else the line holds
};

struct command_line {
    run_mode mode = run_mode::help;
    search_options options;
    // --index FILE: the index to read, "-" for standard input; the last one
    // given wins.
    std::optional<std::string> index_file;
    std::string search_term; // the one operand, when the mode is search
    int first_operand = 0;   // index in argv of the first operand
    int operand_count = 0;
};

// POSIX rules: parsing stops at the first operand or after "--", so an option
// after the term is a second operand; the arguments are never reordered. Long
// options may be abbreviated to any unique beginning, and --index takes its
// file as "--index FILE" or "--index=FILE". An option not in the list, or
// --index without its file, gets getopt_long's own diagnostic on standard
// error and counts as -h. Whatever it holds, the command line owns it. Parses once per process:
// getopt_long keeps its place between calls, and how it is made to start over differs between
// systems.
command_line parse_command_line(int argc, char** argv);

// What parse_command_line hands getopt_long: the option string and the long
// options, closed by a zeroed entry, both valid for the whole run. For a
// caller that must have getopt_long answer, and complain, exactly as it does
// for the program.
struct getopt_arguments {
    const char* option_string;
    const option* long_options;
};
getopt_arguments getopt_arguments_for_parsing() noexcept;

// A long option: its name without the hyphens, the placeholder of its
// argument (nullptr for none) and one line on what it does.
struct long_option {
    const char* name;
    const char* argument;
    const char* description;
};

// Every long option, in the order the help text lists them.
std::span<const long_option> long_options() noexcept;
