#pragma once

// Calendar dates as Julian Day Numbers, and the logbook's packed start times.

#include <cstdint>

namespace common {

// A calendar date held as its Julian Day Number (1 January 2000 is 2451545).
class JulianDate {
public:
    JulianDate() = default;
    explicit JulianDate(uint32_t uiDayNumber) : uiDayNumber(uiDayNumber) {}
    JulianDate(int iYear, int iMonth, int iDay);

    int Day() const;
    int Month() const;
    int Year() const;

    uint32_t uiDayNumber = 0;
};

// Date part of the instrument's packed logbook time; the time of day is dropped.
JulianDate PackedTimeToDate(uint32_t uiPackedTime);

} // namespace common
