#include "index_scan.h"

#include <cerrno>

#include "line_reader.h"
#include "result_output.h"
#include "text_search.h"

int match_entry(const port_entry& entry, const search_options& options,
                std::string_view search_term) {
    if (!entry.full_name) {
        return 0; // a line without a name is no port, whatever its other fields hold
    }
    const auto found = [search_term](const std::optional<std::string_view>& field) {
        return field && contains_ignoring_case(*field, search_term) ? 1 : 0;
    };
    int count = found(entry.full_name);
    if (options.search_description) {
        count += found(entry.comment);
    }
    if (options.search_path) {
        count += found(entry.path);
    }
    if (options.search_maintainer) {
        count += found(entry.maintainer);
    }
    if (options.search_depends) {
        count += found(entry.build_depends);
        count += found(entry.run_depends);
    }
    return count;
}

scan_outcome scan_index(int index_fd, const search_options& options, std::string_view search_term,
                        scan_counters& counters, const installed_version_lookup& lookup,
                        std::FILE* out) {
    line_reader reader(index_fd);
    port_entry entry;
    const auto split = [&entry](delimiter_cursor& line) { return parse_index_line(entry, line); };
    while (reader.next(split)) {
        const int found = match_entry(entry, options, search_term);
        counters.matches += static_cast<std::uint64_t>(found);
        if (found > 0) {
            ++counters.results;
            entry.installed_version = lookup(entry.name);
            if (options.long_format) {
                print_long_result(entry, options.show_depends, out);
            } else {
                print_short_result(entry, options.show_depends, out);
            }
        }
        ++counters.entries;
        if (found > 0 && std::ferror(out) != 0) {
            // The reader is gone (a closed pipe with SIGPIPE ignored, a full
            // disk): stop here rather than fail every write to the end.
            return {scan_status::write_error, errno};
        }
    }
    if (reader.error() != 0) {
        return {scan_status::read_error, reader.error()};
    }
    return {};
}
