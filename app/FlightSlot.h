#pragma once

// One flight of the instrument's logbook as the window lists it.

#include "common/JulianDate.h"

#include <cstdint>

// One flight of the instrument's logbook as the window lists it.
struct FlightSlot {
    common::JulianDate dtStart;
    uint32_t uiStartSec;   // start time, seconds since midnight
    uint16_t uiDailyNr;    // flight number of its day; the low 8 bits name the file
    uint32_t uiAux5;       // kept as the instrument sent it
    uint32_t uiFlightSize; // bytes
};
