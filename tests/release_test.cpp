#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "release.h"

namespace {

struct major_case {
    std::string_view release;
    std::string_view major;
};

TEST(release_major, is_the_release_up_to_its_first_dot) {
    for (const major_case& c :
         {major_case{"15.1-RELEASE-p2", "15"}, major_case{"14.3-STABLE", "14"},
          major_case{"16.0-CURRENT", "16"}, major_case{"16", "16"}, major_case{".1-RELEASE", ""},
          major_case{"", ""}, major_case{"15..1", "15"}}) {
        EXPECT_EQ(release_major(c.release), c.major) << "'" << c.release << "'";
    }
}

struct release_file_case {
    std::string content;
    std::optional<std::string> release;
    friend void PrintTo(const release_file_case& c, std::ostream* os) {
        *os << "'" << c.content << "'";
    }
};

class release_from_file_test : public testing::TestWithParam<release_file_case> {};

TEST_P(release_from_file_test, is_the_text_without_its_newline) {
    const release_file_case& c = GetParam();
    const fixture::temp_dir dir;
    fixture::write_file(dir / "osrelease", c.content);
    EXPECT_EQ(release_from_file((dir / "osrelease").c_str()), c.release);
}

INSTANTIATE_TEST_SUITE_P(
    contents, release_from_file_test,
    testing::Values(release_file_case{"15.1-RELEASE-p2\n", "15.1-RELEASE-p2"},
                    release_file_case{"14.3-STABLE", "14.3-STABLE"},
                    release_file_case{"16\n", "16"}, release_file_case{".1\n", ".1"},
                    release_file_case{std::string("15.1\0junk\n", 10), "15.1"},
                    release_file_case{std::string("\0junk\n", 6), std::nullopt},
                    release_file_case{"\n", std::nullopt}, release_file_case{"", std::nullopt}));

TEST(release_from_file, a_missing_file_gives_no_release) {
    EXPECT_EQ(release_from_file("/nonexistent/osrelease"), std::nullopt);
}

} // namespace
