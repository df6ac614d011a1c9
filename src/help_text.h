// The version line and the help text.
#pragma once

#include "checked_output.h"

// "vandrel <version> by <author> at <maker> on <date> (first release <date>)"
void print_version_line(checked_output& out);

// The help text, with the name the program was invoked under in its usage line.
void print_usage(const char* invocation_name, checked_output& out);

// The long options, one a line, to follow the help text when --help asked
// for it.
void print_long_options(checked_output& out);
