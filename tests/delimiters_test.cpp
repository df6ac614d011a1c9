#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "delimiter_definition.h"
#include "delimiters.h"

using namespace std::string_literals;

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

// Passing over a line hands out none of its delimiters and goes on with the
// first one after its newline, wherever in a block the newline falls.
TEST(delimiter_cursor, skips_to_the_newline_and_walks_on_from_it) {
    for (const std::size_t newline_at : {0, 1, 62, 63, 64, 65, 127, 128, 190}) {
        std::string bytes(192, 'x');
        for (std::size_t i = 3; i < bytes.size(); i += 5) {
            bytes[i] = i % 2 == 0 ? '|' : '\0';
        }
        bytes[newline_at] = '\n';
        bytes[191] = '|';
        std::vector<std::uint64_t> masks(delimiter_masks_for(bytes.size()));
        best_delimiter_finder().find(bytes.data(), bytes.size(), masks.data());
        delimiter_cursor cursor(bytes.data(), masks.data(), 0, bytes.size());
        EXPECT_EQ(cursor.skip_line(), bytes.data() + newline_at) << newline_at;
        EXPECT_EQ(cursor.position(), bytes.data() + newline_at + 1) << newline_at;
        const std::size_t after = bytes.find_first_of("|\n"s + '\0', newline_at + 1);
        EXPECT_EQ(cursor.next(), bytes.data() + after) << newline_at;
        EXPECT_EQ(cursor.skip_line(), nullptr) << "no newline is left after " << newline_at;
        EXPECT_EQ(cursor.position(), bytes.data() + after + 1) << "and the cursor stays";
    }
    // A newline that ends the bytes, at a block's end: the walk then ends.
    const std::string bytes = std::string(63, 'x') + '\n';
    std::vector<std::uint64_t> masks(delimiter_masks_for(bytes.size()));
    best_delimiter_finder().find(bytes.data(), bytes.size(), masks.data());
    delimiter_cursor cursor(bytes.data(), masks.data(), 0, bytes.size());
    EXPECT_EQ(cursor.skip_line(), bytes.data() + 63);
    EXPECT_EQ(cursor.next(), cursor.end());
}

} // namespace
