// The simulated instrument's flights: packed start times and generated IGC files.
#include "sim/SimLogbook.h"

#include <cstdio>

namespace sim {

namespace {

constexpr int kFixLength = 37; // "B", time, latitude, longitude, validity, two altitudes, CR LF
constexpr int kMinFiller = 3;  // "L" and CR LF

// The three characters that stand for the serial number in IGC names and A records.
void IgcSerial(uint32_t uiSerial, char* pcOut) {
    static const char acDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const uint32_t uiRest = uiSerial % (36 * 36 * 36);
    pcOut[0] = acDigits[uiRest / (36 * 36)];
    pcOut[1] = acDigits[uiRest / 36 % 36];
    pcOut[2] = acDigits[uiRest % 36];
    pcOut[3] = '\0';
}

class IgcWriter {
public:
    IgcWriter(QByteArray* pbaOut, uint32_t uiSize) : pbaOut(pbaOut), uiSize(uiSize) {
        pbaOut->reserve(uiSize);
    }

    uint32_t Remaining() const { return uiSize - static_cast<uint32_t>(pbaOut->size()); }

    // Appends a record, cut to the bytes the flight still has room for.
    void Append(const char* pcRecord, int iLen) {
        pbaOut->append(pcRecord, qMin<int>(iLen, static_cast<int>(Remaining())));
    }

private:
    QByteArray* pbaOut;
    uint32_t uiSize;
};

void WriteHeaders(IgcWriter& writer, const SimFlight& flight, uint32_t uiSerial, const QByteArray& baModel) {
    const uint32_t uiDate = flight.uiPackedTime / 86400;
    char acSerial[4];
    IgcSerial(uiSerial, acSerial);
    char acLine[128];
    const char* const apcFormat[] = {
        "AVNK%s FLIGHT:%u\r\n",
        "HFDTEDATE:%02u%02u%02u,%02u\r\n",
        "HFPLTPILOTINCHARGE:SIM PILOT\r\n",
        "HFGTYGLIDERTYPE:TRAINER 2\r\n",
        "HFFTYFRTYPE:VORNIK,%s\r\n",
        "HFDTM100GPSDATUM:WGS-1984\r\n",
    };
    for (int i = 0; i < 6; ++i) {
        int iLen = 0;
        if (i == 0)
            iLen = snprintf(acLine, sizeof(acLine), apcFormat[i], acSerial, flight.uiDailyNr);
        else if (i == 1)
            iLen = snprintf(acLine, sizeof(acLine), apcFormat[i], uiDate / 1300, uiDate / 100 % 13,
                            uiDate % 100, flight.uiDailyNr);
        else if (i == 4)
            iLen = snprintf(acLine, sizeof(acLine), apcFormat[i], baModel.left(40).constData());
        else
            iLen = snprintf(acLine, sizeof(acLine), "%s", apcFormat[i]);
        writer.Append(acLine, iLen);
    }
}

// One fix a second on a slow climbing circle somewhere above the Alps.
void WriteFix(IgcWriter& writer, uint32_t uiSecOfDay, uint32_t uiStep, uint32_t uiSeed) {
    const uint32_t uiAngle = (uiStep + uiSeed) % 360;
    const uint32_t uiLatMin = 3000 + (uiAngle < 180 ? uiAngle : 360 - uiAngle) * 10;
    const uint32_t uiLonMin =
        20000 + (uiAngle < 90 || uiAngle >= 270 ? uiAngle % 90 : 90 - uiAngle % 90) * 15;
    const uint32_t uiAlt = 800 + (uiStep + uiSeed) % 1200;
    char acLine[64];
    const int iLen =
        snprintf(acLine, sizeof(acLine), "B%02u%02u%02u46%05uN014%05uEA%05u%05u\r\n", uiSecOfDay / 3600,
                 uiSecOfDay / 60 % 60, uiSecOfDay % 60, uiLatMin, uiLonMin, uiAlt, uiAlt + 25);
    writer.Append(acLine, iLen);
}

void WriteFiller(IgcWriter& writer) {
    const uint32_t uiRest = writer.Remaining();
    if (uiRest < kMinFiller) {
        writer.Append(uiRest == 2 ? "\r\n" : "\n", static_cast<int>(uiRest));
        return;
    }
    QByteArray baLine(static_cast<int>(uiRest), '-');
    baLine[0] = 'L';
    baLine[static_cast<int>(uiRest) - 2] = '\r';
    baLine[static_cast<int>(uiRest) - 1] = '\n';
    writer.Append(baLine.constData(), baLine.size());
}

} // namespace

uint32_t PackLogbookTime(int iYear, int iMonth, int iDay, uint32_t uiSecOfDay) {
    const uint32_t uiDate = static_cast<uint32_t>(iYear % 100 + 100 * (iMonth + 13 * iDay));
    return uiSecOfDay % 86400 + 86400 * uiDate;
}

SimFlight MakeIgcFlight(uint32_t uiSize, uint32_t uiPackedTime, uint16_t uiDailyNr, uint32_t uiSerial,
                        const QByteArray& baModel, uint32_t uiSeed) {
    SimFlight flight;
    flight.uiPackedTime = uiPackedTime;
    flight.uiDailyNr = uiDailyNr;
    IgcWriter writer(&flight.baData, uiSize);
    WriteHeaders(writer, flight, uiSerial, baModel);
    uint32_t uiStep = 0;
    // A fix that would leave one or two bytes, too few for the filler record, is not written.
    while (writer.Remaining() == kFixLength || writer.Remaining() >= kFixLength + kMinFiller) {
        WriteFix(writer, (uiPackedTime + uiStep) % 86400, uiStep, uiSeed);
        ++uiStep;
    }
    if (writer.Remaining() > 0)
        WriteFiller(writer);
    flight.uiDurationSec = uiStep;
    return flight;
}

} // namespace sim
