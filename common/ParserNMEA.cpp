// The sentence dispatcher: one table from identifier to handler and code.
#include "common/ParserNMEA.h"

#include "common/FieldParsers.h"
#include "common/TimeOfDay.h"

#include <cstdio>

namespace common {

// An identifier text, compared over its whole length; the handler, and the code it gives when the
// handler takes the sentence.
struct ParserNMEA::DispatchRow {
    const char* pszId;
    bool (ParserNMEA::*pHandler)();
    SentenceCode uiCode;
};

// In comparison order; the first text that begins the identifier decides. No two texts can match the
// same identifier, and "w" is the only one that begins with a lower-case letter.
const ParserNMEA::DispatchRow ParserNMEA::kaDispatch[] = {
    {"GPRMC", &ParserNMEA::ParseRMC, CodeRmc},
    {"GNRMC", &ParserNMEA::ParseRMC, CodeRmc},
    {"GPGGA", &ParserNMEA::ParseGGA, CodeGga},
    {"GNGGA", &ParserNMEA::ParseGGA, CodeGga},
    {"GPGSA", &ParserNMEA::ParseGSA, CodeGsa},
    {"GNGSA", &ParserNMEA::ParseGSA, CodeGsa},
    {"GPGSV", &ParserNMEA::ParseGSV, CodeGsv},
    {"GNGSV", &ParserNMEA::ParseGSV, CodeGsv},
    {"GLGSV", &ParserNMEA::ParseGSV, CodeGsv},
    {"GAGSV", &ParserNMEA::ParseGSV, CodeGsv},
    {"GNGNS", &ParserNMEA::ParseGNS, CodeGns},
    {"GPGNS", &ParserNMEA::ParseGNS, CodeGns},
    {"GLGNS", &ParserNMEA::ParseGNS, CodeGns},
    {"GBGNS", &ParserNMEA::ParseGNS, CodeGns},
    {"PFLAU", &ParserNMEA::ParsePFLAU, CodePflau},
    {"PFLAA", &ParserNMEA::ParsePFLAA, CodePflaa},
    {"PFLAC", &ParserNMEA::ParsePFLAC, CodePflac},
    {"PFLAE", &ParserNMEA::ParsePFLAE, CodePflae},
    {"PFLAL", &ParserNMEA::ParsePFLAL, CodePflal},
    {"PFLAQ", &ParserNMEA::ParsePFLAQ, CodePflaq},
    {"LXWP0", &ParserNMEA::ParseLXWP0, CodeLxwp0},
    {"LXGRB", &ParserNMEA::ParseLXGRB, CodeLxgrb},
    {"w", &ParserNMEA::ParseC302, CodeC302},
    {"PCAID", &ParserNMEA::ParsePCAID, CodePcaid},
    {"PGRMZ", &ParserNMEA::ParsePGRMZ, CodePgrmz},
    {"PNRMZ", &ParserNMEA::ParsePGRMZ, CodePgrmz},
    {"PFLX0", &ParserNMEA::ParsePFLX0, CodePflx0},
    {"PFLX2", &ParserNMEA::ParsePFLX2, CodePflx2},
    {"RPYL", &ParserNMEA::ParseRPYL, CodeRpyl},
    {"VNDT", &ParserNMEA::ParseLXDT, CodeLxdt},
    {"LXDT", &ParserNMEA::ParseLXDT, CodeLxdt},
    {"VNREQ", &ParserNMEA::ParseDeviceRequest, CodeRequest},
    {"VNINFO2", &ParserNMEA::ParseDeviceInfo, CodeInfo},
    {"VNSET2", &ParserNMEA::ParseDeviceSettings, CodeSettings},
    {"VNLOGBOOK", &ParserNMEA::ParseLogbookEntry, CodeLogbook},
};

ParserNMEA::ParserNMEA()
    : bDebug(false), pcSentence(nullptr), pbyFieldStart(nullptr), byFieldCount(0),
      // As if the last sentence had come ten seconds ago; wraps before midnight like the clock does.
      uiLastSentenceMs(TimeOfDayMs() - 10000u), request(), info(), settings(), logbook() {}

ParserNMEA::~ParserNMEA() = default;

void ParserNMEA::PrintDebugTrace() const {
    fprintf(stderr, "\nFC %d\n", byFieldCount);
    for (int i = 0; i < byFieldCount; ++i) {
        const char* pszField = pcSentence + pbyFieldStart[i];
        if (*pszField == '\0')
            fprintf(stderr, "%d-%d <0>\n", i, pbyFieldStart[i]);
        else
            fprintf(stderr, "%d-%d %s\n", i, pbyFieldStart[i], pszField);
    }
}

bool ParserNMEA::FieldCountTaken(bool bTaken, const char* pszName) const {
    if (!bTaken)
        fprintf(stderr, "%s invalid field count %i.\n", pszName, byFieldCount);
    return bTaken;
}

SentenceCode ParserNMEA::ParseNMEA(const char* pcSentenceIn, const uint8_t* pbyFieldStartIn,
                                   uint8_t byFieldCountIn) {
    if (bDebug)
        fprintf(stderr, "ParseNMEA begin");
    pcSentence = pcSentenceIn;
    pbyFieldStart = pbyFieldStartIn;
    byFieldCount = byFieldCountIn;
    if (bDebug)
        PrintDebugTrace();
    uiLastSentenceMs = TimeOfDayMs();

    // The start character, "$" or "!", plays no part in the identifier.
    const char* pszId = GetField(0);
    if (*pszId != '\0')
        ++pszId;
    for (const DispatchRow& row : kaDispatch)
        if (StartsWith(pszId, row.pszId))
            return (this->*row.pHandler)() ? row.uiCode : CodeNone;
    return CodeNone;
}

// PFLAL: 1 the unit's log line, kept as text.
bool ParserNMEA::ParsePFLAL() {
    fprintf(stderr, "PFLAL received\n");
    CopyText(szPflalText, GetField(1));
    return true;
}

// PFLAQ: 1 operation, 2 info text, 3 progress in percent; with only three fields, 2 is the progress.
bool ParserNMEA::ParsePFLAQ() {
    fprintf(stderr, "PFLAQ received\n");
    CopyText(flarmProgress.szOperation, GetField(1));
    if (byFieldCount == 3) {
        flarmProgress.byProgress = static_cast<uint8_t>(IntOf(GetField(2)));
        CopyText(flarmProgress.szInfo, "");
    } else {
        CopyText(flarmProgress.szInfo, GetField(2));
        flarmProgress.byProgress = static_cast<uint8_t>(IntOf(GetField(3)));
    }
    flarmProgress.uiTimeMs = uiLastSentenceMs;
    return true;
}

} // namespace common
