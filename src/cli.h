// The command line: options into search_options, and where the operands are.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "search_options.h"

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
// error and counts as -h. May be called again with another argument vector.
command_line parse_command_line(int argc, char** argv);

// A long option: its name without the hyphens, the placeholder of its
// argument (nullptr for none) and one line on what it does.
struct long_option {
    const char* name;
    const char* argument;
    const char* description;
};

// Every long option, in the order the help text lists them.
std::span<const long_option> long_options() noexcept;
