#include "common/ParserNMEA.h"

#include "common/FieldParsers.h"
#include "common/TimeOfDay.h"

#include <cstdio>
#include <cstring>

namespace common {

namespace {

// The identifier matches when it begins with the whole of szText; a shorter one does not. The first
// difference ends the comparison, so nothing past the identifier's terminator is read.
template <size_t N> bool IdIs(const char* pszId, const char (&szText)[N]) {
    for (size_t i = 0; i < N - 1; ++i)
        if (pszId[i] != szText[i])
            return false;
    return true;
}

} // namespace

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

    // Rows in comparison order; the first match decides. Texts of different first letters never match
    // the same identifier, so the first letter picks the rows to try, in the table's order.
    switch (*pszId) {
    case 'G':
        if (IdIs(pszId, "GPRMC") || IdIs(pszId, "GNRMC"))
            return ParseRMC() ? CodeRmc : CodeNone;
        if (IdIs(pszId, "GPGGA") || IdIs(pszId, "GNGGA"))
            return ParseGGA() ? CodeGga : CodeNone;
        if (IdIs(pszId, "GPGSA") || IdIs(pszId, "GNGSA"))
            return ParseGSA() ? CodeGsa : CodeNone;
        if (IdIs(pszId, "GPGSV"))
            return ParseGSV(0) ? CodeGsv : CodeNone;
        if (IdIs(pszId, "GNGSV"))
            return ParseGSV(2) ? CodeGsv : CodeNone;
        if (IdIs(pszId, "GLGSV"))
            return ParseGSV(4) ? CodeGsv : CodeNone;
        if (IdIs(pszId, "GAGSV"))
            return ParseGSV(8) ? CodeGsv : CodeNone;
        if (IdIs(pszId, "GNGNS") || IdIs(pszId, "GPGNS") || IdIs(pszId, "GLGNS") || IdIs(pszId, "GBGNS"))
            return ParseGNS() ? CodeGns : CodeNone;
        return CodeNone;
    case 'P':
        if (IdIs(pszId, "PFLAU"))
            return ParsePFLAU() ? CodePflau : CodeNone;
        if (IdIs(pszId, "PFLAA"))
            return ParsePFLAA() ? CodePflaa : CodeNone;
        if (IdIs(pszId, "PFLAC"))
            return ParsePFLAC() ? CodePflac : CodeNone;
        if (IdIs(pszId, "PFLAE"))
            return ParsePFLAE() ? CodePflae : CodeNone;
        if (IdIs(pszId, "PFLAL")) {
            fprintf(stderr, "PFLAL received\n");
            // Bounded copies that always write the terminator into the text's last byte.
            strncpy(szPflalText, GetField(1), sizeof szPflalText - 1);
            szPflalText[sizeof szPflalText - 1] = '\0';
            return CodePflal;
        }
        if (IdIs(pszId, "PFLAQ")) {
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
            progress.uiTimeMs = uiLastSentenceMs;
            return CodePflaq;
        }
        if (IdIs(pszId, "PCAID"))
            return ParsePCAID() ? CodePcaid : CodeNone;
        if (IdIs(pszId, "PGRMZ") || IdIs(pszId, "PNRMZ"))
            return ParsePGRMZ() ? CodePgrmz : CodeNone;
        if (IdIs(pszId, "PFLX0"))
            return ParsePFLX0() ? CodePflx0 : CodeNone;
        if (IdIs(pszId, "PFLX2")) {
            ParsePFLX2();
            return CodePflx2;
        }
        return CodeNone;
    case 'L':
        if (IdIs(pszId, "LXWP0")) {
            ParseLXWP0();
            return CodeLxwp0;
        }
        if (IdIs(pszId, "LXGRB")) {
            ParseLXGRB();
            return CodeLxgrb;
        }
        if (IdIs(pszId, "LXDT"))
            return ParseLXDT() ? CodeLxdt : CodeNone;
        return CodeNone;
    case 'w':
        return ParseC302() ? CodeC302 : CodeNone;
    case 'R':
        if (IdIs(pszId, "RPYL")) {
            ParseRPYL();
            return CodeRpyl;
        }
        return CodeNone;
    case 'V':
        if (IdIs(pszId, "VNDT"))
            return ParseLXDT() ? CodeLxdt : CodeNone;
        if (IdIs(pszId, "VNREQ"))
            return ParseDeviceRequest() ? CodeRequest : CodeNone;
        if (IdIs(pszId, "VNINFO2"))
            return ParseDeviceInfo() ? CodeInfo : CodeNone;
        if (IdIs(pszId, "VNSET2"))
            return ParseDeviceSettings() ? CodeSettings : CodeNone;
        if (IdIs(pszId, "VNLOGBOOK"))
            return ParseLogbookEntry() ? CodeLogbook : CodeNone;
        return CodeNone;
    default:
        return CodeNone;
    }
}

} // namespace common
