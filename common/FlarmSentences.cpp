// The FLARM sentence handlers.
#include "common/FieldParsers.h"
#include "common/ParserNMEA.h"

#include <cstdint>
#include <cstdio>

namespace common {

// PFLAU: 1 receiving, 2 transmitting, 3 GPS state (0 none), 4 power, 5 alarm level, 6 relative bearing
// in degrees, 7 alarm type (hex), 8 relative vertical in m, 9 relative distance in m, 10 ID (hex).
bool ParserNMEA::ParsePFLAU() {
    const uint32_t uiNowMs = uiLastSentenceMs;
    flarmStatus.uiTimeMs = uiNowMs;
    flarmStatus.byRx = static_cast<uint8_t>(ParseInt(GetField(1), 0));
    flarmStatus.byTx = static_cast<uint8_t>(ParseInt(GetField(2), 0));
    flarmStatus.byGps = static_cast<uint8_t>(ParseInt(GetField(3), 0));
    // Latch the moment the GPS went missing, so that a holder can tell how long it has been gone.
    if (flarmStatus.byGps != 0)
        flarmStatus.uiGpsLostMs = 0;
    else if (flarmStatus.uiGpsLostMs == 0)
        flarmStatus.uiGpsLostMs = uiNowMs;
    flarmStatus.byPower = static_cast<uint8_t>(ParseInt(GetField(4), 0));
    flarmStatus.byAlarmLevel = static_cast<uint8_t>(ParseInt(GetField(5), 0));
    // Without an alarm the unit leaves the bearing empty.
    flarmStatus.iRelativeBearing = static_cast<int16_t>(ParseInt(GetField(6), 999));
    flarmStatus.byAlarmType = static_cast<uint8_t>(ParseHex(GetField(7), false));
    flarmStatus.iRelativeVertical = static_cast<int16_t>(ParseInt(GetField(8), 0));
    flarmStatus.uiRelativeDistance = static_cast<uint16_t>(ParseInt(GetField(9), 0));
    flarmStatus.uiId = ParseHex(GetField(10), false);
    return true;
}

// PFLAA: 1 alarm level, 2 relative north, 3 relative east, 4 relative vertical, all in m, 5 ID type,
// 6 ID (hex), 7 track in degrees, 8 turn rate in deg/s, 9 ground speed in m/s, 10 climb rate in m/s,
// 11 aircraft type (hex).
bool ParserNMEA::ParsePFLAA() {
    if (!FieldCountTaken(byFieldCount == 12, "PFLAA"))
        return false;
    flarmTarget.uiTimeMs = uiLastSentenceMs;
    flarmTarget.byAlarmLevel = static_cast<uint8_t>(ParseInt(GetField(1), 0));
    flarmTarget.iRelativeNorth = static_cast<int16_t>(ParseInt(GetField(2), 0));
    flarmTarget.iRelativeEast = static_cast<int16_t>(ParseInt(GetField(3), 0));
    flarmTarget.iRelativeVertical = static_cast<int16_t>(ParseInt(GetField(4), 0));
    flarmTarget.byIdType = static_cast<uint8_t>(ParseInt(GetField(5), 0));
    // An "ID!callsign" field reads up to the "!".
    flarmTarget.uiId = ParseHex(GetField(6), false);
    flarmTarget.uiTrack = static_cast<uint16_t>(ParseInt(GetField(7), 0));
    flarmTarget.fTurnRate = ParseFloat(GetField(8));
    flarmTarget.fGroundSpeed = ParseFloat(GetField(9));
    flarmTarget.fClimbRate = ParseFloat(GetField(10));
    flarmTarget.byAircraftType = static_cast<uint8_t>(ParseHex(GetField(11), false));
    if (GetField(3)[0] == '\0')
        flarmTarget.byAircraftType = FlarmTarget::kNoPositionType;
    return true;
}

// PFLAC: 1 A (answer), R (request) or S (set), 2 key, 3 on the value; OBSTDB carries its texts in 5 and
// 6, RADIOID its ID in 4.
bool ParserNMEA::ParsePFLAC() {
    flarmConfig.bAnswer = GetField(1)[0] == 'A' ? 1 : 0;
    // Requests and settings carry the same keys as answers and are stored alike.
    const char* pszKey = GetField(2);
    if (StartsWith(pszKey, "HWVER")) {
        CopyText(flarmConfig.szHwVersion, GetField(3));
        fprintf(stderr, "Flarm HW: %s\n", GetField(3));
    } else if (StartsWith(pszKey, "SWVER")) {
        CopyText(flarmConfig.szSwVersion, GetField(3));
    } else if (StartsWith(pszKey, "SER")) {
        CopyText(flarmConfig.szSerial, GetField(3));
    } else if (StartsWith(pszKey, "OBSTDB")) {
        CopyText(flarmConfig.szObstDb1, GetField(5));
        CopyText(flarmConfig.szObstDb2, GetField(6));
    } else if (StartsWith(pszKey, "OBSTEXP")) {
        CopyText(flarmConfig.szObstExpiry, GetField(3));
    } else if (StartsWith(pszKey, "PRIV")) {
        flarmConfig.iPrivacy = static_cast<int8_t>(ParseInt(GetField(3), 0));
        fprintf(stderr, "Flarm privacy: %i\n", flarmConfig.iPrivacy);
    } else if (StartsWith(pszKey, "FREQ")) {
        // C++ division truncates toward zero, so the remainder keeps the value's sign.
        flarmConfig.iFrequency = static_cast<int8_t>(ParseInt(GetField(3), 0) % 100);
        fprintf(stderr, "Flarm frequency: %i\n", flarmConfig.iFrequency);
    } else if (StartsWith(pszKey, "RADIOID")) {
        CopyText(flarmConfig.szRadioId, GetField(4));
        fprintf(stderr, "Flarm RadioID: %s\n", GetField(4));
    }
    return true;
}

// PFLAE: 1 query type, 2 severity (0 no error), 3 error code (hex), 4 message.
bool ParserNMEA::ParsePFLAE() {
    fprintf(stderr, "PFLAE received\n");
    const int8_t iSeverity = static_cast<int8_t>(ParseInt(GetField(2), 0));
    if (iSeverity == 0)
        return true;
    const uint16_t uiCode = static_cast<uint16_t>(ParseHex(GetField(3), false));
    const uint32_t uiNowMs = uiLastSentenceMs;
    // The unit repeats an active error; only a new one, or the same after a while, is stored. The
    // difference wraps at midnight and then lets the error through.
    if (uiCode == flarmError.uiErrorCode && uiNowMs - flarmError.uiTimeMs <= FlarmError::kRepeatMs)
        return true;
    flarmError.iSeverity = iSeverity;
    flarmError.uiErrorCode = uiCode;
    CopyText(flarmError.szMessage, GetField(4));
    flarmError.uiTimeMs = uiNowMs;
    flarmError.bErrorHandled = 0;
    fprintf(stderr, "Err: %u/0x%s, Sev: %i, Msg:%s\n", static_cast<unsigned>(flarmError.uiErrorCode),
            GetField(3), flarmError.iSeverity, flarmError.szMessage);
    return true;
}

} // namespace common
