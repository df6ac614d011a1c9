// The processor-specific delimiter searches, checked on other processors:
// this program is built with a cross compiler and run under qemu-user by
// scripts/cross-check, since GoogleTest isn't there for those targets. It
// runs the unit test's check: every search agrees with the definition, at
// every length around the block size.
#include <cstdio>
#include <string>
#include <vector>

#include "delimiter_definition.h"
#include "delimiters.h"

int main() {
    const std::vector<std::string> disagreements =
        delimiter_definition::search_disagreements(3 * delimiter_block_size + 8, 2);
    for (std::size_t i = 0; i < disagreements.size() && i < 10; ++i) {
        std::printf("%s\n", disagreements[i].c_str());
    }
    std::string names;
    for (const delimiter_search& search : delimiter_searches()) {
        names += std::string(names.empty() ? "" : ", ") + search.name;
    }
    std::printf("%s: %s\n", names.c_str(), disagreements.empty() ? "all agree" : "FAILED");
    return disagreements.empty() ? 0 : 1;
}
