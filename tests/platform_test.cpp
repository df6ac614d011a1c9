#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "platform.h"

namespace {

// The masks by their definition: a bit for each "|", newline and NUL, and for
// each byte missing from a last, partial block.
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

// Every finder this machine runs (the vector ones too) over random runs of
// bytes that mix the delimiters with near misses (0x7C and 0x0A with the high
// bit set, 0xFF), at every length around the block size. The runs are
// allocated at their exact size, so that the sanitizers catch a read past one.
TEST(delimiter_finders, agree_with_the_definition_and_read_nothing_past_the_run) {
    const std::vector<delimiter_finder> finders = usable_delimiter_finders();
    ASSERT_FALSE(finders.empty());
    EXPECT_NE(std::find(finders.begin(), finders.end(), best_delimiter_finder()), finders.end());
    const char alphabet[] = {'|', '\n', '\0', 'a', ' ', '\xfc', '\x8a', '\xff', '\r'};
    std::mt19937 random(20261210); // NOLINT(cert-msc32-c,cert-msc51-cpp): repeatable on purpose
    for (const std::size_t size : {0, 1, 31, 32, 33, 63, 64, 65, 127, 128, 129, 200, 1000}) {
        for (int round = 0; round < 20; ++round) {
            std::vector<char> bytes(size);
            for (char& c : bytes) {
                c = alphabet[random() % sizeof alphabet];
            }
            const std::vector<std::uint64_t> expected = defined_masks(bytes);
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
