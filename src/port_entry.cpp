#include "port_entry.h"

#include <array>
#include <cstring>

#include "delimiters.h"

namespace {

// Every field that views the line, in the order of the line's fields.
constexpr std::array<std::optional<std::string_view> port_entry::*, 10> line_fields = {
    &port_entry::full_name,  &port_entry::path,          &port_entry::prefix,
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
    entry.long_description.reset();
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

std::string_view first_index_field(std::string_view line) {
    const char* const begin = line.data();
    const char* const end = field_end_walk(begin, begin + line.size()).next();
    return {begin, static_cast<std::size_t>(end - begin)};
}

void parse_index_line(port_entry& entry, std::string_view line) {
    port_entry_reset(entry);
    const char* start = line.data();
    field_end_walk walk(start, start + line.size());
    for (const auto field : line_fields) {
        const char* const stop = walk.next();
        if (stop != start) { // an empty field stays absent, and keeps its place
            entry.*field = std::string_view(start, static_cast<std::size_t>(stop - start));
        }
        if (stop == walk.end() || *stop != '|') { // the line's end, or a NUL
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
