#include "port_entry.h"

#include <array>
#include <cstring>

void port_entry_reset(port_entry& entry) {
    entry = port_entry{};
}

void port_entry_release(port_entry& entry) {
    entry = port_entry{};
}

void split_name_version(std::optional<std::string_view> full_name,
                        std::optional<std::string_view>* name,
                        std::optional<std::string_view>* version) {
    std::optional<std::string_view> name_part;
    std::optional<std::string_view> version_part;
    if (full_name) {
        const std::string_view field = *full_name;
        const std::size_t hyphen = field.rfind('-');
        if (hyphen != std::string_view::npos && hyphen > 0) {
            name_part = field.substr(0, hyphen);
            version_part = field.substr(hyphen + 1);
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

void parse_index_line(port_entry& entry, std::string_view line) {
    // What the split sees ends at a NUL byte, as it would in a C string.
    if (const void* nul = std::memchr(line.data(), '\0', line.size())) {
        line =
            line.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - line.data()));
    }

    const std::array<std::optional<std::string_view>*, 9> slots = {
        &entry.full_name,  &entry.path,          &entry.prefix,
        &entry.comment,    &entry.descr_file,    &entry.maintainer,
        &entry.categories, &entry.build_depends, &entry.run_depends};

    const char* cursor = line.data();
    const char* const end = cursor + line.size();
    for (std::optional<std::string_view>* slot : slots) {
        while (cursor != end && *cursor == '|') {
            ++cursor;
        }
        if (cursor == end) {
            break;
        }
        const void* bar = std::memchr(cursor, '|', static_cast<std::size_t>(end - cursor));
        const char* token_end = bar != nullptr ? static_cast<const char*>(bar) : end;
        *slot = std::string_view(cursor, static_cast<std::size_t>(token_end - cursor));
        cursor = token_end;
    }
    split_name_version(entry.full_name, &entry.name, &entry.version);
}
