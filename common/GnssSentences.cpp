// The GNSS receiver sentence handlers.
#include "common/FieldParsers.h"
#include "common/ParserNMEA.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace common {

namespace {

// A lost message 1 lets iFill grow without end; it stops here instead of wrapping negative.
constexpr int32_t kiMaxFill = INT16_MAX;

// Value of a character as a digit, whatever the character is.
int DigitOf(char c) {
    return static_cast<uint8_t>(c) - '0';
}

// Two-character group of a fixed-width field at uiPos; positions past the field's end are missing.
int ReadPair(const char* pszField, size_t uiLength, size_t uiPos) {
    if (uiPos >= uiLength)
        return 0;
    if (uiPos + 1 >= uiLength)
        return DigitOf(pszField[uiPos]);
    return DigitOf(pszField[uiPos]) * 10 + DigitOf(pszField[uiPos + 1]);
}

// hhmmss with an optional fraction of a second, in seconds since midnight.
float ReadTimeOfDay(const char* pszField) {
    const size_t uiLength = strlen(pszField);
    const int iHours = ReadPair(pszField, uiLength, 0);
    const int iMinutes = ReadPair(pszField, uiLength, 2);
    const float fSeconds = uiLength > 4 ? ParseFloat(pszField + 4) : 0.0f;
    return static_cast<float>(iHours * 60 + iMinutes) * 60.0f + fSeconds;
}

// Latitude or longitude with its hemisphere letter; cNegative is "S" or "W", accepted in either case.
float ReadPosition(const char* pszValue, uint8_t byDegDigits, const char* pszHemisphere, char cNegative) {
    const float fValue = ParseCoordinate(pszValue, byDegDigits);
    return toupper(static_cast<uint8_t>(*pszHemisphere)) == cNegative ? -fValue : fValue;
}

// The fix of a GGA or GNS sentence; with bKeepPosition an empty latitude or longitude field leaves the
// last one in place.
void ReadFix(const ParserNMEA& parser, FixData& fix, bool bKeepPosition) {
    fix.fTime = ReadTimeOfDay(parser.GetField(1));
    if (!bKeepPosition || parser.GetField(2)[0] != '\0')
        fix.fLatitude = ReadPosition(parser.GetField(2), 2, parser.GetField(3), 'S');
    if (!bKeepPosition || parser.GetField(4)[0] != '\0')
        fix.fLongitude = ReadPosition(parser.GetField(4), 3, parser.GetField(5), 'W');
    fix.uiQuality = static_cast<uint16_t>(IntOf(parser.GetField(6)));
    fix.uiSatellites = static_cast<uint16_t>(IntOf(parser.GetField(7)));
    fix.fHdop = ParseFloat(parser.GetField(8));
    fix.fAltitude = ParseFloat(parser.GetField(9));
    fix.fGeoidSeparation = ParseFloat(parser.GetField(11));
    fix.fDgpsAge = ParseFloat(parser.GetField(13));
    fix.uiDgpsStation = static_cast<uint32_t>(IntOf(parser.GetField(14)));
}

} // namespace

// RMC: 1 time hhmmss.ss, 2 status A (valid) or V, 3-4 latitude ddmm.mmm N/S, 5-6 longitude dddmm.mmm E/W,
// 7 speed over ground in knots, 8 course in degrees, 9 date ddmmyy.
bool ParserNMEA::ParseRMC() {
    if (byFieldCount != 12 && byFieldCount != 13)
        return false;
    const char* pszTime = GetField(1);
    rmc.fTime = strlen(pszTime) >= 6 ? ReadTimeOfDay(pszTime) : 0.0f;
    rmc.bValid = GetField(2)[0] == 'A' ? 1 : 0;
    rmc.fLatitude = ReadPosition(GetField(3), 2, GetField(4), 'S');
    rmc.fLongitude = ReadPosition(GetField(5), 3, GetField(6), 'W');
    rmc.fSpeed = KnotsToMs(ParseFloat(GetField(7)));
    rmc.fCourse = DegToRad(ParseFloat(GetField(8)));

    const char* pszDate = GetField(9);
    if (strlen(pszDate) == 6)
        rmc.dtDate =
            JulianDate(2000 + ReadPair(pszDate, 6, 4), ReadPair(pszDate, 6, 2), ReadPair(pszDate, 6, 0));
    else
        rmc.dtDate = JulianDate(0u);
    return true;
}

