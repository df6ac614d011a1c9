// Reading the ports index, matching each line and counting.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "port_entry.h"
#include "search_options.h"
#include "searched_fields.h"

struct scan_counters {
    std::uint64_t results = 0; // entries that matched
    std::uint64_t matches = 0; // field tests that found the term, over all entries
    std::uint64_t entries = 0; // lines read, empty ones included
};

enum class scan_status {
    complete,    // the whole index was read
    read_error,  // reading the index failed; error holds errno
    write_error, // writing a result failed; error holds errno
};

struct scan_outcome {
    scan_status status = scan_status::complete;
    int error = 0;
};

// Asked for the installed version of each matching port, by the port's name
// without its version; absent when the port isn't installed.
using installed_version_lookup =
    std::function<std::optional<std::string>(std::optional<std::string_view> name)>;

// Asked for the installed version of the package that a matching index
// entry stands for, by its origin (see port_standing.h); absent when none is
// installed.
using entry_installed_lookup = std::function<std::optional<std::string>(const port_entry& entry)>;

// Reads the index from the descriptor to its end, asks about every port that
// the criteria make a result and prints it to out as soon as it is found, and
// counts.
//
// lookup answers for the short line's mark and the installed version that
// -f and -n show; by_origin for --installed, --outdated and --json (lookup
// stands in for it when it is empty). Each is asked only when its answer is
// used. With --installed or --outdated a matching port that the filter
// passes over is neither printed nor counted as a result or in matches;
// entries counts every line. The descriptor stays open for the caller to
// close.
scan_outcome scan_index(int index_fd, const search_options& options,
                        const search_criteria& criteria, scan_counters& counters,
                        const installed_version_lookup& lookup, std::FILE* out,
                        const entry_installed_lookup& by_origin = {});
