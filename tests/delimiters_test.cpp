#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "delimiter_definition.h"
#include "delimiters.h"

using namespace std::string_literals;

namespace {

// Every search this build has (the vector one too) over random runs of bytes
// at every length around the block size, from every start; the
// sanitizers catch a read past a run, since each run is allocated at its exact
// size.
TEST(delimiter_searches, agree_with_the_definition_and_read_nothing_past_the_run) {
    ASSERT_FALSE(delimiter_searches().empty());
    const std::vector<std::string> disagreements =
        delimiter_definition::search_disagreements(3 * delimiter_block_size + 8, 2);
    EXPECT_TRUE(disagreements.empty())
        << disagreements.front() << " and " << disagreements.size() - 1 << " more";
}

// The program's walks use the last form listed.
TEST(delimiter_searches, the_program_uses_the_last_form_listed) {
    const std::string bytes = std::string(70, 'x') + "\0|\n"s + std::string(70, '|');
    const char* const end = bytes.data() + bytes.size();
    const delimiter_search& used = delimiter_searches().back();
    EXPECT_EQ(field_end_walk(bytes.data(), end).next(), used.field_ends(bytes.data(), end).front());
    EXPECT_EQ(find_line_end(bytes.data(), end), used.line_end(bytes.data(), end));
}

} // namespace