// GGA: 1 time hhmmss.ss, 2-3 latitude ddmm.mmm N/S, 4-5 longitude dddmm.mmm E/W, 6 fix quality,
// 7 satellites in use, 8 HDOP, 9 altitude and 10 its unit, 11 geoid separation and 12 its unit, 13 age of
// differential data in s, 14 differential station.
bool ParserNMEA::ParseGGA() {
    if (!FieldCountTaken(byFieldCount == 15 || byFieldCount == 16, "GGA"))
        return false;
    // Receivers without a fix send empty position fields; the last known position stays.
    ReadFix(*this, gga, true);
    return true;
}

// GNS: as GGA up to field 9, but 6 holds mode letters, which read as 0 unless they begin with a digit;
// 10 is the geoid separation, 11 the age of differential data and 12 the station. The same reader
// takes fields 11, 13 and 14 as for GGA, so the last two always read 0.
bool ParserNMEA::ParseGNS() {
    if (!FieldCountTaken(byFieldCount == 13, "GNS"))
        return false;
    ReadFix(*this, gns, false);
    return true;
}

// GSA: 1 selection mode letter, 2 fix type, 3 to 14 satellites in use, 15 PDOP, 16 HDOP, 17 VDOP.
bool ParserNMEA::ParseGSA() {
    if (!FieldCountTaken(byFieldCount == 18, "GSA"))
        return false;
    gsa.uiMode = static_cast<uint8_t>(GetField(1)[0]);
    gsa.uiFixType = static_cast<uint16_t>(ParseInt(GetField(2), 0));
    for (uint8_t i = 0; i < GsaData::kSatellites; ++i)
        gsa.abySatellite[i] = static_cast<uint8_t>(ParseInt(GetField(static_cast<uint8_t>(3 + i)), 0));
    gsa.fPdop = ParseFloat(GetField(15));
    gsa.fHdop = ParseFloat(GetField(16));
    gsa.fVdop = ParseFloat(GetField(17));
    return true;
}

// GSV: 1 messages in the cycle, 2 this message's number, 3 satellites in view, then per satellite four
// fields: number, elevation in degrees, azimuth in degrees, SNR in dB-Hz. The talker names the
// constellation.
bool ParserNMEA::ParseGSV() {
    if (!FieldCountTaken(byFieldCount >= 4 && (byFieldCount - 4) % 4 == 0, "GSV"))
        return false;
    SatelliteTable* pTable;
    const char* pszTalker = GetField(0) + 1;
    if (StartsWith(pszTalker, "GP"))
        pTable = &gsvGps;
    else if (StartsWith(pszTalker, "GL"))
        pTable = &gsvGlonass;
    else if (StartsWith(pszTalker, "GA"))
        pTable = &gsvGalileo;
    else
        return false; // a mixed GNGSV cannot be told apart by constellation

    const int32_t iTotal = ParseInt(GetField(1), 0);
    const int32_t iMsg = ParseInt(GetField(2), 0);
    if (iMsg < 1 || iMsg > iTotal) {
        fprintf(stderr, "Invalid GSV message: iMsg = %d.\n", iMsg);
        return false;
    }
    pTable->uiInView = static_cast<uint16_t>(ParseInt(GetField(3), 0));

    // A receiver without satellites sends no groups at all.
    if (byFieldCount == 4) {
        *pTable = SatelliteTable();
        return true;
    }
    if (iMsg == 1)
        pTable->iFill = 0;

    const int32_t iGroups = (byFieldCount - 4) / 4;
    for (int32_t j = 0; j < iGroups; ++j) {
        const int32_t iSlot = pTable->iFill + j;
        if (iSlot >= SatelliteTable::kSlots)
            break;
        SatelliteInView& sat = pTable->aSat[iSlot];
        const uint8_t byField = static_cast<uint8_t>(4 + 4 * j);
        sat.uiPrn = static_cast<uint16_t>(ParseInt(GetField(byField), 0));
        sat.uiElevation = static_cast<uint16_t>(ParseInt(GetField(static_cast<uint8_t>(byField + 1)), 0));
        sat.uiAzimuth = static_cast<uint16_t>(ParseInt(GetField(static_cast<uint8_t>(byField + 2)), 0));
        sat.uiSnr = static_cast<uint16_t>(ParseInt(GetField(static_cast<uint8_t>(byField + 3)), 0));
    }
    const int32_t iFill = pTable->iFill + iGroups;
    pTable->iFill = static_cast<int16_t>(iFill < kiMaxFill ? iFill : kiMaxFill);

    // The last message clears what an earlier, longer cycle left behind.
    if (iMsg == iTotal)
        for (int32_t i = pTable->iFill; i < SatelliteTable::kSlots; ++i)
            pTable->aSat[i] = SatelliteInView();
    return true;
}

} // namespace common
