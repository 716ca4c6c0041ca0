// Version ordering: the table of known pairs, and one sorted list checked pair by pair.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/version_order.h"

namespace lorvane {
namespace {

const char* name(std::strong_ordering order) {
    if (order < 0) return "less";
    if (order > 0) return "greater";
    return "equal";
}

struct OrderCase {
    const char* a;
    const char* b;
    std::strong_ordering expected;
};

class VersionOrderTable : public ::testing::TestWithParam<OrderCase> {};

TEST_P(VersionOrderTable, OrdersAndReversesConsistently) {
    const OrderCase& c = GetParam();
    EXPECT_STREQ(name(compareVersionsNumerically(c.a, c.b)), name(c.expected)) << c.a << " vs " << c.b;
    // Antisymmetry: swapping the arguments flips the answer.
    EXPECT_STREQ(name(compareVersionsNumerically(c.b, c.a)), name(0 <=> c.expected)) << c.b << " vs " << c.a;
}

constexpr auto less = std::strong_ordering::less;
constexpr auto equal = std::strong_ordering::equal;
constexpr auto greater = std::strong_ordering::greater;

INSTANTIATE_TEST_SUITE_P(Version, VersionOrderTable, ::testing::Values(
    // Dotted decimal versions.
    OrderCase{"1.10.0", "1.9.3", greater},   // runs compare by value, not character by character
    OrderCase{"1.0.1", "1.0", greater},
    OrderCase{"1.0", "1.0.1", less},
    OrderCase{"1.0.0", "1.0", greater},      // a proper prefix orders first
    OrderCase{"1.4.2", "1.4.2", equal},
    OrderCase{"1.2.0", "1.3.0", less},
    OrderCase{"2", "10", less},
    OrderCase{"", "", equal},
    OrderCase{"", "0", less},
    // Other characters compare by value, case-sensitively.
    OrderCase{"1.0a", "1.0b", less},
    OrderCase{"V1", "v1", less},
    OrderCase{"1.0-rc2", "1.0-rc10", less},  // digit runs inside words still compare by value
    OrderCase{"1.0-beta", "1.0", greater},
    OrderCase{"1.0.0", "1.0a", less},        // '.' before 'a'
    OrderCase{"1.a", "1.1", greater},        // 'a' after '1'
    OrderCase{"1.\xC3\xA9", "1.z", greater}, // UTF-8 bytes beyond ASCII order after it
    // Leading zeros: value first, padding only as the last word.
    OrderCase{"1.01", "1.1", less},
    OrderCase{"1.00", "1.0", less},
    OrderCase{"007", "7", less},
    OrderCase{"1.01.9", "1.1.0", greater},   // a value difference outweighs earlier padding
    OrderCase{"1.01", "1.1.0", less},        // so does running out first
    // Runs longer than any integer type.
    OrderCase{"1.18446744073709551616", "1.18446744073709551615", greater},
    OrderCase{"99999999999999999999999", "100000000000000000000000", less},
    OrderCase{"1.000000000000000000000000000000000001", "1.2", less}));

TEST(VersionOrder, SortedListIsOrderedPairByPair) {
    // Checks every pair, so an inconsistent rule (one that is not transitive) shows up here.
    const std::vector<std::string> sorted = {
        "", "0", "1", "1.00", "1.0", "1.0.0", "1.0.1", "1.0a", "1.1", "1.2.0",
        "1.9.3", "1.10.0", "1.10.0-beta", "2", "10", "10a", "a"};
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        EXPECT_EQ(compareVersionsNumerically(sorted[i], sorted[i]), std::strong_ordering::equal) << sorted[i];
        for (std::size_t j = i + 1; j < sorted.size(); ++j) {
            EXPECT_EQ(compareVersionsNumerically(sorted[i], sorted[j]), std::strong_ordering::less)
                << sorted[i] << " should order before " << sorted[j];
        }
    }
}

}  // namespace
}  // namespace lorvane
