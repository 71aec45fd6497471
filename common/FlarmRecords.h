#pragma once

// Records of the FLARM sentences: traffic, alarms, errors and configuration answers.

#include "common/TimeOfDay.h"

#include <cstdint>

// Latest values of the FLARM data port. Texts hold at most the stated number of characters, are
// padded with NUL bytes and always keep a terminator behind them.
namespace common {

// PFLAU: receiver status and the most urgent alarm.
struct FlarmStatus {
    uint8_t byRx = 0;
    uint8_t byTx = 0;
    uint8_t byGps = 0; // 0: no GPS
    uint8_t byPower = 0;
    uint8_t byAlarmLevel = 0;
    uint8_t byAlarmType = 0;
    int16_t iRelativeBearing = 0; // 999 when the unit sends none
    int16_t iRelativeVertical = 0;
    uint16_t uiRelativeDistance = 0;
    uint32_t uiId = 0;
    // Moment the GPS was first reported missing, 0 while it is reported; a fresh parser counts it
    // as lost ten seconds ago.
    uint32_t uiGpsLostMs = TimeOfDayMs() - 10000u;
    uint32_t uiTimeMs = 0;
};

// PFLAA: the traffic target of the last sentence only.
struct FlarmTarget {
    // Stands in for the aircraft type when the unit sends no relative position.
    static constexpr uint8_t kNoPositionType = 20;

    uint8_t byAlarmLevel = 0;
    uint8_t byIdType = 0;
    uint8_t byAircraftType = 0;
    int16_t iRelativeNorth = 0;
    int16_t iRelativeEast = 0;
    int16_t iRelativeVertical = 0;
    uint16_t uiTrack = 0;
    uint32_t uiId = 0;
    float fTurnRate = 0.0f;
    float fGroundSpeed = 0.0f;
    float fClimbRate = 0.0f;
    uint32_t uiTimeMs = 0;
};

// PFLAC: answers to configuration queries.
struct FlarmConfig {
    // -1 (byte 255) until the unit has answered.
    static constexpr int8_t kNotReceived = -1;

    char szObstDb1[18 + 1] = {};
    char szObstDb2[10 + 1] = {};
    char szSerial[10 + 1] = {};
    char szSwVersion[6 + 1] = {};
    char szHwVersion[6 + 1] = {};
    int8_t iPrivacy = kNotReceived;
    int8_t iFrequency = kNotReceived;
    uint8_t bAnswer = 0;
    char szRadioId[6 + 1] = {};
    char szObstExpiry[10 + 1] = {};
};

// PFLAE: the last error that was new.
struct FlarmError {
    // The same error code again within this time is a repeat, not a new error.
    static constexpr uint32_t kRepeatMs = 30000;

    int8_t iSeverity = -1;
    uint16_t uiErrorCode = 0xFFFF;
    char szMessage[40 + 1] = {};
    uint8_t bErrorHandled = 1; // the user of the parser sets it once it has dealt with the error
    uint32_t uiTimeMs = 0;
};

// PFLAQ: progress of a long operation.
struct FlarmProgress {
    char szOperation[10 + 1] = {};
    char szInfo[20 + 1] = {};
    uint8_t byProgress = 0;
    uint32_t uiTimeMs = 0;
};

} // namespace common
