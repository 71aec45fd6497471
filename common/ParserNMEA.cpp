#include "common/ParserNMEA.h"

#include "common/FieldParsers.h"
#include "common/TimeOfDay.h"

#include <cstdio>
#include <cstring>

namespace common {

namespace {

// Every field the sentence lacks reads as this text.
const char kEmptyField[] = "";

// The identifier matches when its first byLength characters equal pszText; a shorter one does not.
bool IdIs(const char* pszId, const char* pszText, size_t uiLength) {
    return strncmp(pszId, pszText, uiLength) == 0;
}

} // namespace

ParserNMEA::ParserNMEA()
    : bDebug(false), pcSentence(nullptr), pbyFieldStart(nullptr), byFieldCount(0),
      // As if the last sentence had come ten seconds ago; wraps before midnight like the clock does.
      uiLastSentenceMs(TimeOfDayMs() - 10000u), request(), info(), settings(), logbook() {}

ParserNMEA::~ParserNMEA() = default;

const char* ParserNMEA::GetField(uint8_t byIndex) const {
    return byIndex < byFieldCount ? pcSentence + pbyFieldStart[byIndex] : kEmptyField;
}

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

    // Rows in comparison order; the first match decides.
    if (IdIs(pszId, "GPRMC", 5) || IdIs(pszId, "GNRMC", 5))
        return ParseRMC() ? 1 : 0;
    if (IdIs(pszId, "GPGGA", 5) || IdIs(pszId, "GNGGA", 5))
        return ParseGGA() ? 2 : 0;
    if (IdIs(pszId, "GPGSA", 5) || IdIs(pszId, "GNGSA", 5))
        return ParseGSA() ? 3 : 0;
    if (IdIs(pszId, "GPGSV", 5))
        return ParseGSV(0) ? 4 : 0;
    if (IdIs(pszId, "GNGSV", 5))
        return ParseGSV(2) ? 4 : 0;
    if (IdIs(pszId, "GLGSV", 5))
        return ParseGSV(4) ? 4 : 0;
    if (IdIs(pszId, "GAGSV", 5))
        return ParseGSV(8) ? 4 : 0;
    if (IdIs(pszId, "GNGNS", 5) || IdIs(pszId, "GPGNS", 5) || IdIs(pszId, "GLGNS", 5) ||
        IdIs(pszId, "GBGNS", 5))
        return ParseGNS() ? 5 : 0;
    if (IdIs(pszId, "PFLAU", 5))
        return ParsePFLAU() ? 6 : 0;
    if (IdIs(pszId, "PFLAA", 5))
        return ParsePFLAA() ? 7 : 0;
    if (IdIs(pszId, "PFLAC", 5))
        return ParsePFLAC() ? 8 : 0;
    if (IdIs(pszId, "PFLAE", 5))
        return ParsePFLAE() ? 9 : 0;
    if (IdIs(pszId, "PFLAL", 5)) {
        fprintf(stderr, "PFLAL received\n");
        // Bounded copies that always write the terminator into the text's last byte.
        strncpy(szPflalText, GetField(1), sizeof szPflalText - 1);
        szPflalText[sizeof szPflalText - 1] = '\0';
        return 10;
    }
    if (IdIs(pszId, "PFLAQ", 5)) {
        fprintf(stderr, "PFLAQ received\n");
        FlarmProgress& progress = flarmProgress;
        strncpy(progress.szOperation, GetField(1), sizeof progress.szOperation - 1);
        progress.szOperation[sizeof progress.szOperation - 1] = '\0';
        // Three fields carry no info text, only the progress.
        if (byFieldCount == 3) {
            progress.byProgress = static_cast<uint8_t>(ParseInt(GetField(2), 0));
            memset(progress.szInfo, 0, sizeof progress.szInfo);
        } else {
            strncpy(progress.szInfo, GetField(2), sizeof progress.szInfo - 1);
            progress.szInfo[sizeof progress.szInfo - 1] = '\0';
            progress.byProgress = static_cast<uint8_t>(ParseInt(GetField(3), 0));
        }
        progress.uiTimeMs = TimeOfDayMs();
        return 11;
    }
    if (IdIs(pszId, "LXWP0", 5)) {
        ParseLXWP0();
        return 14;
    }
    if (IdIs(pszId, "LXGRB", 5)) {
        ParseLXGRB();
        return 18;
    }
    if (IdIs(pszId, "w", 1))
        return ParseC302() ? 15 : 0;
    if (IdIs(pszId, "PCAID", 5))
        return ParsePCAID() ? 16 : 0;
    if (IdIs(pszId, "PGRMZ", 5) || IdIs(pszId, "PNRMZ", 5))
        return ParsePGRMZ() ? 17 : 0;
    if (IdIs(pszId, "PFLX0", 5))
        return ParsePFLX0() ? 19 : 0;
    if (IdIs(pszId, "PFLX2", 5)) {
        ParsePFLX2();
        return 20;
    }
    if (IdIs(pszId, "RPYL", 4)) {
        ParseRPYL();
        return 21;
    }
    if (IdIs(pszId, "VNDT", 4) || IdIs(pszId, "LXDT", 4))
        return ParseLXDT() ? 22 : 0;
    if (IdIs(pszId, "VNREQ", 5))
        return ParseDeviceRequest() ? 23 : 0;
    if (IdIs(pszId, "VNINFO2", 7))
        return ParseDeviceInfo() ? 24 : 0;
    if (IdIs(pszId, "VNSET2", 6))
        return ParseDeviceSettings() ? 25 : 0;
    if (IdIs(pszId, "VNLOGBOOK", 9))
        return ParseLogbookEntry() ? 26 : 0;
    return 0;
}

} // namespace common
