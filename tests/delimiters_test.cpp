#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "delimiter_definition.h"
#include "delimiters.h"

namespace {

// Every finder this machine runs (the vector ones too) over random runs of
// bytes at every length around the block size; the sanitizers catch a read
// past a run, since each run is allocated at its exact size.
TEST(delimiter_finders, agree_with_the_definition_and_read_nothing_past_the_run) {
    ASSERT_FALSE(usable_delimiter_finders().empty());
    const std::vector<std::string> disagreements = delimiter_definition::finder_disagreements(
        3 * delimiter_block_size + delimiter_block_size / 2, 20);
    EXPECT_TRUE(disagreements.empty())
        << disagreements.front() << " and " << disagreements.size() - 1 << " more";
}

// Masks brought up to date after more bytes arrived equal masks made afresh,
// whatever the old end and its block.
TEST(delimiter_masks, are_updated_as_if_made_afresh) {
    std::string bytes;
    for (int i = 0; i < 300; ++i) {
        bytes += i % 7 == 0 ? '|' : (i % 13 == 0 ? '\n' : 'x');
    }
    for (const std::size_t unchanged : {0, 1, 63, 64, 65, 130, 299}) {
        for (const std::size_t end : {unchanged, unchanged + 1, std::size_t{300}}) {
            std::vector<std::uint64_t> fresh(delimiter_masks_for(end));
            best_delimiter_finder().find(bytes.data(), end, fresh.data());
            std::vector<std::uint64_t> updated(delimiter_masks_for(end));
            best_delimiter_finder().find(bytes.data(), unchanged, updated.data());
            update_delimiter_masks(bytes.data(), unchanged, end, updated.data());
            EXPECT_EQ(updated, fresh) << unchanged << " bytes, then " << end;
        }
    }
}

} // namespace
