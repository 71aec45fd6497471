#pragma once

// The sentence parser: its dispatcher, its codes and every record it keeps.

#include "common/DeviceRecords.h"
#include "common/FieldParsers.h"
#include "common/FlarmRecords.h"
#include "common/GnssRecords.h"
#include "common/LxDataRecords.h"
#include "common/LxRecords.h"

#include <cstdint>

namespace common {

// What ParseNMEA recognised: one of the codes below.
typedef uint32_t SentenceCode;

// The kinds of sentence. The numbers are fixed; 12 and 13 name none and are never returned.
enum SentenceCodes : SentenceCode {
    CodeNone = 0, // not taken: unknown identifier, or refused by its handler
    CodeRmc = 1,
    CodeGga = 2,
    CodeGsa = 3,
    CodeGsv = 4,
    CodeGns = 5,
    CodePflau = 6,
    CodePflaa = 7,
    CodePflac = 8,
    CodePflae = 9,
    CodePflal = 10,
    CodePflaq = 11,
    CodeLxwp0 = 14,
    CodeC302 = 15,
    CodePcaid = 16,
    CodePgrmz = 17,
    CodeLxgrb = 18,
    CodePflx0 = 19,
    CodePflx2 = 20,
    CodeRpyl = 21,
    CodeLxdt = 22,
    // The instrument's own sentences, the only ones the tool's window acts on.
    CodeRequest = 23,
    CodeInfo = 24,
    CodeSettings = 25,
    CodeLogbook = 26,
};

// Recognises a checksummed sentence by its identifier, runs its handler and keeps the latest values
// of every kind of sentence it knows. The sentence buffer belongs to the framer: fields are
// NUL-terminated texts inside it, valid only during one ParseNMEA call.
class ParserNMEA {
public:
    ParserNMEA();
    virtual ~ParserNMEA();

    virtual SentenceCode ParseNMEA(const char* pcSentence, const uint8_t* pbyFieldStart,
                                   uint8_t byFieldCount);

    // Text of field byIndex of the current sentence; a field that the sentence lacks reads as "".
    const char* GetField(uint8_t byIndex) const {
        return byIndex < byFieldCount ? pcSentence + pbyFieldStart[byIndex] : "";
    }

    // An NMEA latitude (2 degree digits) or longitude (3) in radians, without the hemisphere's sign.
    float ParseCoordinate(const char* pszText, uint8_t byDegDigits) const {
        return common::ParseCoordinate(pszText, byDegDigits);
    }

    bool bDebug;
    const char* pcSentence;
    const uint8_t* pbyFieldStart;
    uint8_t byFieldCount;
    // Time of day of the sentence being parsed, or of the last one: the stamp its records take.
    uint32_t uiLastSentenceMs;

    // GNSS receiver records.
    RmcData rmc;
    FixData gga;
    FixData gns;
    GsaData gsa;
    SatelliteTable gsvGps;
    SatelliteTable gsvGalileo;
    SatelliteTable gsvGlonass;

    // FLARM records.
    FlarmStatus flarmStatus;
    FlarmTarget flarmTarget;
    FlarmConfig flarmConfig;
    FlarmError flarmError;
    char szPflalText[82 + 1] = {}; // field 1 of the last PFLAL, terminated
    FlarmProgress flarmProgress;

    // LX and other instrument records.
    LxWp0Data lxwp0;
    C302Data c302;
    PcaidData pcaid;
    float fPressureAltitude = 0.0f;
    uint8_t byLxgrbFlags = 0;
    // Rates of LXWP0 to LXWP3 until a PFLX0 names them; LXWP3 starts at 59, not 60.
    uint8_t abyLxwpRate[4] = {1, 60, 5, 59};
    Pflx2Data pflx2;
    RpylData rpyl;

    // LX data record.
    LxdtData lxdt;

    DeviceRequest request;
    DeviceInfo info;
    DeviceSettings settings;
    LogbookEntry logbook;

private:
    struct DispatchRow;
    static const DispatchRow kaDispatch[];

    void PrintDebugTrace() const;
    // bTaken, after saying so with the sentence's name when the field count is not one it takes.
    bool FieldCountTaken(bool bTaken, const char* pszName) const;

    // Handlers, one per kind of sentence: true when the sentence is taken. Those that take every
    // sentence say so by always returning true.

    // GNSS receiver handlers.
    bool ParseRMC();
    bool ParseGGA();
    bool ParseGSA();
    bool ParseGSV();
    bool ParseGNS();

    // FLARM handlers; PFLAL and PFLAQ, which only store their texts, sit beside the dispatch table.
    bool ParsePFLAU();
    bool ParsePFLAA();
    bool ParsePFLAC();
    bool ParsePFLAE();
    bool ParsePFLAL();
    bool ParsePFLAQ();

    // LX and other instrument handlers.
    bool ParseLXWP0();
    bool ParseC302();
    bool ParsePCAID();
    bool ParsePGRMZ();
    bool ParseLXGRB();
    bool ParsePFLX0();
    bool ParsePFLX2();
    bool ParseRPYL();

    // LX data handler.
    bool ParseLXDT();

    bool ParseDeviceRequest();
    bool ParseDeviceInfo();
    bool ParseDeviceSettings();
    bool ParseLogbookEntry();
};

} // namespace common
