// Civil dates to day numbers and back.
#include "base/calendar.h"

#include <gtest/gtest.h>

namespace mvx {
namespace {

TEST(CalendarTest, KnownDatesAndTheirDayNumbers) {
  struct Case {
    int year, month, day;
    long long days;
  } cases[] = {
      {1970, 1, 1, 0},       {1969, 12, 31, -1},  {2000, 2, 29, 11016},
      {2000, 3, 1, 11017},   {2001, 1, 1, 11323}, {1900, 3, 1, -25508},
      {1900, 2, 28, -25509}, {2100, 3, 1, 47541}, {2100, 2, 28, 47540},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.year << "-" << c.month << "-" << c.day);
    EXPECT_EQ(DaysFromCivil(c.year, c.month, c.day), c.days);
    const CivilDate date = CivilFromDays(c.days);
    EXPECT_EQ(date.year, c.year);
    EXPECT_EQ(date.month, c.month);
    EXPECT_EQ(date.day, c.day);
  }
}

TEST(CalendarTest, MonthsAndDaysOutsideTheirRangeCarryOver) {
  EXPECT_EQ(DaysFromCivil(2000, 13, 1), DaysFromCivil(2001, 1, 1));
  EXPECT_EQ(DaysFromCivil(2000, 0, 1), DaysFromCivil(1999, 12, 1));
  EXPECT_EQ(DaysFromCivil(2000, -12, 1), DaysFromCivil(1998, 12, 1));
  EXPECT_EQ(DaysFromCivil(2000, 3, 0), DaysFromCivil(2000, 2, 29));
  EXPECT_EQ(DaysFromCivil(2001, 2, 29), DaysFromCivil(2001, 3, 1));
}

TEST(CalendarTest, ConsecutiveDayNumbersAreConsecutiveDates) {
  CivilDate previous = CivilFromDays(DaysFromCivil(1799, 12, 31));
  for (long long days = DaysFromCivil(1800, 1, 1); days <= DaysFromCivil(2200, 12, 31); ++days) {
    const CivilDate date = CivilFromDays(days);
    ASSERT_EQ(DaysFromCivil(date.year, date.month, date.day), days);
    const bool next_day =
        date.year == previous.year && date.month == previous.month && date.day == previous.day + 1;
    const bool next_month =
        date.day == 1 && ((date.year == previous.year && date.month == previous.month + 1) ||
                          (date.year == previous.year + 1 && date.month == 1 &&
                           previous.month == 12 && previous.day == 31));
    ASSERT_TRUE(next_day || next_month) << date.year << "-" << date.month << "-" << date.day;
    previous = date;
  }
}

}  // namespace
}  // namespace mvx
