// Arbitrary bytes as an index line and as a first field: the split must agree
// with a plain reference split by place, and the name/version split with its
// rules.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "delimiters.h"
#include "port_entry.h"
#include "split_line.h"
#include "text_search.h"

namespace {

void require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// The fields between the "|"s, up to the first NUL or newline, each in its
// place; an empty one is absent.
std::vector<std::optional<std::string_view>> reference_fields(std::string_view line) {
    line = line.substr(0, line.find_first_of(std::string_view("\0\n", 2)));
    std::vector<std::optional<std::string_view>> fields;
    for (std::size_t at = 0;;) {
        const std::size_t end = std::min(line.find('|', at), line.size());
        const std::string_view field = line.substr(at, end - at);
        fields.emplace_back(field.empty() ? std::nullopt : std::optional(field));
        if (end == line.size()) {
            return fields;
        }
        at = end + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);

    // Every delimiter finder finds what the others find.
    const std::span<const delimiter_finder> finders = usable_delimiter_finders();
    std::vector<std::uint64_t> first(delimiter_masks_for(size));
    std::vector<std::uint64_t> other(first.size());
    finders.front().find(line.data(), size, first.data());
    for (const delimiter_finder& finder : finders) {
        finder.find(line.data(), size, other.data());
        require(other == first);
    }

    // An entry that held another line first: nothing of it may survive.
    port_entry entry;
    fixture::parse_line(entry, "stale-1|/usr/ports/x/stale|/usr/local|c|d|m|k|b|r");
    entry.installed_version = "1";
    // The line ends at its first newline, as a reader hands it over; the
    // bytes after it are there but must not be split.
    // As many delimiters recorded as the second byte says; the rest walked.
    const std::size_t recorded = size > 1 ? data[1] % 14 : parsed_delimiters;
    delimited_line delimited;
    require(take_line(line.data(), first.data(), 0, size, recorded, true, delimited));
    require(delimited.text == std::string_view(line).substr(0, line.find('\n')));
    require(delimited.delimiter_count <= recorded);
    parse_index_line(entry, delimited);
    const std::vector<std::optional<std::string_view>> expected = reference_fields(line);
    const std::optional<std::string_view> fields[] = {
        entry.full_name,  entry.path,       entry.prefix,        entry.comment,    entry.descr_file,
        entry.maintainer, entry.categories, entry.build_depends, entry.run_depends};
    for (std::size_t i = 0; i < 9; ++i) {
        require(i < expected.size() ? fields[i] == expected[i] : !fields[i]);
    }
    require(!entry.installed_version);

    // Name and version put back together give the first field.
    if (entry.full_name) {
        require(entry.name.has_value());
        if (entry.version) {
            require(std::string(*entry.name) + "-" + std::string(*entry.version) ==
                    *entry.full_name);
            require(entry.version->find('-') == std::string_view::npos);
            require(!entry.name->empty());
        } else {
            require(*entry.name == *entry.full_name);
            require(entry.full_name->find('-', 1) == std::string_view::npos);
        }
    } else {
        require(!entry.name && !entry.version);
    }

    // The term search agrees with libc's in the C locale, for short needles
    // and for long ones (another algorithm); the first byte sets the length.
    const std::size_t length = size > 0 ? data[0] % 64 : 0;
    const std::string needle = line.substr(std::min<std::size_t>(1, size), length);
    const std::string haystack = line.substr(std::min(size, 1 + needle.size()));
    const std::string needle_c = needle.substr(0, needle.find('\0'));
    const std::string haystack_c = haystack.substr(0, haystack.find('\0'));
    require(contains_ignoring_case(haystack_c, needle_c) ==
            (strcasestr(haystack_c.c_str(), needle_c.c_str()) != nullptr));

    port_entry_reset(entry);
    return 0;
}
