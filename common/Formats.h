#pragma once

#include "common/JulianDate.h"

#include <cstdint>

// Display texts. Each operation writes into a static buffer of its own and returns a pointer into it;
// the next call of the same operation overwrites the text.
namespace common {

const char* FormatFixed(float fValue, int iDecimals);
// iFormat 0: dd.mm.yy, 1: dd.mm.yyyy.
const char* FormatDate(JulianDate date, int iFormat);
const char* FormatTime(uint32_t uiSeconds, bool bWithSeconds, bool bLeadingZero);

} // namespace common
