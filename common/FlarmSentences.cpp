#include "common/FieldParsers.h"
#include "common/ParserNMEA.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace common {

namespace {

// Takes at most the member's capacity from the field, pads with NUL and keeps the last byte as the
// terminator; the field is read no further than its own end.
template <size_t N> void CopyText(char (&szMember)[N], const char* pszField) {
    strncpy(szMember, pszField, N - 1);
    szMember[N - 1] = '\0';
}

bool KeyIs(const char* pszField, const char* pszKey) {
    return strncmp(pszField, pszKey, strlen(pszKey)) == 0;
}

} // namespace

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

bool ParserNMEA::ParsePFLAA() {
    if (byFieldCount != 12) {
        fprintf(stderr, "PFLAA invalid field count %i.\n", byFieldCount);
        return false;
    }
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

bool ParserNMEA::ParsePFLAC() {
    flarmConfig.bAnswer = GetField(1)[0] == 'A' ? 1 : 0;
    // Requests and settings carry the same keys as answers and are stored alike.
    const char* pszKey = GetField(2);
    if (KeyIs(pszKey, "HWVER")) {
        CopyText(flarmConfig.szHwVersion, GetField(3));
        fprintf(stderr, "Flarm HW: %s\n", GetField(3));
    } else if (KeyIs(pszKey, "SWVER")) {
        CopyText(flarmConfig.szSwVersion, GetField(3));
    } else if (KeyIs(pszKey, "SER")) {
        CopyText(flarmConfig.szSerial, GetField(3));
    } else if (KeyIs(pszKey, "OBSTDB")) {
        CopyText(flarmConfig.szObstDb1, GetField(5));
        CopyText(flarmConfig.szObstDb2, GetField(6));
    } else if (KeyIs(pszKey, "OBSTEXP")) {
        CopyText(flarmConfig.szObstExpiry, GetField(3));
    } else if (KeyIs(pszKey, "PRIV")) {
        flarmConfig.iPrivacy = static_cast<int8_t>(ParseInt(GetField(3), 0));
        fprintf(stderr, "Flarm privacy: %i\n", flarmConfig.iPrivacy);
    } else if (KeyIs(pszKey, "FREQ")) {
        // C++ division truncates toward zero, so the remainder keeps the value's sign.
        flarmConfig.iFrequency = static_cast<int8_t>(ParseInt(GetField(3), 0) % 100);
        fprintf(stderr, "Flarm frequency: %i\n", flarmConfig.iFrequency);
    } else if (KeyIs(pszKey, "RADIOID")) {
        CopyText(flarmConfig.szRadioId, GetField(4));
        fprintf(stderr, "Flarm RadioID: %s\n", GetField(4));
    }
    return true;
}

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
