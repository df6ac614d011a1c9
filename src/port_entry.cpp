#include "port_entry.h"

#include <array>
#include <cstring>

namespace {

// Every field that views the line, in the order of the line's tokens.
constexpr std::array<std::optional<std::string_view> port_entry::*, 9> token_fields = {
    &port_entry::full_name,  &port_entry::path,          &port_entry::prefix,
    &port_entry::comment,    &port_entry::descr_file,    &port_entry::maintainer,
    &port_entry::categories, &port_entry::build_depends, &port_entry::run_depends};

void clear(port_entry& entry) {
    for (const auto field : token_fields) {
        (entry.*field).reset();
    }
    entry.name.reset();
    entry.version.reset();
    entry.installed_version.reset();
}

} // namespace

void port_entry_reset(port_entry& entry) {
    clear(entry);
}

void port_entry_release(port_entry& entry) {
    clear(entry);
}

void split_name_version(std::optional<std::string_view> full_name,
                        std::optional<std::string_view>* name,
                        std::optional<std::string_view>* version) {
    std::optional<std::string_view> name_part;
    std::optional<std::string_view> version_part;
    if (full_name) {
        const std::string_view field = *full_name;
        const auto* hyphen = static_cast<const char*>(memrchr(field.data(), '-', field.size()));
        if (hyphen != nullptr && hyphen != field.data()) {
            const auto at = static_cast<std::size_t>(hyphen - field.data());
            name_part = field.substr(0, at);
            version_part = field.substr(at + 1);
        } else {
            name_part = field;
        }
    }
    if (name != nullptr) {
        *name = name_part;
    }
    if (version != nullptr) {
        *version = version_part;
    }
}

void parse_index_line(port_entry& entry, const char* line) {
    const char* cursor = line;
    for (const auto field : token_fields) {
        while (*cursor == '|') {
            ++cursor;
        }
        if (*cursor == '\0') {
            break;
        }
        // The token ends at the next separator or at the line's end, which is
        // its first NUL byte.
        const char* const token_end = strchrnul(cursor, '|');
        entry.*field = std::string_view(cursor, static_cast<std::size_t>(token_end - cursor));
        cursor = token_end;
    }
    split_name_version(entry.full_name, &entry.name, &entry.version);
}
