// The forms in which a matching port, and a port that MOVED lists, are
// printed, and the choice among them.
#pragma once

#include "checked_output.h"
#include "moved_ports.h"
#include "port_entry.h"
#include "port_standing.h"
#include "search_options.h"

// The form a run prints its matching ports in, chosen once.
struct result_printer {
    // Prints one matching port: the entry, with its installed version by
    // name when marks_by_name is set, and what stands by its origin.
    void (*print)(const port_entry& entry, const port_standing_of_entry& found,
                  checked_output& out);
    // Whether the form shows the installed version found by the port's name
    // (the short line's mark, -f's and -n's version); the JSON form shows
    // only what stands by origin.
    bool marks_by_name;
};

// --json's objects, -n's blocks or the short lines, with -f's details in the
// last two.
result_printer result_printer_for(const search_options& options);

// One line: "+" or "-" for installed or not, the full name and, in
// parentheses, the port path; with show_details (-f) also the installed
// version, maintainer and prefix. An absent value prints as "n/a".
void print_short_result(const port_entry& entry, bool show_details, checked_output& out);

// A titled block of labelled lines, with the two dependency lists added when
// show_details (-f) is set, followed by an empty line.
void print_long_result(const port_entry& entry, bool show_details, checked_output& out);

// A port that MOVED lists, as one line that says where it went or that it was
// removed, then the date and the reason:
//   x11/xserver14 moved to x11/xserver17 on 2016-01-01: Renamed
//   lang/python27 removed on 2020-12-31: Has expired: Upstream support ended
// " on DATE" is left out when the line has no date, ": REASON" when it has
// no reason ("lang/python27 removed"). The fields are shown as they are.
void print_moved_port(const moved_port& port, checked_output& out);

// The form a run prints MOVED's entries in, chosen once: --json's objects
// (print_json_moved_port) or print_moved_port's lines.
using moved_printer = void (*)(const moved_port& port, checked_output& out);
moved_printer moved_printer_for(const search_options& options);
