// The command line: what the run does, options into search_options, and the
// operands.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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
    // --exclude TERM, each given: entries that hold any of them are dropped.
    std::vector<std::string> excluded_terms;
    std::string search_term; // the one operand, when the mode is search
    int first_operand = 0;   // index in argv of the first operand
    int operand_count = 0;
};

// POSIX rules: parsing stops at the first operand or after "--", so an option
// after the term is a second operand; the arguments are never reordered. Long
// options may be abbreviated to any unique beginning, and those that take an
// argument (--index FILE, --exclude TERM) take it as "--index FILE" or
// "--index=FILE". An option not in the list, or one without its argument,
// gets getopt_long's own diagnostic on standard error and counts as -h.
// Whatever it holds, the command line owns it. Parses once per process:
// getopt_long keeps its place between calls, and how it is made to start
// over differs between systems.
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

// What giving an option does.
enum class option_effect {
    set_flags,      // sets its flags in search_options
    help,           // the help text
    help_with_long, // the help text and the long options
    version,        // the version line
    name_index,     // its argument is the index to read
    exclude_term,   // its argument is one more term to exclude
};

// One option of the command line: the single source of the getopt string,
// getopt_long's table, the parse and both lists of the help text.
struct command_option {
    char letter;           // '\0' for a long option alone
    const char* long_name; // without the hyphens; nullptr for a letter alone
    const char* argument;  // the placeholder of its argument; nullptr for none
    option_effect effect;
    // The flags that set_flags sets; unused places are null.
    std::array<bool search_options::*, 4> flags;
    const char* description; // one line on what it does, for the help text
};

// Every option, letters in the order the help text lists them, then the long
// options alone in theirs; -v, which is also --version, comes last in both.
std::span<const command_option> command_options() noexcept;
