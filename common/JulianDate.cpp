// Calendar dates as Julian Day Numbers, and the logbook's packed start times.
#include "common/JulianDate.h"

namespace common {

namespace {

struct CalendarDate {
    int iYear;
    int iMonth;
    int iDay;
};

// Fliegel and Van Flandern. The day number is read as unsigned and the steps run in 64 bits, so every
// 32-bit day number gives a defined date (the largest falls in year 11 million and some).
CalendarDate ToCalendar(uint32_t uiDayNumber) {
    int64_t iL = static_cast<int64_t>(uiDayNumber) + 68569;
    const int64_t iN = 4 * iL / 146097;
    iL -= (146097 * iN + 3) / 4;
    const int64_t iI = 4000 * (iL + 1) / 1461001;
    iL = iL - 1461 * iI / 4 + 31;
    const int64_t iK = 80 * iL / 2447;
    const int64_t iDay = iL - 2447 * iK / 80;
    const int64_t iL2 = iK / 11;
    const int64_t iMonth = iK + 2 - 12 * iL2;
    int64_t iYear = 100 * (iN - 49) + iI + iL2;
    // The calendar has no year 0: the year before 1 is -1.
    if (iYear <= 0)
        iYear--;
    return {static_cast<int>(iYear), static_cast<int>(iMonth), static_cast<int>(iDay)};
}

} // namespace

JulianDate::JulianDate(int iYear, int iMonth, int iDay) {
    // Counting the year from March puts the leap day last. 64 bits keep any int argument defined;
    // month 0 or day 0 roll back into the previous year or month as the formula gives.
    const int64_t iY = static_cast<int64_t>(iYear) + (iMonth >= 3 ? 8000 : 7999);
    const int64_t iM = iMonth >= 3 ? iMonth : static_cast<int64_t>(iMonth) + 12;
    const int64_t iDays = iY / 4 + iDay + (153 * iM + 3) / 5 + iY / 400 - iY / 100 + 365 * iY - 1200913;
    uiDayNumber = static_cast<uint32_t>(iDays);
}

int JulianDate::Day() const {
    return ToCalendar(uiDayNumber).iDay;
}

int JulianDate::Month() const {
    return ToCalendar(uiDayNumber).iMonth;
}

int JulianDate::Year() const {
    return ToCalendar(uiDayNumber).iYear;
}

JulianDate PackedTimeToDate(uint32_t uiPackedTime) {
    // seconds + 86400 * (yy + 100 * (month + 13 * day)): the day is the outermost factor.
    const uint32_t uiT = uiPackedTime / 86400u;
    return JulianDate(static_cast<int>(2000u + uiT % 100u), static_cast<int>(uiT / 100u % 13u),
                      static_cast<int>(uiT / 1300u));
}

} // namespace common
