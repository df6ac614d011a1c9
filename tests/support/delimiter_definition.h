// What the delimiter finders must find, by definition, and runs of bytes to
// try them on. Shared by the unit test and by the check that runs on other
// processors under qemu-user, so it needs nothing but the standard library and
// the finders.
#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "delimiters.h"

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

// Every finder this processor runs, against the definition, over random runs
// of every length up to longest and rounds of each: what each disagreement
// was, empty when they all agree.
inline std::vector<std::string> finder_disagreements(std::size_t longest, int rounds) {
    std::vector<std::string> disagreements;
    const std::span<const delimiter_finder> finders = usable_delimiter_finders();
    bool best_listed = false;
    for (const delimiter_finder& finder : finders) {
        best_listed = best_listed || finder.find == best_delimiter_finder().find;
    }
    if (!best_listed) {
        disagreements.emplace_back("the best finder is not among the usable ones");
    }
    std::mt19937 random(20261210); // NOLINT(cert-msc32-c,cert-msc51-cpp): repeatable on purpose
    for (std::size_t size = 0; size <= longest; ++size) {
        for (int round = 0; round < rounds; ++round) {
            const std::vector<char> bytes = random_run(size, random);
            const std::vector<std::uint64_t> expected = masks_of(bytes);
            for (const delimiter_finder& finder : finders) {
                std::vector<std::uint64_t> masks(expected.size());
                finder.find(bytes.data(), bytes.size(), masks.data());
                if (masks != expected) {
                    disagreements.push_back(std::string(finder.name) + " on " +
                                            std::to_string(size) + " bytes");
                }
            }
        }
    }
    return disagreements;
}

} // namespace delimiter_definition
