#pragma once

// Records of the GNSS receiver sentences: position, time, speed, satellites.

#include "common/JulianDate.h"

#include <cstdint>

// Latest values of the standard receiver sentences RMC, GGA, GNS, GSA and GSV. Angles are radians,
// north and east positive; speeds are metres per second.
namespace common {

struct RmcData {
    float fTime = 0.0f; // seconds since midnight
    uint8_t bValid = 0;
    float fLatitude = 0.0f;
    float fLongitude = 0.0f;
    float fSpeed = 0.0f;
    float fCourse = 0.0f;
    JulianDate dtDate; // day number 0 when the sentence had no usable date
};

// One layout for GGA and GNS.
struct FixData {
    float fTime = 0.0f;
    float fLatitude = 0.0f;
    float fLongitude = 0.0f;
    uint16_t uiQuality = 0;
    uint16_t uiSatellites = 0;
    float fHdop = 0.0f;
    float fAltitude = 0.0f; // as sent
    float fGeoidSeparation = 0.0f;
    float fDgpsAge = 0.0f;
    uint32_t uiDgpsStation = 0;
};

struct GsaData {
    static constexpr int kSatellites = 12;

    uint16_t uiMode = 0; // character code of the selection mode letter
    uint16_t uiFixType = 0;
    uint8_t abySatellite[kSatellites] = {};
    float fPdop = 0.0f;
    float fHdop = 0.0f;
    float fVdop = 0.0f;
};

// Degrees and dB-Hz as sent; an empty slot is all zero.
struct SatelliteInView {
    uint16_t uiPrn = 0;
    uint16_t uiElevation = 0;
    uint16_t uiAzimuth = 0;
    uint16_t uiSnr = 0;
};

// The satellites of one constellation's GSV cycle, in the order received.
struct SatelliteTable {
    static constexpr int kSlots = 12;

    uint16_t uiInView = 0;
    // Next slot to fill; counts every satellite of the cycle, so it may run past the table.
    int16_t iFill = 0;
    SatelliteInView aSat[kSlots];
};

} // namespace common
