// The processor-specific delimiter finders, checked on other processors: this
// program is built with a cross compiler and run under qemu-user by
// scripts/cross-check, since GoogleTest isn't there for those targets. It
// checks what the unit test checks on this machine: every finder agrees with
// the definition, at every length around the block size.
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "platform.h"

namespace {

std::vector<std::uint64_t> defined_masks(const std::vector<char>& bytes) {
    // One more mask closes them, every bit set.
    std::vector<std::uint64_t> masks((bytes.size() + 63) / 64 + 1, ~std::uint64_t{0});
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '|' && c != '\n' && c != '\0') {
            masks[i / 64] &= ~(std::uint64_t{1} << (i % 64));
        }
    }
    return masks;
}

} // namespace

int main() {
    const std::vector<delimiter_finder> finders = usable_delimiter_finders();
    bool best_listed = false;
    for (const delimiter_finder finder : finders) {
        best_listed = best_listed || finder == best_delimiter_finder();
    }
    if (!best_listed) {
        std::puts("the best finder is not among the usable ones");
        return 1;
    }
    const char alphabet[] = {'|', '\n', '\0', 'a', ' ', '\xfc', '\x8a', '\xff', '\r'};
    std::mt19937 random(20261210);
    int failures = 0;
    for (std::size_t size = 0; size <= 300; ++size) {
        for (int round = 0; round < 10; ++round) {
            std::vector<char> bytes(size);
            for (char& c : bytes) {
                c = alphabet[random() % sizeof alphabet];
            }
            const std::vector<std::uint64_t> expected = defined_masks(bytes);
            for (std::size_t f = 0; f < finders.size(); ++f) {
                std::vector<std::uint64_t> masks(expected.size());
                finders[f](bytes.data(), bytes.size(), masks.data());
                if (masks != expected && failures++ < 10) {
                    std::printf("finder %zu disagrees on %zu bytes\n", f, size);
                }
            }
        }
    }
    std::printf("%zu finders, %s\n", finders.size(), failures == 0 ? "all agree" : "FAILED");
    return failures == 0 ? 0 : 1;
}
