// The two forms in which a matching port is printed.
#pragma once

#include <cstdio>

#include "port_entry.h"

// One line: "+" or "-" for installed or not, the full name and, in
// parentheses, the port path; with show_depends also the installed version,
// maintainer and prefix. An absent value prints as "n/a".
void print_short_result(const port_entry& entry, bool show_depends, std::FILE* out = stdout);

// A titled block of labelled lines, with the two dependency lists added when
// show_depends is set, followed by an empty line.
void print_long_result(const port_entry& entry, bool show_depends, std::FILE* out = stdout);
