#pragma once

// Display texts of dates, times and numbers, and the IGC file names, in static buffers.

#include "common/JulianDate.h"

#include <cstdint>

// Display texts. Each operation writes into a static buffer of its own and returns a pointer into it;
// the next call of the same operation overwrites the text.
namespace common {

const char* FormatFixed(float fValue, int iDecimals);
// iFormat 0: dd.mm.yy, 1: dd.mm.yyyy.
const char* FormatDate(JulianDate date, int iFormat);
const char* FormatTime(uint32_t uiSeconds, bool bWithSeconds, bool bLeadingZero);

// The instrument's serial as the three base-36 characters of an IGC file name; higher digits are dropped.
const char* FormatIGCSerial(uint32_t uiSerial);
// The long IGC flight file name: date of day number uiDt, manufacturer code, serial and the flight's
// number of the day. The serial text is formed in FormatIGCSerial's buffer.
const char* FormatIGCFileName(uint32_t uiDt, uint8_t byDailyNr, uint32_t uiSerial);

} // namespace common
