// --status: every installed package whose name holds the term, with how it
// stands against the index, as pkg version -v tells it.
//
// One line a package, sorted by origin:
//   S ORIGIN NAME-VERSION (index has VERSION)
// S is "<" (the index is newer), "=" (the same), ">" (the installed package is
// newer) or "?" (the index has no port for it: none at its origin, or none
// of its name where several share the origin; the line ends "(not in the
// index)"); the origin and name columns are padded to line up. With --json,
// one object a package: name, installed_version, origin, index_version (null
// for "?") and status.
#pragma once

#include <string_view>
#include <vector>

#include "checked_output.h"
#include "index_census.h"
#include "package_table.h"
#include "port_standing.h"
#include "search_options.h"
#include "searched_fields.h"

struct package_status {
    const installed_package* package;
    const index_port* port; // nullptr for standing::unknown
    standing status;
};

// The installed packages whose name-version holds the criteria's term and
// none of its excluded terms, each with its index port and standing, sorted
// by origin, then name.
std::vector<package_status> package_statuses(const installed_packages& installed,
                                             const index_census& census,
                                             const search_criteria& criteria);

// Prints the lines, or with options.json_output the objects.
void print_package_statuses(const std::vector<package_status>& statuses,
                            const search_options& options, checked_output& out);
