// The processor-specific delimiter finders, checked on other processors: this
// program is built with a cross compiler and run under qemu-user by
// scripts/cross-check, since GoogleTest isn't there for those targets. It
// checks what the unit test checks on this machine: every finder agrees with
// the definition, at every length around the block size.
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "delimiter_definition.h"
#include "platform.h"

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
    std::mt19937 random(20261210);
    int failures = 0;
    for (std::size_t size = 0; size <= 300; ++size) {
        for (int round = 0; round < 10; ++round) {
            const std::vector<char> bytes = delimiter_definition::random_run(size, random);
            const std::vector<std::uint64_t> expected = delimiter_definition::masks_of(bytes);
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
