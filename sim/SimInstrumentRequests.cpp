// The sentences the simulated instrument answers: identity, settings, logbook rows and flight parts.
#include "sim/SimInstrument.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int kPartSize = 128;
constexpr int64_t kLastPart = 65535;   // the tool numbers parts in 16 bits
constexpr uint8_t kPartPadding = 0xFF; // erased flash behind the end of a flight

// An argument of a request: absent is 0, unreadable is -1 (not answered).
int64_t Argument(const sim::SentenceFields& fields, int iIndex) {
    if (fields.At(iIndex)[0] == '\0')
        return 0;
    int64_t iValue = 0;
    return sim::ParseInteger(fields.At(iIndex), &iValue) ? iValue : -1;
}

// Takes a field into *piTarget brought into [iMin, iMax]; an unreadable field leaves the setting alone.
void StoreClamped(const char* pcField, int64_t iMin, int64_t iMax, int* piTarget) {
    int64_t iValue = 0;
    if (sim::ParseInteger(pcField, &iValue))
        *piTarget = static_cast<int>(qBound(iMin, iValue, iMax));
}

} // namespace

int SimInstrument::AddFlight(uint32_t uiSize, uint32_t uiPackedTime, uint16_t uiDailyNr) {
    const int iIndex = aFlights.size();
    if (uiPackedTime == 0)
        uiPackedTime = sim::PackLogbookTime(2024, 1 + iIndex / 28 % 12, 1 + iIndex % 28, 36000 + 60 * iIndex);
    if (uiDailyNr == 0)
        uiDailyNr = 1;
    return AddFlight(sim::MakeIgcFlight(uiSize, uiPackedTime, uiDailyNr, identity.uiSerial, identity.baModel,
                                        static_cast<uint32_t>(iIndex)));
}

int SimInstrument::AddFlight(const sim::SimFlight& flight) {
    aFlights.append(flight);
    return aFlights.size() - 1;
}

void SimInstrument::HandleSentence(const char* pcBody) {
    const QByteArray baBody(pcBody);
    aReceived.append(baBody);
    emit RequestReceived(baBody);
    // A listener may have pulled the cable.
    if (iMasterFd < 0 || TakeLostRequest(baBody))
        return;
    const sim::SentenceFields fields(pcBody);
    if (strcmp(fields.At(0), "VNSET2") == 0) {
        StoreSettings(fields);
        return;
    }
    if (strcmp(fields.At(0), "VNREQ") != 0)
        return;
    iAnswerLateMs = TakeLateAnswer(baBody);
    const int iAnswers = !baDoubleStart.isEmpty() && baBody.startsWith(baDoubleStart) ? 2 : 1;
    for (int i = 0; i < iAnswers && iMasterFd >= 0; ++i)
        AnswerRequest(fields);
    iAnswerLateMs = 0;
}

void SimInstrument::AnswerRequest(const sim::SentenceFields& fields) {
    int64_t iCode = -1;
    sim::ParseInteger(fields.At(1), &iCode);
    switch (iCode) {
    case 0:
        SendIdentity();
        break;
    case 1:
        SendSettings();
        break;
    case 39:
        aFlights.clear();
        break;
    case 40:
        SendLogbookRow(Argument(fields, 2));
        break;
    case 50:
        iLastPartReqMs = clock.elapsed();
        SendFlightPart(Argument(fields, 2), Argument(fields, 3));
        break;
    case 199:
        EnterUpdate();
        break;
    default:
        // Codes of other instruments and of later firmware are ignored, as the real ones do.
        break;
    }
}

bool SimInstrument::TakeLostRequest(const QByteArray& baBody) {
    for (int i = 0; i < aLost.size(); ++i) {
        if (aLost[i].baBody != baBody)
            continue;
        if (--aLost[i].iTimes <= 0)
            aLost.removeAt(i);
        return true;
    }
    return false;
}

int SimInstrument::TakeLateAnswer(const QByteArray& baBody) {
    if (lateAnswers.iTimes == 0 || !baBody.startsWith(lateAnswers.baStart))
        return 0;
    if (lateAnswers.iTimes > 0)
        --lateAnswers.iTimes;
    return lateAnswers.iMs;
}

bool SimInstrument::TakePartFault(PartFault eFault, int64_t iPart) {
    Fault& fault = aPartFaults[static_cast<int>(eFault)];
    if (fault.iTimes <= 0 || fault.iPart != iPart)
        return false;
    --fault.iTimes;
    return true;
}

