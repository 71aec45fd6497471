#pragma once

// The time of day in milliseconds since midnight, as every stamp of the parser takes it.

#include <cstdint>

namespace common {

// Time of day in milliseconds since midnight, 0 when the clock gives no valid time.
// Every time stamp of the parser and the window comes from here.
uint32_t TimeOfDayMs();

} // namespace common
