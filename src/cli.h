// The command line: options into search_options, and where the operands are.
#pragma once

#include "search_options.h"

struct command_line {
    search_options options;
    int first_operand = 0; // index in argv of the first operand
    int operand_count = 0;
};

// POSIX rules: parsing stops at the first operand or after "--", so an option
// after the term is a second operand. A letter not in the list gets getopt's
// own diagnostic on standard error and counts as -h. May be called again
// with another argument vector.
command_line parse_command_line(int argc, char** argv);
