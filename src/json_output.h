// Results as JSON Lines (--json): one object per matching port on a line of
// its own, and the counts as a last object, for scripts to read.
//
// Strings are written as UTF-8; a byte that isn't part of valid UTF-8 is
// written as U+FFFD, the replacement character, so every line is valid JSON
// whatever the index holds.
#pragma once

#include <cstdint>

#include "checked_output.h"
#include "index_census.h"
#include "moved_ports.h"
#include "package_table.h"
#include "port_entry.h"
#include "port_standing.h"

// One object with every field of the entry by name, in the line's order:
//   name, version, full_name, path, origin (the path's last two components,
//   category/port), prefix, comment, description_file, maintainer,
//   categories, build_depends, run_depends (the three lists as arrays of
//   their space-separated words), www, then from found: installed_version,
//   outdated (true when the installed version is older than the index's) and
//   status ("<", "=" or ">", null when not installed).
// An absent field is null, an absent list an empty array.
void print_json_result(const port_entry& entry, const port_standing_of_entry& found,
                       checked_output& out);

// One installed package as --status shows it: name, installed_version,
// origin, index_version (null without a port) and status.
void print_json_status(const installed_package& package, const index_port* port, standing status,
                       checked_output& out);

// One entry of MOVED: moved_from (the old origin), moved_to (the new one,
// null when the port was removed), date and reason (null when empty).
void print_json_moved_port(const moved_port& port, checked_output& out);

// {"results":R,"matches":M,"entries":E}, the counts of the counts line.
void print_json_counts(std::uint64_t results, std::uint64_t matches, std::uint64_t entries,
                       checked_output& out);
