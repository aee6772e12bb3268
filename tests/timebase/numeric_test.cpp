#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "timebase/numeric.h"

namespace kairovel {
namespace {

TEST(Calendar, LeapYearsAndDayCounts) {
    EXPECT_FALSE(IsLeapYear(1900));
    EXPECT_TRUE(IsLeapYear(1996));
    EXPECT_TRUE(IsLeapYear(2000));
    EXPECT_FALSE(IsLeapYear(2100));
    EXPECT_EQ(DaysInYear(1900), 365);
    EXPECT_EQ(DaysInYear(2000), 366);
    EXPECT_EQ(DaysInMonth(2, 1900), 28);
    EXPECT_EQ(DaysInMonth(2, 2000), 29);
    EXPECT_EQ(DaysInMonth(12, 1999), 31);
    EXPECT_EQ(DaysInMonth(4, 1999), 30);
}

TEST(RoundToUnsigned, RoundsHalfUp) {
    EXPECT_EQ(RoundToUnsigned(0.0), 0u);
    EXPECT_EQ(RoundToUnsigned(0.5), 1u);
    EXPECT_EQ(RoundToUnsigned(2.5), 3u);
    EXPECT_EQ(RoundToUnsigned(2.4999), 2u);
    EXPECT_EQ(RoundToUnsigned(1234.49), 1234u);
    EXPECT_EQ(RoundToUnsigned(4294967296.0), 0u);  // the low 32 bits
    EXPECT_EQ(RoundToUnsigned(std::numeric_limits<double>::quiet_NaN()), 0u);
    EXPECT_EQ(RoundToUnsigned(1e300), 0u);
}

TEST(Rates, PerMilleAndAdjustedIncrement) {
    EXPECT_DOUBLE_EQ(PerMille(-500, 1000), -0.5);
    EXPECT_DOUBLE_EQ(PerMille(900, 1800), 0.5);
    EXPECT_DOUBLE_EQ(AdjustedIncrement(0, 100000), 100000);
    EXPECT_DOUBLE_EQ(AdjustedIncrement(5000, 100000), 1000);    // held at 990 per mille
    EXPECT_DOUBLE_EQ(AdjustedIncrement(-5000, 100000), 199000);
    EXPECT_DOUBLE_EQ(AdjustedIncrement(0.5, 100000), 99950);
    EXPECT_NEAR(AdjustedIncrement(0.5 * 0.0333333333, 100000), 99998.333, 0.001);
}

}  // namespace
}  // namespace kairovel
