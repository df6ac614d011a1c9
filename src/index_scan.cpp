#include "index_scan.h"

#include "line_reader.h"
#include "port_standing.h"
#include "result_output.h"

namespace {

// In a search of the name alone a line's first field decides: when it is
// empty or can't hold the term, the line can't match, and it is only
// counted, not split.
bool name_may_match(std::string_view line, const term_matcher& term) {
    const std::string_view name = first_index_field(line);
    return !name.empty() && term.name_may_hold(name);
}

// --installed and --outdated: whether a matching entry, the version of the
// package it stands for looked up, is shown and counted.
bool shown_by_filters(const port_standing_of_entry& found, const search_options& options) {
    if (options.only_installed && !found.installed_version) {
        return false;
    }
    return !options.only_outdated || found.status == standing::older;
}

} // namespace

scan_outcome scan_index(int index_fd, const search_options& options,
                        const search_criteria& criteria, scan_counters& counters,
                        const installed_version_lookup& lookup, std::FILE* out,
                        const entry_installed_lookup& by_origin) {
    const result_printer printer = result_printer_for(options);
    checked_output results(out);
    line_reader reader(index_fd);
    port_entry entry;
    const bool name_only = searches_name_only(options);
    const bool needs_origin = matches_by_origin(options);
    while (const std::optional<std::string_view> line = reader.next()) {
        ++counters.entries;
        if (name_only && !name_may_match(*line, criteria.term)) {
            continue;
        }
        parse_index_line(entry, *line);
        const int found = match_entry(entry, options, criteria);
        if (found == 0) {
            continue;
        }
        port_standing_of_entry found_by_origin;
        if (needs_origin) {
            found_by_origin.installed_version = by_origin ? by_origin(entry) : lookup(entry.name);
            found_by_origin.status = standing_of(found_by_origin.installed_version, entry.version);
        }
        if (!shown_by_filters(found_by_origin, options)) {
            continue;
        }
        if (printer.marks_by_name) {
            entry.installed_version = lookup(entry.name);
        }
        counters.matches += static_cast<std::uint64_t>(found);
        ++counters.results;
        printer.print(entry, found_by_origin, results);
        if (results.failed()) {
            // The reader is gone (a closed pipe with SIGPIPE ignored, a full
            // disk): stop here rather than fail every write to the end.
            return {scan_status::write_error, results.error()};
        }
    }
    if (reader.error() != 0) {
        return {scan_status::read_error, reader.error()};
    }
    return {};
}
