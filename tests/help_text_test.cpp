#include <gtest/gtest.h>

#include "fixtures.h"
#include "help_text.h"

namespace {

TEST(help_text, version_line_is_one_line) {
    fixture::memory_stream out;
    print_version_line(out.output());
    EXPECT_EQ(out.text(), fixture::expected_version_line());
}

TEST(help_text, usage_names_the_program_as_invoked) {
    for (const char* name : {"vandrel", "./x", "/usr/local/bin/vandrel", "%s%n"}) {
        fixture::memory_stream out;
        print_usage(name, out.output());
        EXPECT_EQ(out.text(), fixture::expected_help(name));
    }
}

} // namespace
