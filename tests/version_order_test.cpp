#include <compare>
#include <ostream>
#include <string_view>

#include <gtest/gtest.h>

#include "version_order.h"

namespace {

// "lesser < greater", or "left = right" when equivalent.
struct version_pair {
    std::string_view lesser;
    std::string_view greater;
    bool equivalent = false;
    friend void PrintTo(const version_pair& pair, std::ostream* os) {
        *os << pair.lesser << (pair.equivalent ? " = " : " < ") << pair.greater;
    }
};

constexpr version_pair less(std::string_view a, std::string_view b) {
    return {a, b, false};
}
constexpr version_pair same(std::string_view a, std::string_view b) {
    return {a, b, true};
}

class version_order_test : public testing::TestWithParam<version_pair> {};

// Each pair is asked both ways round: an order that only holds one way (a
// comparison that returns "less" for both, say) fails.
TEST_P(version_order_test, orders_the_pair_both_ways_round) {
    const version_pair& pair = GetParam();
    if (pair.equivalent) {
        EXPECT_EQ(compare_versions(pair.lesser, pair.greater), std::weak_ordering::equivalent);
        EXPECT_EQ(compare_versions(pair.greater, pair.lesser), std::weak_ordering::equivalent);
    } else {
        EXPECT_EQ(compare_versions(pair.lesser, pair.greater), std::weak_ordering::less);
        EXPECT_EQ(compare_versions(pair.greater, pair.lesser), std::weak_ordering::greater);
    }
}

// The Porter's Handbook and pkg-version(8), then pkg's notes on its order.
INSTANTIATE_TEST_SUITE_P(
    documented, version_order_test,
    testing::Values(less("1.2", "1.3"), same("1.2", "1.2"), same("1.2", "1.2.0"),
                    less("1.2.p1", "1.2"), less("1.2.a1", "1.2.b1"), less("1.2", "1.2p1"),
                    less("1.0", "1.0_1"), less("2.0", "1.0,1"), less("1.0_1", "1.0,1"),
                    same("1.0:2003.09.16", "1.0.2003.09.16"), same("10..1", "10.1"),
                    same("10", "10.0"), same("10", "10.0.0"), same("10a1b2", "10a1.b2"),
                    less("10", "10a"), less("10a", "10b"), less("a", "0"), less("10.a", "10"),
                    same("10alpha", "10.a"), less("10alpha", "10"), less("pl11", "alpha3"),
                    less("alpha3", "0.1beta2"), same("0.1beta2", "0.1.b2"), less("0.1beta2", "0.1"),
                    same("1.d2", "1.dev2"), same("1.dev2", "1.Development2"), less("2.*", "2pl1"),
                    less("2pl1", "2alpha3"), less("2alpha3", "2.9f7"), less("2.9f7", "3.*"),
                    same("1.0A", "1.0a")));

// What the ports tree holds, and numbers past any machine word.
INSTANTIATE_TEST_SUITE_P(
    ports, version_order_test,
    testing::Values(less("7.3.1314", "7.4"), less("2.4.0", "2.5.0"), less("5.9", "5.9_1"),
                    less("9.9_5", "10.0"), less("1.9.9,1", "1.0,2"), same("1.0,0", "1.0"),
                    same("1.0_0", "1.0"), less("3.0.0.r1", "3.0.0"), less("3.0.0rc2", "3.0.0"),
                    less("3.0.0rc2", "3.0.0rc10"), less("1.0.beta1", "1.0.rc1"),
                    less("1.0pre1", "1.0rc1"), same("1.0pre1", "1.0.p1"),
                    less("20230101", "20231231"), same("007", "7"),
                    less("99999999999999999999", "100000000000000000000"), less("1.0_9", "1.0_10"),
                    less("1.2_99,1", "1.3,1"), less("", "0.1"), same("", "0")));

// A "+" ends a block: what follows it meets only what follows the other's "+",
// and a version that has reached its "+" counts as 0 until the other does.
INSTANTIATE_TEST_SUITE_P(plus_blocks, version_order_test,
                         testing::Values(less("1.0", "1.0+1"), less("1.0+1", "1.0.1"),
                                         same("1.0+1", "1.0+1.0"), less("1.0pl2", "1.0+2"),
                                         less("2+1", "2.1"), less("1.0+a", "1.0"),
                                         less("1.0+a", "1.0+b"), less("1.2+3", "1.2+3.1"),
                                         less("1+1+1", "1+2"), less("1.0+1", "1.0+1_1"),
                                         less("1.0+1", "1+2"), less("1.a", "1+1"),
                                         same("1", "1+")));

} // namespace
