#pragma once

// The simulated instrument's flights: packed start times and generated IGC files.

#include <QByteArray>

#include <cstdint>

namespace sim {

// One recorded flight as the instrument keeps it.
struct SimFlight {
    QByteArray baData;          // the IGC file, byte for byte what a download must give
    uint32_t uiPackedTime = 0;  // start date and time in the logbook's packed form
    uint16_t uiDailyNr = 1;     // flight number of its day
    uint32_t uiDurationSec = 0; // reported in the logbook row beside the size
};

// seconds of the day + 86400 × (two-digit year + 100 × (month + 13 × day of month))
uint32_t PackLogbookTime(int iYear, int iMonth, int iDay, uint32_t uiSecOfDay);

// A plausible IGC file of exactly uiSize bytes: the A record, the H records, one B fix a second and an
// L record as filler. Flights too short for the headers are cut. uiSeed varies the track.
SimFlight MakeIgcFlight(uint32_t uiSize, uint32_t uiPackedTime, uint16_t uiDailyNr, uint32_t uiSerial,
                        const QByteArray& baModel, uint32_t uiSeed);

} // namespace sim
