// The LX, Cambridge and altitude sentence handlers.
#include "common/FieldParsers.h"
#include "common/ParserNMEA.h"

#include <cstdio>

namespace common {

namespace {

const float kFeetToMetres = 0.3048f;

// Offsets are taken off in 64 bits: a field that wraps ParseInt to the edge of its range must not
// overflow.
float IntMinus(const char* pszField, int32_t iOffset) {
    return static_cast<float>(static_cast<int64_t>(IntOf(pszField)) - iOffset);
}

float IntAsFloat(const char* pszField) {
    return static_cast<float>(IntOf(pszField));
}

// The C302 sends climb rates in tenths of a knot around an offset of 200 for zero climb.
float C302Climb(const char* pszField) {
    return KnotsToMs(IntMinus(pszField, 200) / 10.0f);
}

} // namespace

// LXWP0: 1 logger flag, 2 airspeed in km/h, 3 altitude in m, 4 vario in m/s; the rest is not kept.
bool ParserNMEA::ParseLXWP0() {
    lxwp0.fAirspeed = ParseFloat(GetField(2)) / 3.6f;
    lxwp0.fAltitude = ParseFloat(GetField(3));
    lxwp0.fVario = ParseFloat(GetField(4));
    return true;
}

// C302 "w": 1 wind direction in degrees, 2 wind speed in 0.1 m/s, 3 wind age, 4 component wind in 0.1 m/s
// around 500, 5 altitude in m around 1000, 6 QNH, 7 true airspeed in 0.01 m/s, 8 vario, 9 averager,
// 10 relative vario, all in 0.1 kt around 200, 11 MacCready in 0.1 kt, 12 ballast, 13 bugs.
bool ParserNMEA::ParseC302() {
    if (!FieldCountTaken(byFieldCount >= 13, "!W - C302"))
        return false;
    c302.uiWindDirection = static_cast<uint16_t>(IntOf(GetField(1)));
    c302.fWindSpeed = IntAsFloat(GetField(2)) / 10.0f;
    c302.uiWindAge = static_cast<uint16_t>(IntOf(GetField(3)));
    c302.fComponentWind = IntMinus(GetField(4), 500) / 10.0f;
    c302.fAltitude = IntMinus(GetField(5), 1000);
    c302.uiQnh = static_cast<uint16_t>(IntOf(GetField(6)));
    c302.fTrueAirspeed = IntAsFloat(GetField(7)) / 100.0f;
    c302.fVario = C302Climb(GetField(8));
    c302.fAverager = C302Climb(GetField(9));
    c302.fRelativeVario = C302Climb(GetField(10));
    c302.fMacCready = KnotsToMs(IntAsFloat(GetField(11)) / 10.0f);
    c302.uiBallast = static_cast<uint16_t>(IntOf(GetField(12)));
    c302.uiBugs = static_cast<uint16_t>(IntOf(GetField(13)));
    return true;
}

// PCAID: 1 L when logged, 2 barometric altitude, whole units as sent; 6 as sent, 7 in hundredths.
bool ParserNMEA::ParsePCAID() {
    if (!FieldCountTaken(byFieldCount >= 4, "PCAID"))
        return false;
    pcaid.bLogged = GetField(1)[0] == 'L';
    pcaid.fBaroAltitude = IntAsFloat(GetField(2));
    pcaid.uiPcaidField6 = static_cast<uint16_t>(IntOf(GetField(6)));
    // Through a signed integer: a negative quotient must wrap like every other 16-bit field, and a
    // negative float converted straight to an unsigned type is undefined.
    pcaid.uiPcaidField7 = static_cast<uint16_t>(static_cast<int32_t>(IntAsFloat(GetField(7)) / 100.0f));
    return true;
}

// PGRMZ and PNRMZ: 1 pressure altitude in feet.
bool ParserNMEA::ParsePGRMZ() {
    if (!FieldCountTaken(byFieldCount >= 4, "PGRMZ"))
        return false;
    fPressureAltitude = IntAsFloat(GetField(1)) * kFeetToMetres;
    return true;
}

// LXGRB: 1 and 2 flags, "1" when set.
bool ParserNMEA::ParseLXGRB() {
    // Flag 1 follows the first field; flag 4 latches until the first field drops to something else.
    if (GetField(1)[0] != '1')
        byLxgrbFlags = 0;
    else if (byLxgrbFlags == 0)
        byLxgrbFlags = 1;
    if (GetField(2)[0] == '1')
        byLxgrbFlags |= 4;
    return true;
}

// PFLX0: pairs of a sentence name and its rate in seconds.
bool ParserNMEA::ParsePFLX0() {
    static const char* const kRateNames[4] = {"LXWP0", "LXWP1", "LXWP2", "LXWP3"};
    // A list of sentence names, each followed by its rate; names of other sentences are stepped over.
    for (int iField = 0; iField < byFieldCount; ++iField) {
        const char* pszName = GetField(static_cast<uint8_t>(iField));
        for (int iRate = 0; iRate < 4; ++iRate) {
            if (StartsWith(pszName, kRateNames[iRate])) {
                ++iField;
                abyLxwpRate[iRate] = static_cast<uint8_t>(IntOf(GetField(static_cast<uint8_t>(iField))));
                break;
            }
        }
    }
    return true;
}

// PFLX2: 1 MacCready in m/s, 2 ballast, 3 bugs, 7 volume; all as sent.
bool ParserNMEA::ParsePFLX2() {
    pflx2.fMacCready = ParseFloat(GetField(1));
    pflx2.fBallast = ParseFloat(GetField(2));
    pflx2.fBugs = ParseFloat(GetField(3));
    pflx2.fVolume = ParseFloat(GetField(7));
    return true;
}

// RPYL: 1 roll and 2 pitch, both in tenths of a degree.
bool ParserNMEA::ParseRPYL() {
    rpyl.fRoll = ParseFloat(GetField(1)) / 10.0f;
    rpyl.fPitch = ParseFloat(GetField(2)) / 10.0f;
    return true;
}

} // namespace common
