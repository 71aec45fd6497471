// The instrument's own sentences: VNREQ, VNINFO2, VNSET2 and VNLOGBOOK. None is ever refused: absent
// fields read as empty and give 0.
#include "common/FieldParsers.h"
#include "common/ParserNMEA.h"

namespace common {

void DeviceInfo::Clear() {
    *this = DeviceInfo();
}

void DeviceSettings::Clear() {
    *this = DeviceSettings();
}

// VNREQ: 1 request code, 2 onwards its arguments.
bool ParserNMEA::ParseDeviceRequest() {
    request.uiCode = static_cast<uint16_t>(ParseInt(GetField(1), 0));
    if (byFieldCount < 2)
        return true;
    // Argument k sits in field k + 1; the last one read has no field and becomes 0. Arguments beyond
    // the record's ten are dropped.
    const int iArgs = byFieldCount - 1 < 10 ? byFieldCount - 1 : 10;
    for (int k = 1; k <= iArgs; ++k)
        request.auiArg[k - 1] = static_cast<uint16_t>(ParseInt(GetField(static_cast<uint8_t>(k + 1)), 0));
    return true;
}

// VNINFO2: 1 model, 2 production text, 3 serial, 4 to 6 firmware major, minor and build, 7 hardware
// version.
bool ParserNMEA::ParseDeviceInfo() {
    CopyText(info.szModel, GetField(1));
    CopyText(info.szProduced, GetField(2));
    info.uiSerial = static_cast<uint32_t>(ParseInt(GetField(3), 0));
    info.byFwMajor = static_cast<uint8_t>(ParseInt(GetField(4), 0));
    info.byFwMinor = static_cast<uint8_t>(ParseInt(GetField(5), 0));
    info.byFwBuild = static_cast<uint8_t>(ParseInt(GetField(6), 0));
    info.fHwVersion = ParseFloat(GetField(7));
    info.bValid = true;
    return true;
}

// VNSET2: 1 TE level, 2 vario filter in s, 3 servo trigger, 4 servo channel, 5 telemetry pair key,
// 6 telemetry protocol.
bool ParserNMEA::ParseDeviceSettings() {
    settings.iTELevel = static_cast<int8_t>(ParseInt(GetField(1), 0));
    settings.fVarioFilter = ParseFloat(GetField(2));
    settings.byServoTrigger = static_cast<uint8_t>(ParseInt(GetField(3), 0));
    settings.iServoChannel = static_cast<int8_t>(ParseInt(GetField(4), 0));
    settings.uiPairKey = static_cast<uint32_t>(ParseInt(GetField(5), 0));
    settings.byTelemetry = static_cast<uint8_t>(ParseInt(GetField(6), 0));
    settings.bValid = true;
    return true;
}

// VNLOGBOOK: 1 flights in the logbook, 2 kept as sent, 3 flight's number of the day, 4 packed start
// time, 5 kept as sent, 6 flight size in bytes.
bool ParserNMEA::ParseLogbookEntry() {
    logbook.uiFlightCount = static_cast<uint16_t>(ParseInt(GetField(1), 0));
    logbook.uiAux2 = static_cast<uint16_t>(ParseInt(GetField(2), 0));
    logbook.uiDailyNr = static_cast<uint16_t>(ParseInt(GetField(3), 0));
    logbook.uiPackedTime = static_cast<uint32_t>(ParseInt(GetField(4), 0));
    logbook.uiAux5 = static_cast<uint32_t>(ParseInt(GetField(5), 0));
    logbook.uiFlightSize = static_cast<uint32_t>(ParseInt(GetField(6), 0));
    return true;
}

} // namespace common
