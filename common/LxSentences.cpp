#include "common/FieldParsers.h"
#include "common/ParserNMEA.h"

#include <cstdio>
#include <cstring>

namespace common {

namespace {

const float kFeetToMetres = 0.3048f;

int32_t IntOf(const char* pszField) {
    return ParseInt(pszField, 0);
}

// Offsets are taken off in 64 bits: a field that wraps ParseInt to the edge of its range must not
// overflow.
float IntMinus(const char* pszField, int32_t iOffset) {
    return static_cast<float>(static_cast<int64_t>(IntOf(pszField)) - iOffset);
}

float IntAsFloat(const char* pszField) {
    return static_cast<float>(IntOf(pszField));
}

float KnotsToMs(float fKnots) {
    return fKnots * 1.852f / 3.6f;
}

// The C302 sends climb rates in tenths of a knot around an offset of 200 for zero climb.
float C302Climb(const char* pszField) {
    return KnotsToMs(IntMinus(pszField, 200) / 10.0f);
}

} // namespace

void ParserNMEA::ParseLXWP0() {
    lxwp0.fAirspeed = ParseFloat(GetField(2)) / 3.6f;
    lxwp0.fAltitude = ParseFloat(GetField(3));
    lxwp0.fVario = ParseFloat(GetField(4));
}

bool ParserNMEA::ParseC302() {
    if (byFieldCount < 13) {
        fprintf(stderr, "!W - C302 invalid field count %i.\n", byFieldCount);
        return false;
    }
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

bool ParserNMEA::ParsePCAID() {
    if (byFieldCount < 4) {
        fprintf(stderr, "PCAID invalid field count %i.\n", byFieldCount);
        return false;
    }
    pcaid.bLogged = GetField(1)[0] == 'L';
    pcaid.fBaroAltitude = IntAsFloat(GetField(2));
    pcaid.uiPcaidField6 = static_cast<uint16_t>(IntOf(GetField(6)));
    // Through a signed integer: a negative quotient must wrap like every other 16-bit field, and a
    // negative float converted straight to an unsigned type is undefined.
    pcaid.uiPcaidField7 = static_cast<uint16_t>(static_cast<int32_t>(IntAsFloat(GetField(7)) / 100.0f));
    return true;
}

bool ParserNMEA::ParsePGRMZ() {
    if (byFieldCount < 4) {
        fprintf(stderr, "PGRMZ invalid field count %i.\n", byFieldCount);
        return false;
    }
    fPressureAltitude = IntAsFloat(GetField(1)) * kFeetToMetres;
    return true;
}

void ParserNMEA::ParseLXGRB() {
    // Flag 1 follows the first field; flag 4 latches until the first field drops to something else.
    if (GetField(1)[0] != '1')
        byLxgrbFlags = 0;
    else if (byLxgrbFlags == 0)
        byLxgrbFlags = 1;
    if (GetField(2)[0] == '1')
        byLxgrbFlags |= 4;
}

bool ParserNMEA::ParsePFLX0() {
    static const char* const kRateNames[4] = {"LXWP0", "LXWP1", "LXWP2", "LXWP3"};
    // A list of sentence names, each followed by its rate; names of other sentences are stepped over.
    for (int iField = 0; iField < byFieldCount; ++iField) {
        const char* pszName = GetField(static_cast<uint8_t>(iField));
        for (int iRate = 0; iRate < 4; ++iRate) {
            if (strncmp(pszName, kRateNames[iRate], 5) == 0) {
                ++iField;
                abyLxwpRate[iRate] = static_cast<uint8_t>(IntOf(GetField(static_cast<uint8_t>(iField))));
                break;
            }
        }
    }
    return true;
}

void ParserNMEA::ParsePFLX2() {
    pflx2.fMacCready = ParseFloat(GetField(1));
    pflx2.fBallast = ParseFloat(GetField(2));
    pflx2.fBugs = ParseFloat(GetField(3));
    pflx2.fVolume = ParseFloat(GetField(7));
}

void ParserNMEA::ParseRPYL() {
    rpyl.fRoll = ParseFloat(GetField(1)) / 10.0f;
    rpyl.fPitch = ParseFloat(GetField(2)) / 10.0f;
}

} // namespace common
