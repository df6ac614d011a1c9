// What the delimiter finders must find, by definition, and runs of bytes to
// try them on. Shared by the unit test and by the check that runs on other
// processors under qemu-user, so it needs nothing but the standard library.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "platform.h"

namespace delimiter_definition {

// A bit for each "|", newline and NUL, and for each byte missing from a last,
// partial block; then the closing mask, every bit set.
inline std::vector<std::uint64_t> masks_of(const std::vector<char>& bytes) {
    std::vector<std::uint64_t> masks(delimiter_masks_for(bytes.size()), ~std::uint64_t{0});
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '|' && c != '\n' && c != '\0') {
            masks[i / 64] &= ~(std::uint64_t{1} << (i % 64));
        }
    }
    return masks;
}

// Random bytes that mix the delimiters with near misses (0x7C and 0x0A with
// the high bit set, 0xFF), allocated at their exact size, so that a sanitizer
// catches a read past them.
inline std::vector<char> random_run(std::size_t size, std::mt19937& random) {
    constexpr char alphabet[] = {'|', '\n', '\0', 'a', ' ', '\xfc', '\x8a', '\xff', '\r'};
    std::vector<char> bytes(size);
    for (char& c : bytes) {
        c = alphabet[random() % sizeof alphabet];
    }
    return bytes;
}

} // namespace delimiter_definition
