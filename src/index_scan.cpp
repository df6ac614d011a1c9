#include "index_scan.h"

#include <cerrno>

#include "line_reader.h"
#include "result_output.h"
#include "text_search.h"

namespace {

// Whether the options search nothing but the name, as a search without
// options does.
bool searches_name_only(const search_options& options) {
    return !options.search_description && !options.search_path && !options.search_maintainer &&
           !options.search_depends;
}

// In a search of the name alone a line's first field decides: when it is
// empty or doesn't hold the term, the line can't match. Such a line is passed
// over to its newline without being split, which spares splitting most lines
// of the index. Returns that newline, or nullptr with the cursor unmoved when
// the line may match or isn't complete yet (the split then decides).
const char* pass_over_unmatched_name(delimiter_cursor& line, std::string_view search_term) {
    delimiter_cursor cursor = line;
    const char* name = cursor.position();
    const char* stop = cursor.next();
    if (stop == cursor.end() ||
        (stop != name &&
         contains_ignoring_case(std::string_view(name, static_cast<std::size_t>(stop - name)),
                                search_term))) {
        return nullptr;
    }
    const char* newline = *stop == '\n' ? stop : cursor.skip_line();
    if (newline != nullptr) {
        line = cursor;
    }
    return newline;
}

} // namespace

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
    const bool name_only = searches_name_only(options);
    bool passed_over = false; // the line was passed over unsplit: entry does not hold it
    const auto split = [&](delimiter_cursor& line) {
        if (name_only) {
            if (const char* newline = pass_over_unmatched_name(line, search_term)) {
                passed_over = true;
                return newline;
            }
            passed_over = false;
        }
        return parse_index_line(entry, line);
    };
    while (reader.next(split)) {
        ++counters.entries;
        if (passed_over) {
            continue;
        }
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
