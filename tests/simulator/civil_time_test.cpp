#include <gtest/gtest.h>

#include "velta36sim/civil_time.h"

using namespace velta36sim;

TEST(CivilTime, SecondsRoundTripAcrossMonthAndLeapDays)
{
    const CivilTime times[] = {{2000, 1, 1, 0, 0, 0}, {2024, 2, 29, 23, 59, 59},
                               {2024, 3, 1, 0, 0, 0}, {2099, 12, 31, 12, 30, 15}};
    for (const CivilTime& t : times)
        EXPECT_EQ(FromSeconds(ToSeconds(t)), t) << ToText(t);
    EXPECT_EQ(ToSeconds(CivilTime{2000, 1, 1, 0, 0, 0}), 0);
    EXPECT_EQ(ToSeconds(CivilTime{2024, 3, 1, 0, 0, 0}) - ToSeconds(CivilTime{2024, 2, 28, 0, 0, 0}), 2 * 86400);
    // Beyond 2038: nothing may depend on a 32-bit time_t.
    EXPECT_EQ(FromSeconds(ToSeconds(CivilTime{2040, 6, 1, 8, 0, 0}) + 86400), (CivilTime{2040, 6, 2, 8, 0, 0}));
}

TEST(CivilTime, WeekdayCountsFromSunday)
{
    EXPECT_EQ(ControllerWeekday(CivilTime{2024, 3, 5, 14, 7, 0}), 3);   // a Tuesday
    EXPECT_EQ(ControllerWeekday(CivilTime{2024, 3, 3, 0, 0, 0}), 1);   // Sunday
    EXPECT_EQ(ControllerWeekday(CivilTime{2024, 3, 9, 0, 0, 0}), 7);   // Saturday
    EXPECT_EQ(ControllerWeekday(CivilTime{2000, 1, 1, 0, 0, 0}), 7);   // Saturday
}

TEST(CivilTime, ValidityRejectsImpossibleDates)
{
    EXPECT_TRUE(IsValid(CivilTime{2024, 2, 29, 0, 0, 0}));
    EXPECT_FALSE(IsValid(CivilTime{2023, 2, 29, 0, 0, 0}));
    EXPECT_FALSE(IsValid(CivilTime{2024, 13, 1, 0, 0, 0}));
    EXPECT_FALSE(IsValid(CivilTime{2024, 0, 1, 0, 0, 0}));
    EXPECT_FALSE(IsValid(CivilTime{2024, 4, 31, 0, 0, 0}));
    EXPECT_FALSE(IsValid(CivilTime{2024, 4, 1, 24, 0, 0}));
    EXPECT_FALSE(IsValid(CivilTime{2024, 4, 1, 0, 60, 0}));
}
