#pragma once

// Records of the LX, Cambridge and altitude sentences.

#include <cstdint>

// Records filled by the sentences of LX, Cambridge and other gliding instruments: LXWP0, the C302 "w"
// sentence, PCAID, PFLX2 and RPYL. Speeds are in metres per second, angles as sent.
namespace common {

struct LxWp0Data {
    float fAirspeed = 0.0f;
    float fAltitude = 0.0f;
    float fVario = 0.0f;
};

struct C302Data {
    uint16_t uiWindDirection = 0;
    float fWindSpeed = 0.0f;
    uint16_t uiWindAge = 0;
    float fComponentWind = 0.0f;
    float fAltitude = 0.0f;
    uint16_t uiQnh = 0;
    float fTrueAirspeed = 0.0f;
    float fVario = 0.0f;
    float fAverager = 0.0f;
    float fRelativeVario = 0.0f;
    float fMacCready = 0.0f;
    uint16_t uiBallast = 0;
    uint16_t uiBugs = 0;
};

struct PcaidData {
    bool bLogged = false;
    float fBaroAltitude = 0.0f;
    uint16_t uiPcaidField6 = 0;
    uint16_t uiPcaidField7 = 0;
};

// -1.0 in every member until the first PFLX2 arrives.
struct Pflx2Data {
    float fMacCready = -1.0f;
    float fBugs = -1.0f;
    float fBallast = -1.0f;
    float fVolume = -1.0f;
};

struct RpylData {
    float fRoll = 0.0f;
    float fPitch = 0.0f;
};

} // namespace common
