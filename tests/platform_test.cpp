#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "delimiter_definition.h"
#include "fixtures.h"
#include "platform.h"

namespace {

// Every finder this machine runs (the vector ones too) over random runs of
// bytes at every length around the block size; the sanitizers catch a read
// past a run.
TEST(delimiter_finders, agree_with_the_definition_and_read_nothing_past_the_run) {
    const std::vector<delimiter_finder> finders = usable_delimiter_finders();
    ASSERT_FALSE(finders.empty());
    EXPECT_NE(std::find(finders.begin(), finders.end(), best_delimiter_finder()), finders.end());
    std::mt19937 random(20261210); // NOLINT(cert-msc32-c,cert-msc51-cpp): repeatable on purpose
    for (const std::size_t size : {0, 1, 31, 32, 33, 63, 64, 65, 127, 128, 129, 200, 1000}) {
        for (int round = 0; round < 20; ++round) {
            const std::vector<char> bytes = delimiter_definition::random_run(size, random);
            const std::vector<std::uint64_t> expected = delimiter_definition::masks_of(bytes);
            for (std::size_t f = 0; f < finders.size(); ++f) {
                std::vector<std::uint64_t> masks(expected.size());
                finders[f](bytes.data(), bytes.size(), masks.data());
                ASSERT_EQ(masks, expected) << "finder " << f << ", " << size << " bytes";
            }
        }
    }
}

} // namespace

#if !defined(__FreeBSD__)
namespace {

struct release_file_case {
    const char* content;
    std::string value; // empty: the size stays 0
    friend void PrintTo(const release_file_case& c, std::ostream* os) {
        *os << "'" << c.content << "'";
    }
};

class release_layer_test : public testing::TestWithParam<release_file_case> {};

TEST_P(release_layer_test, follows_the_sysctl_size_protocol) {
    const release_file_case& c = GetParam();
    const fixture::temp_dir dir;
    fixture::write_file(dir / "osrelease", c.content);
    const std::string file = (dir / "osrelease").string();

    std::size_t size = 0;
    sysctl_value_from_file(file.c_str(), nullptr, &size);
    if (c.value.empty()) {
        EXPECT_EQ(size, 0U);
        return;
    }
    ASSERT_EQ(size, c.value.size() + 1) << "the length plus one for the NUL";
    std::string buffer(size, 'x');
    ASSERT_EQ(sysctl_value_from_file(file.c_str(), buffer.data(), &size), 0);
    EXPECT_EQ(buffer, c.value + '\0');

    std::size_t small = 2;
    char two[2] = {};
    EXPECT_EQ(sysctl_value_from_file(file.c_str(), two, &small), -1);
    EXPECT_EQ(errno, ENOMEM);
}

INSTANTIATE_TEST_SUITE_P(contents, release_layer_test,
                         testing::Values(release_file_case{"15.1-RELEASE-p2\n", "15.1-RELEASE-p2"},
                                         release_file_case{"14.3-STABLE", "14.3-STABLE"},
                                         release_file_case{"16\n", "16"},
                                         release_file_case{".1\n", ".1"},
                                         release_file_case{"\n", ""}, release_file_case{"", ""}));

TEST(release_layer, answers_only_kern_osrelease) {
    std::size_t size = 0;
    EXPECT_EQ(sysctlbyname("kern.ostype", nullptr, &size, nullptr, 0), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(size, 0U);
    EXPECT_EQ(sysctlbyname("kern.osrelease", nullptr, &size, "x", 1), -1);
    EXPECT_EQ(errno, EPERM);
}

TEST(release_layer, a_missing_file_leaves_the_size_at_zero) {
    std::size_t size = 42;
    EXPECT_EQ(sysctl_value_from_file("/nonexistent/osrelease", nullptr, &size), -1);
    EXPECT_EQ(size, 0U);
}

} // namespace
#endif
