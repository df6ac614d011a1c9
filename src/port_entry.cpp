#include "port_entry.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Every field that views the line, in the order of the line's fields.
constexpr std::array<std::optional<std::string_view> port_entry::*, 9> line_fields = {
    &port_entry::full_name,  &port_entry::path,          &port_entry::prefix,
    &port_entry::comment,    &port_entry::descr_file,    &port_entry::maintainer,
    &port_entry::categories, &port_entry::build_depends, &port_entry::run_depends};

// Splits a present first field at its last hyphen, if that isn't its first byte.
void split_first_field(std::string_view field, std::optional<std::string_view>& name,
                       std::optional<std::string_view>& version) {
    const auto* hyphen = static_cast<const char*>(memrchr(field.data(), '-', field.size()));
    if (hyphen != nullptr && hyphen != field.data()) {
        const auto at = static_cast<std::size_t>(hyphen - field.data());
        name = std::string_view(field.data(), at);
        version = std::string_view(hyphen + 1, field.size() - at - 1);
    } else {
        name = field;
    }
}

} // namespace

void port_entry_reset(port_entry& entry) {
    for (const auto field : line_fields) {
        (entry.*field).reset();
    }
    entry.name.reset();
    entry.version.reset();
    entry.installed_version.reset();
}

void split_name_version(std::optional<std::string_view> full_name,
                        std::optional<std::string_view>* name,
                        std::optional<std::string_view>* version) {
    std::optional<std::string_view> name_part;
    std::optional<std::string_view> version_part;
    if (full_name) {
        split_first_field(*full_name, name_part, version_part);
    }
    if (name != nullptr) {
        *name = name_part;
    }
    if (version != nullptr) {
        *version = version_part;
    }
}

const char* parse_index_line(port_entry& entry, delimiter_cursor& line_cursor) {
    port_entry_reset(entry);
    // A local copy whose state the compiler can keep in registers.
    delimiter_cursor cursor = line_cursor;
    const char* field = cursor.position();
    const char* stop = nullptr;
    for (std::size_t place = 0;; ++place) {
        stop = cursor.next();
        if (stop != field) { // an empty field stays absent, and keeps its place
            entry.*line_fields[place] =
                std::string_view(field, static_cast<std::size_t>(stop - field));
        }
        if (stop == cursor.end() || *stop != '|' || place + 1 == line_fields.size()) {
            break;
        }
        field = stop + 1;
    }
    // After the ninth field, or at a NUL, only the newline still matters.
    while (stop != cursor.end() && *stop != '\n') {
        stop = cursor.next();
    }
    line_cursor = cursor;
    if (entry.full_name) {
        split_first_field(*entry.full_name, entry.name, entry.version);
    }
    return stop == cursor.end() ? nullptr : stop;
}

void parse_index_line(port_entry& entry, std::string_view line) {
    std::vector<std::uint64_t> masks(delimiter_masks_for(line.size()));
    best_delimiter_finder().find(line.data(), line.size(), masks.data());
    delimiter_cursor cursor(line.data(), masks.data(), 0, line.size());
    parse_index_line(entry, cursor);
}