bool SimInstrument::IsModel(const char* pcPrefix) const {
    return identity.baModel.startsWith(pcPrefix);
}

void SimInstrument::SendIdentity() {
    char acBody[256];
    snprintf(acBody, sizeof(acBody), "VNINFO2,%s,%s,%u,%u,%u,%u,%s", identity.baModel.constData(),
             identity.baProduced.constData(), identity.uiSerial, identity.uiFwMajor, identity.uiFwMinor,
             identity.uiFwBuild, identity.baHwVersion.constData());
    SendSentence(acBody);
}

void SimInstrument::SendSettings() {
    char acBody[128];
    snprintf(acBody, sizeof(acBody), "VNSET2,%d,%d.%d,%d,%d,%u,%d", settings.iTELevel,
             settings.iVarioFilterTenths / 10, settings.iVarioFilterTenths % 10, settings.iServoTrigger,
             settings.iServoChannel, settings.uiPairKey, settings.iTelemetry);
    SendSentence(acBody);
}

// A Pelko_2 takes "VNSET2,pairkey,telemetry"; every other model the six settings. A sentence of the
// other form is ignored, and every value is brought into the range the instrument can hold.
void SimInstrument::StoreSettings(const sim::SentenceFields& fields) {
    const bool bPelko = IsModel("Pelko_2");
    const int iLastTelemetry = bPelko ? 3 : 4;
    int iPairKey = static_cast<int>(settings.uiPairKey);
    if (bPelko) {
        if (fields.Count() != 3)
            return;
        StoreClamped(fields.At(1), 0, 999999, &iPairKey);
        StoreClamped(fields.At(2), 0, iLastTelemetry, &settings.iTelemetry);
        settings.uiPairKey = static_cast<uint32_t>(iPairKey);
        return;
    }
    if (fields.Count() != 7)
        return;
    StoreClamped(fields.At(1), -10, 120, &settings.iTELevel);
    int64_t iTenths = 0;
    if (sim::ParseTenths(fields.At(2), &iTenths))
        settings.iVarioFilterTenths = static_cast<int>(qBound(int64_t{5}, iTenths, int64_t{100}));
    StoreClamped(fields.At(3), 0, 100, &settings.iServoTrigger);
    // The tool writes the channel as an unsigned 32-bit number: 4294967295 is -1, no channel.
    int64_t iChannel = 0;
    if (sim::ParseInteger(fields.At(4), &iChannel))
        settings.iServoChannel = qBound(-1, static_cast<int>(static_cast<uint32_t>(iChannel)), 24);
    StoreClamped(fields.At(5), 0, 999999, &iPairKey);
    settings.uiPairKey = static_cast<uint32_t>(iPairKey);
    StoreClamped(fields.At(6), 0, iLastTelemetry, &settings.iTelemetry);
}

// An empty logbook answers row 0 with a flight count of 0; a row beyond the flights is not answered.
void SimInstrument::SendLogbookRow(int64_t iRow) {
    char acBody[128];
    if (aFlights.isEmpty()) {
        SendSentence("VNLOGBOOK,0,0,0,0,0,0");
        return;
    }
    if (iRow < 0 || iRow >= aFlights.size())
        return;
    const sim::SimFlight& flight = aFlights.at(static_cast<int>(iRow));
    snprintf(acBody, sizeof(acBody), "VNLOGBOOK,%d,%d,%u,%u,%u,%d", static_cast<int>(aFlights.size()),
             static_cast<int>(iRow), flight.uiDailyNr, flight.uiPackedTime, flight.uiDurationSec,
             static_cast<int>(flight.baData.size()));
    SendSentence(acBody);
}

// Part p is bytes p·128 to p·128 + 127 of the flight, padded behind its end.
void SimInstrument::SendFlightPart(int64_t iFlight, int64_t iPart) {
    if (iFlight < 0 || iFlight >= aFlights.size() || iPart < 0 || iPart > kLastPart)
        return;
    if (TakePartFault(PartFault::Unplug, iPart)) {
        Unplug();
        return;
    }
    const QByteArray& baData = aFlights.at(static_cast<int>(iFlight)).baData;
    QByteArray baPart = baData.mid(static_cast<qsizetype>(iPart) * kPartSize, kPartSize);
    baPart.append(kPartSize - baPart.size(), static_cast<char>(kPartPadding));
    if (TakePartFault(PartFault::Stall, iPart))
        baPart.truncate(kPartSize / 2);
    if (TakePartFault(PartFault::StrayByte, iPart))
        baPart.prepend('\n');
    Send(baPart, true);
}
