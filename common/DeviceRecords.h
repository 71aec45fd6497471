#pragma once

// Records of the instrument's own sentences: requests, identity, settings and logbook rows.

#include <cstdint>

// Records filled by the instrument's own sentences VNREQ, VNINFO2, VNSET2 and VNLOGBOOK.
namespace common {

struct DeviceRequest {
    uint16_t uiCode;
    uint16_t auiArg[10];
};

struct DeviceInfo {
    char szModel[16];
    char szProduced[16];
    uint32_t uiSerial;
    uint8_t byFwMajor;
    uint8_t byFwMinor;
    uint8_t byFwBuild;
    float fHwVersion;
    bool bValid;

    void Clear();
};

struct DeviceSettings {
    int8_t iTELevel;
    uint8_t byServoTrigger;
    uint8_t byTelemetry;
    int8_t iServoChannel;
    uint32_t uiPairKey;
    float fVarioFilter;
    bool bValid;

    void Clear();
};

struct LogbookEntry {
    uint16_t uiFlightCount;
    uint16_t uiAux2;
    uint16_t uiDailyNr;
    uint32_t uiPackedTime;
    uint32_t uiAux5;
    uint32_t uiFlightSize;
};

} // namespace common
