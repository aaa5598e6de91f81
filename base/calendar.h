// Civil dates of the proleptic Gregorian calendar as day numbers and back, for
// the clocks that count time in milliseconds from a date.
#pragma once

#include <ctime>

#include "base/platform.h"

namespace mvx {

struct CivilDate {
  int year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to 31
};

// Days from 1970-01-01 to the given date. Any month and day count (month 13 is
// January of the next year, day 0 the last day of the month before), so a sum
// of clock fields never breaks it.
long long DaysFromCivil(long long year, long long month, long long day);

// The date that lies the given number of days after 1970-01-01 (before it when
// negative).
CivilDate CivilFromDays(long long days);

// The system's local time now, to the millisecond. Cheap enough to stamp every
// log line: the time zone is read once, not on every call.
LocalTime SystemLocalTime();

// The system's broken-down local time of a moment (per system, in os_*.cpp).
bool LocalCalendarTime(std::time_t seconds, std::tm& out);

}  // namespace mvx
