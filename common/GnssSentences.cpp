#include "common/FieldParsers.h"
#include "common/ParserNMEA.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace common {

namespace {

constexpr float kfDegToRad = 0.017453292f;

// Selectors that the dispatcher passes for the GSV talkers.
constexpr uint8_t kGpsTalker = 0;
constexpr uint8_t kGlonassTalker = 4;
constexpr uint8_t kGalileoTalker = 8;

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
float ReadPosition(const ParserNMEA& parser, const char* pszValue, uint8_t byDegDigits,
                   const char* pszHemisphere, char cNegative) {
    const float fValue = parser.ParseCoordinate(pszValue, byDegDigits);
    return toupper(static_cast<uint8_t>(*pszHemisphere)) == cNegative ? -fValue : fValue;
}

} // namespace

bool ParserNMEA::ParseRMC() {
    if (byFieldCount != 12 && byFieldCount != 13)
        return false;
    const char* pszTime = GetField(1);
    rmc.fTime = strlen(pszTime) >= 6 ? ReadTimeOfDay(pszTime) : 0.0f;
    rmc.bValid = GetField(2)[0] == 'A' ? 1 : 0;
    rmc.fLatitude = ReadPosition(*this, GetField(3), 2, GetField(4), 'S');
    rmc.fLongitude = ReadPosition(*this, GetField(5), 3, GetField(6), 'W');
    rmc.fSpeed = ParseFloat(GetField(7)) * 1.852f / 3.6f;
    rmc.fCourse = ParseFloat(GetField(8)) * kfDegToRad;

    const char* pszDate = GetField(9);
    if (strlen(pszDate) == 6)
        rmc.dtDate =
            JulianDate(2000 + ReadPair(pszDate, 6, 4), ReadPair(pszDate, 6, 2), ReadPair(pszDate, 6, 0));
    else
        rmc.dtDate = JulianDate(0u);
    return true;
}

bool ParserNMEA::ParseGGA() {
    if (byFieldCount != 15 && byFieldCount != 16) {
        fprintf(stderr, "GGA invalid field count %i.\n", byFieldCount);
        return false;
    }
    gga.fTime = ReadTimeOfDay(GetField(1));
    // Receivers without a fix send empty position fields; the last known position stays.
    if (GetField(2)[0] != '\0')
        gga.fLatitude = ReadPosition(*this, GetField(2), 2, GetField(3), 'S');
    if (GetField(4)[0] != '\0')
        gga.fLongitude = ReadPosition(*this, GetField(4), 3, GetField(5), 'W');
    gga.uiQuality = static_cast<uint16_t>(ParseInt(GetField(6), 0));
    gga.uiSatellites = static_cast<uint16_t>(ParseInt(GetField(7), 0));
    gga.fHdop = ParseFloat(GetField(8));
    gga.fAltitude = ParseFloat(GetField(9));
    gga.fGeoidSeparation = ParseFloat(GetField(11));
    gga.fDgpsAge = ParseFloat(GetField(13));
    gga.uiDgpsStation = static_cast<uint32_t>(ParseInt(GetField(14), 0));
    return true;
}

bool ParserNMEA::ParseGNS() {
    if (byFieldCount != 13) {
        fprintf(stderr, "GNS invalid field count %i.\n", byFieldCount);
        return false;
    }
    gns.fTime = ReadTimeOfDay(GetField(1));
    gns.fLatitude = ReadPosition(*this, GetField(2), 2, GetField(3), 'S');
    gns.fLongitude = ReadPosition(*this, GetField(4), 3, GetField(5), 'W');
    // The mode letters of field 6 read as 0 unless they begin with a digit.
    gns.uiQuality = static_cast<uint16_t>(ParseInt(GetField(6), 0));
    gns.uiSatellites = static_cast<uint16_t>(ParseInt(GetField(7), 0));
    gns.fHdop = ParseFloat(GetField(8));
    gns.fAltitude = ParseFloat(GetField(9));
    // Field 11 is the age of differential data; fields 13 and 14 never exist in GNS, so these
    // two always read 0.
    gns.fGeoidSeparation = ParseFloat(GetField(11));
    gns.fDgpsAge = ParseFloat(GetField(13));
    gns.uiDgpsStation = static_cast<uint32_t>(ParseInt(GetField(14), 0));
    return true;
}

bool ParserNMEA::ParseGSA() {
    if (byFieldCount != 18) {
        fprintf(stderr, "GSA invalid field count %i.\n", byFieldCount);
        return false;
    }
    gsa.uiMode = static_cast<uint8_t>(GetField(1)[0]);
    gsa.uiFixType = static_cast<uint16_t>(ParseInt(GetField(2), 0));
    for (uint8_t i = 0; i < GsaData::kSatellites; ++i)
        gsa.abySatellite[i] = static_cast<uint8_t>(ParseInt(GetField(static_cast<uint8_t>(3 + i)), 0));
    gsa.fPdop = ParseFloat(GetField(15));
    gsa.fHdop = ParseFloat(GetField(16));
    gsa.fVdop = ParseFloat(GetField(17));
    return true;
}

bool ParserNMEA::ParseGSV(uint8_t byConstellation) {
    if (byFieldCount < 4 || (byFieldCount - 4) % 4 != 0) {
        fprintf(stderr, "GSV invalid field count %i.\n", byFieldCount);
        return false;
    }
    SatelliteTable* pTable;
    if (byConstellation == kGpsTalker)
        pTable = &gsvGps;
    else if (byConstellation == kGlonassTalker)
        pTable = &gsvGlonass;
    else if (byConstellation == kGalileoTalker)
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
