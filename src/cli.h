// The command line: options into search_options, and where the operands are.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "search_options.h"

struct option; // <getopt.h>

struct command_line {
    search_options options;
    // --index FILE: the index to read, "-" for standard input; the last one
    // given wins.
    std::optional<std::string_view> index_file;
    int first_operand = 0; // index in argv of the first operand
    int operand_count = 0;
};

// POSIX rules: parsing stops at the first operand or after "--", so an option
// after the term is a second operand; the arguments are never reordered. Long
// options may be abbreviated to any unique beginning, and --index takes its
// file as "--index FILE" or "--index=FILE". An option not in the list, or
// --index without its file, gets getopt_long's own diagnostic on standard
// error and counts as -h. Parses once per process: getopt_long keeps its
// place between calls, and how it is made to start over differs between
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
