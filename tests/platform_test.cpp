#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "platform.h"

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
