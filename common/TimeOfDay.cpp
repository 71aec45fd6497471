// The time of day in milliseconds since midnight, as every stamp of the parser takes it.
#include "common/TimeOfDay.h"

#include <QDateTime>

#include <chrono>

namespace common {

namespace {

constexpr int64_t kiMsPerDay = 86400000;
// Zones change their offset from UTC only at the start of a quarter of an hour.
constexpr int64_t kiMsPerQuarterHour = 900000;

// Asking Qt for the local time costs about a microsecond, more than parsing a sentence, and the C library
// behind it allocates when no TZ is set. The wall clock in UTC costs tens of nanoseconds and is read on
// every call, so a clock that was set is followed at once; the zone's offset is asked for only when the
// time enters another quarter of an hour, which catches every change of daylight saving time as it
// happens, and a change of the machine's zone within fifteen minutes.
struct ZoneOffset {
    bool bKnown = false;
    bool bValid = false;
    int64_t iQuarterHour = 0;
    int64_t iOffsetMs = 0;
};

// One per thread, so that no caller needs a lock.
thread_local ZoneOffset zoneOffset;

// Rounds down like the wall clock's own milliseconds, also before the epoch.
int64_t FloorDiv(int64_t iValue, int64_t iDivisor) {
    const int64_t iQuotient = iValue / iDivisor;
    return iValue % iDivisor < 0 ? iQuotient - 1 : iQuotient;
}

} // namespace

uint32_t TimeOfDayMs() {
    const int64_t iUtcMs = FloorDiv(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count(),
                                    1000000);
    ZoneOffset& zone = zoneOffset;
    const int64_t iQuarterHour = FloorDiv(iUtcMs, kiMsPerQuarterHour);
    if (!zone.bKnown || iQuarterHour != zone.iQuarterHour) {
        const QDateTime now = QDateTime::currentDateTime();
        zone.bKnown = true;
        zone.bValid = now.isValid();
        zone.iQuarterHour = iQuarterHour;
        zone.iOffsetMs = static_cast<int64_t>(now.offsetFromUtc()) * 1000;
    }
    if (!zone.bValid)
        return 0;
    const int64_t iLocalMs = iUtcMs + zone.iOffsetMs;
    return static_cast<uint32_t>(iLocalMs - FloorDiv(iLocalMs, kiMsPerDay) * kiMsPerDay);
}

} // namespace common
