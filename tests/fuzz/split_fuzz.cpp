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

    // Every form of the searches finds what the portable one finds, from
    // every start.
    const std::span<const delimiter_search> searches = delimiter_searches();
    const char* const end = line.data() + size;
    for (const char* begin = line.data(); begin != end && begin - line.data() < 256; ++begin) {
        for (const delimiter_search& search : searches) {
            require(search.field_ends(begin, end) == searches.front().field_ends(begin, end));
            require(search.line_end(begin, end) == searches.front().line_end(begin, end));
        }
    }

    // An entry that held another line first: nothing of it may survive.
    port_entry entry;
    parse_index_line(entry, "stale-1|/usr/ports/x/stale|/usr/local|c|d|m|k|b|r");
    entry.installed_version = "1";
    // The line ends at its first newline, as a reader hands it over; the
    // bytes after it are there but must not be split.
    parse_index_line(entry, std::string_view(line).substr(0, line.find('\n')));
    const std::vector<std::optional<std::string_view>> expected = reference_fields(line);
    const std::optional<std::string_view> fields[] = {
        entry.full_name,   entry.path,       entry.prefix,     entry.comment,
        entry.descr_file,  entry.maintainer, entry.categories, entry.build_depends,
        entry.run_depends, entry.web_site};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
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
