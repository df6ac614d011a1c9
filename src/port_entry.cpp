#include "port_entry.h"

#include <array>
#include <cstring>

namespace {

// Every field that views the line, in the order of the line's fields.
constexpr std::array<std::optional<std::string_view> port_entry::*, parsed_delimiters> line_fields =
    {&port_entry::full_name,  &port_entry::path,          &port_entry::prefix,
     &port_entry::comment,    &port_entry::descr_file,    &port_entry::maintainer,
     &port_entry::categories, &port_entry::build_depends, &port_entry::run_depends,
     &port_entry::web_site};

} // namespace

void port_entry_reset(port_entry& entry) {
    for (const auto field : line_fields) {
        (entry.*field).reset();
    }
    entry.name.reset();
    entry.version.reset();
    entry.installed_version.reset();
}

name_and_version split_name_version(std::string_view full_name) {
    const auto* hyphen = static_cast<const char*>(memrchr(full_name.data(), '-', full_name.size()));
    if (hyphen == nullptr || hyphen == full_name.data()) {
        return {full_name, std::nullopt};
    }
    const auto at = static_cast<std::size_t>(hyphen - full_name.data());
    return {full_name.substr(0, at), full_name.substr(at + 1)};
}

std::string_view port_origin(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    const std::size_t last = path.rfind('/');
    if (last == std::string_view::npos || last == 0) {
        return path;
    }
    const std::size_t before = path.rfind('/', last - 1);
    return before == std::string_view::npos ? path : path.substr(before + 1);
}

void parse_index_line(port_entry& entry, const delimited_line& line) {
    port_entry_reset(entry);
    std::size_t start = 0;
    // The delimiters past those recorded come from a walk over the rest,
    // begun only when the fields need it.
    std::optional<delimiter_cursor> rest;
    for (std::size_t place = 0; place < line_fields.size(); ++place) {
        std::size_t stop = line.text.size();
        if (place < line.delimiter_count) {
            stop = line.delimiters[place];
        } else {
            if (!rest) {
                rest = line.rest();
            }
            if (const char* next = rest->next(); next != rest->end()) {
                stop = static_cast<std::size_t>(next - line.text.data());
            }
        }
        if (stop != start) { // an empty field stays absent, and keeps its place
            entry.*line_fields[place] = std::string_view(line.text.data() + start, stop - start);
        }
        if (stop == line.text.size() || line.text[stop] != '|') { // the line's end, or a NUL
            break;
        }
        start = stop + 1;
    }
    if (entry.full_name) {
        const name_and_version split = split_name_version(*entry.full_name);
        entry.name = split.name;
        entry.version = split.version;
    }
}
