// What the delimiter searches must find, by definition, and runs of bytes to
// try them on. Shared by the unit test and by the check that runs on other
// processors under qemu-user, so it needs nothing but the standard library and
// the searches.
#pragma once

#include <algorithm>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "delimiters.h"

namespace delimiter_definition {

// Random bytes that mix the delimiters with near misses (0x7C and 0x0A with
// the high bit set, 0xFF, and the bytes next to them), allocated at their
// exact size, so that a sanitizer catches a read past them.
inline std::vector<char> random_run(std::size_t size, std::mt19937& random) {
    constexpr char alphabet[] = {'|',    '\n', '\0', 'a',    ' ',    '\xfc', '\x8a',
                                 '\xff', '\r', '{',  '\x0b', '\x01', '\x7d', '\x7b'};
    std::vector<char> bytes(size);
    for (char& c : bytes) {
        // Mostly ordinary bytes, so that a delimiter can be far from the start.
        c = random() % 4 == 0 ? alphabet[random() % sizeof alphabet] : 'x';
    }
    return bytes;
}

// The first of the given bytes in [begin, end), or end.
inline const char* first_of(const char* begin, const char* end, std::string_view set) {
    return std::find_first_of(begin, end, set.begin(), set.end());
}

// Every form this build has, against the definition, over random runs of
// every length up to longest, rounds of each, from every start in them:
// what each disagreement was, empty when they all agree.
inline std::vector<std::string> search_disagreements(std::size_t longest, int rounds) {
    using namespace std::string_view_literals;
    std::vector<std::string> disagreements;
    std::mt19937 random(20261211); // NOLINT(cert-msc32-c,cert-msc51-cpp): repeatable on purpose
    for (std::size_t size = 0; size <= longest; ++size) {
        for (int round = 0; round < rounds; ++round) {
            const std::vector<char> bytes = random_run(size, random);
            const char* const end = bytes.data() + bytes.size();
            for (std::size_t start = 0; start <= size; ++start) {
                const char* const begin = bytes.data() + start;
                std::vector<const char*> expected;
                for (const char* at = first_of(begin, end, "|\0"sv); at != end;
                     at = first_of(at + 1, end, "|\0"sv)) {
                    expected.push_back(at);
                }
                for (const delimiter_search& search : delimiter_searches()) {
                    if (search.field_ends(begin, end) != expected ||
                        search.line_end(begin, end) != first_of(begin, end, "\n"sv)) {
                        disagreements.push_back(std::string(search.name) + " on " +
                                                std::to_string(size) + " bytes from " +
                                                std::to_string(start));
                    }
                }
            }
        }
    }
    return disagreements;
}

} // namespace delimiter_definition
