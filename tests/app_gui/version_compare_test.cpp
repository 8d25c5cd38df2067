#include "app/version_compare.h"

#include <gtest/gtest.h>

#include <string>

using namespace pimsel;

namespace {

struct OrderCase {
    const char16_t* older;
    const char16_t* newer;
};

class VersionOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(VersionOrder, OlderSortsBeforeNewerBothWays) {
    const OrderCase c = GetParam();
    EXPECT_LT(compareVersions(c.older, c.newer), 0);
    EXPECT_GT(compareVersions(c.newer, c.older), 0);
    EXPECT_TRUE(isNewerVersion(c.newer, c.older));
    EXPECT_FALSE(isNewerVersion(c.older, c.newer));
}

INSTANTIATE_TEST_SUITE_P(
    Versions, VersionOrder,
    ::testing::Values(OrderCase{u"1.9", u"1.10"}, OrderCase{u"1.2.9", u"1.2.10"}, OrderCase{u"0.9.9", u"1.0"},
                      OrderCase{u"1.2", u"1.2.1"}, OrderCase{u"1.2.0-beta.2", u"1.2.0-rc.1"},
                      OrderCase{u"1.2.0-rc.1", u"1.2.0"}, OrderCase{u"1.2.0-beta.2", u"1.2.0-beta.10"},
                      OrderCase{u"1.2.0-alpha", u"1.2.0-alpha.1"}, OrderCase{u"1.2.0-rc.1", u"1.2.1-alpha"},
                      OrderCase{u"1.2b3", u"1.2"}, OrderCase{u"1.2b3", u"1.2rc1"},
                      OrderCase{u"1.2a1", u"1.2b1"}, OrderCase{u"1.0-1", u"1.0-alpha"},
                      OrderCase{u"2", u"10"}, OrderCase{u"99999999999999999999", u"100000000000000000000"},
                      OrderCase{u"v1.9", u"1.10"}, OrderCase{u"", u"0.0.1"}));

struct EqualCase {
    const char16_t* a;
    const char16_t* b;
};

class VersionEquality : public ::testing::TestWithParam<EqualCase> {};

TEST_P(VersionEquality, ComparesEqualBothWays) {
    const EqualCase c = GetParam();
    EXPECT_EQ(compareVersions(c.a, c.b), 0);
    EXPECT_EQ(compareVersions(c.b, c.a), 0);
    EXPECT_FALSE(isNewerVersion(c.a, c.b));
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionEquality,
                         ::testing::Values(EqualCase{u"v1.2", u"1.2"}, EqualCase{u"1.2", u"1.2.0"},
                                           EqualCase{u"1.2", u"1.2.0.0"}, EqualCase{u"V1.2.0", u"1.2"},
                                           EqualCase{u"01.002", u"1.2"}, EqualCase{u" 1.2 ", u"1.2"},
                                           EqualCase{u"1.2.0+build.7", u"1.2"},
                                           EqualCase{u"1.2.0-RC.1", u"1.2.0-rc.1"},
                                           EqualCase{u"1.2.0-rc1", u"1.2.0-rc.1"}, EqualCase{u"", u"0"}));

// Whatever a feed says, the comparison answers and stays antisymmetric.
TEST(VersionCompare, GarbageIsOrderedWithoutFaults) {
    const char16_t* inputs[] = {u"",
                                u"v",
                                u"-",
                                u"+",
                                u".",
                                u"..1..",
                                u"abc",
                                u"1.2.3.4.5.6.7",
                                u"1.-2",
                                u"1..2",
                                u"--rc--",
                                u"v1.2-",
                                u"\u00e9t\u00e9",
                                u"1.2.0-beta..2"};
    for (const char16_t* a : inputs) {
        for (const char16_t* b : inputs) {
            const int ab = compareVersions(a, b);
            const int ba = compareVersions(b, a);
            EXPECT_EQ(ab > 0, ba < 0) << std::u16string(a).size() << " vs " << std::u16string(b).size();
            EXPECT_EQ(ab == 0, ba == 0);
        }
        EXPECT_EQ(compareVersions(a, a), 0);
    }
}

} // namespace
