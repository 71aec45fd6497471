// The protocol fuzz target's harness: bytes through the framer and parser, every record read back.
#include "fuzz/ProtocolHarness.h"

#include "framing/BasicNMEA.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz {

namespace {

using namespace common;

FILE* pFailureStream = nullptr;

[[noreturn]] void Fail(const char* pszFormat, ...) {
    FILE* pOut = pFailureStream != nullptr ? pFailureStream : stderr;
    va_list args;
    va_start(args, pszFormat);
    fprintf(pOut, "protocol harness: ");
    vfprintf(pOut, pszFormat, args);
    fprintf(pOut, "\n");
    va_end(args);
    fflush(pOut);
    abort();
}

// The dispatch rows, written out again as the independent judge of which record a sentence may touch:
// the first text that begins the identifier decides.
struct Row {
    const char* pszText;
    size_t uiLength;
    common::SentenceCode uiCode;
};

const Row kRows[] = {
    {"GPRMC", 5, CodeRmc},
    {"GNRMC", 5, CodeRmc},
    {"GPGGA", 5, CodeGga},
    {"GNGGA", 5, CodeGga},
    {"GPGSA", 5, CodeGsa},
    {"GNGSA", 5, CodeGsa},
    {"GPGSV", 5, CodeGsv},
    {"GNGSV", 5, CodeGsv},
    {"GLGSV", 5, CodeGsv},
    {"GAGSV", 5, CodeGsv},
    {"GNGNS", 5, CodeGns},
    {"GPGNS", 5, CodeGns},
    {"GLGNS", 5, CodeGns},
    {"GBGNS", 5, CodeGns},
    {"PFLAU", 5, CodePflau},
    {"PFLAA", 5, CodePflaa},
    {"PFLAC", 5, CodePflac},
    {"PFLAE", 5, CodePflae},
    {"PFLAL", 5, CodePflal},
    {"PFLAQ", 5, CodePflaq},
    {"LXWP0", 5, CodeLxwp0},
    {"LXGRB", 5, CodeLxgrb},
    {"w", 1, CodeC302},
    {"PCAID", 5, CodePcaid},
    {"PGRMZ", 5, CodePgrmz},
    {"PNRMZ", 5, CodePgrmz},
    {"PFLX0", 5, CodePflx0},
    {"PFLX2", 5, CodePflx2},
    {"RPYL", 4, CodeRpyl},
    {"VNDT", 4, CodeLxdt},
    {"LXDT", 4, CodeLxdt},
    {"VNREQ", 5, CodeRequest},
    {"VNINFO2", 7, CodeInfo},
    {"VNSET2", 6, CodeSettings},
    {"VNLOGBOOK", 9, CodeLogbook},
};

common::SentenceCode RowOf(const char* pszId) {
    for (const Row& row : kRows)
        if (strncmp(pszId, row.pszText, row.uiLength) == 0)
            return row.uiCode;
    return CodeNone;
}

// Rows whose sentences are never refused, whatever their fields.
bool NeverRefused(common::SentenceCode uiRow) {
    switch (uiRow) {
    case CodePflau:
    case CodePflac:
    case CodePflae:
    case CodePflal:
    case CodePflaq:
    case CodeLxwp0:
    case CodeLxgrb:
    case CodePflx0:
    case CodePflx2:
    case CodeRpyl:
    case CodeLxdt:
    case CodeRequest:
    case CodeInfo:
    case CodeSettings:
    case CodeLogbook:
        return true;
    default:
        return false;
    }
}

bool ValidCode(common::SentenceCode uiCode) {
    return uiCode <= CodePflaq || (uiCode >= CodeLxwp0 && uiCode <= CodeLogbook);
}

// A byte range of the parser object.
struct Region {
    size_t uiBegin;
    size_t uiEnd;
};

template <typename T> Region RegionOf(const common::ParserNMEA& parser, const T& member) {
    const size_t uiBegin =
        static_cast<size_t>(reinterpret_cast<const char*>(&member) - reinterpret_cast<const char*>(&parser));
    return {uiBegin, uiBegin + sizeof(T)};
}

// The records that a sentence of the given row may write; 0 allows none.
int OwnedRegions(const common::ParserNMEA& p, common::SentenceCode uiRow, Region* aRegions) {
    switch (uiRow) {
    case CodeRmc:
        aRegions[0] = RegionOf(p, p.rmc);
        return 1;
    case CodeGga:
        aRegions[0] = RegionOf(p, p.gga);
        return 1;
    case CodeGsa:
        aRegions[0] = RegionOf(p, p.gsa);
        return 1;
    case CodeGsv:
        aRegions[0] = RegionOf(p, p.gsvGps);
        aRegions[1] = RegionOf(p, p.gsvGalileo);
        aRegions[2] = RegionOf(p, p.gsvGlonass);
        return 3;
    case CodeGns:
        aRegions[0] = RegionOf(p, p.gns);
        return 1;
    case CodePflau:
        aRegions[0] = RegionOf(p, p.flarmStatus);
        return 1;
    case CodePflaa:
        aRegions[0] = RegionOf(p, p.flarmTarget);
        return 1;
    case CodePflac:
        aRegions[0] = RegionOf(p, p.flarmConfig);
        return 1;
    case CodePflae:
        aRegions[0] = RegionOf(p, p.flarmError);
        return 1;
    case CodePflal:
        aRegions[0] = RegionOf(p, p.szPflalText);
        return 1;
    case CodePflaq:
        aRegions[0] = RegionOf(p, p.flarmProgress);
        return 1;
    case CodeLxwp0:
        aRegions[0] = RegionOf(p, p.lxwp0);
        return 1;
    case CodeC302:
        aRegions[0] = RegionOf(p, p.c302);
        return 1;
    case CodePcaid:
        aRegions[0] = RegionOf(p, p.pcaid);
        return 1;
    case CodePgrmz:
        aRegions[0] = RegionOf(p, p.fPressureAltitude);
        return 1;
    case CodeLxgrb:
        aRegions[0] = RegionOf(p, p.byLxgrbFlags);
        return 1;
    case CodePflx0:
        aRegions[0] = RegionOf(p, p.abyLxwpRate);
        return 1;
    case CodePflx2:
        aRegions[0] = RegionOf(p, p.pflx2);
        return 1;
    case CodeRpyl:
        aRegions[0] = RegionOf(p, p.rpyl);
        return 1;
    case CodeLxdt:
        aRegions[0] = RegionOf(p, p.lxdt);
        return 1;
    case CodeRequest:
        aRegions[0] = RegionOf(p, p.request);
        return 1;
    case CodeInfo:
        aRegions[0] = RegionOf(p, p.info);
        return 1;
    case CodeSettings:
        aRegions[0] = RegionOf(p, p.settings);
        return 1;
    case CodeLogbook:
        aRegions[0] = RegionOf(p, p.logbook);
        return 1;
    default:
        return 0;
    }
}

// Checks around every sentence handed to the parser: the code must match the identifier's row, and the
// handler may write its own record and the parser's bookkeeping, nothing else, not even the sentence.
class CheckedFramer : public BasicNMEA {
public:
    void OnSentence() override {
        memcpy(abySnapshot, static_cast<const void*>(&parser), sizeof parser);
        memcpy(acSentenceBefore, acSentence, sizeof acSentence);
        memcpy(abyFieldStartBefore, abyFieldStart, sizeof abyFieldStart);

        BasicNMEA::OnSentence();

        const char* pszId = acSentence + 1;
        const common::SentenceCode uiRow = RowOf(pszId);
        if (!ValidCode(uiLastCode))
            Fail("code %u is not a sentence code (identifier \"%s\")", uiLastCode, pszId);
        if (uiLastCode != CodeNone && uiLastCode != uiRow)
            Fail("identifier \"%s\" gave code %u, its row is %u", pszId, uiLastCode, uiRow);
        if (uiLastCode == CodeNone && NeverRefused(uiRow))
            Fail("identifier \"%s\" of row %u was refused", pszId, uiRow);
        if (memcmp(acSentenceBefore, acSentence, sizeof acSentence) != 0 ||
            memcmp(abyFieldStartBefore, abyFieldStart, sizeof abyFieldStart) != 0)
            Fail("the parser changed the sentence \"%s\"", pszId);

        Region aAllowed[8];
        int iAllowed = OwnedRegions(parser, uiRow, aAllowed);
        aAllowed[iAllowed++] = RegionOf(parser, parser.pcSentence);
        aAllowed[iAllowed++] = RegionOf(parser, parser.pbyFieldStart);
        aAllowed[iAllowed++] = RegionOf(parser, parser.byFieldCount);
        aAllowed[iAllowed++] = RegionOf(parser, parser.uiLastSentenceMs);
        const size_t uiChanged = FirstChangeOutside(aAllowed, iAllowed);
        if (uiChanged < sizeof parser)
            Fail("sentence \"%s\" of row %u wrote byte %zu of the parser, outside its record", pszId, uiRow,
                 uiChanged);
    }

private:
    // Index of the first byte that differs from the snapshot outside the regions, or the parser's size.
    size_t FirstChangeOutside(Region* aRegions, int iCount) const {
        std::sort(aRegions, aRegions + iCount,
                  [](const Region& a, const Region& b) { return a.uiBegin < b.uiBegin; });
        const unsigned char* pbyNow = reinterpret_cast<const unsigned char*>(&parser);
        size_t uiFrom = 0;
        for (int i = 0; i <= iCount; ++i) {
            const size_t uiTo = i < iCount ? aRegions[i].uiBegin : sizeof parser;
            if (uiTo > uiFrom && memcmp(pbyNow + uiFrom, abySnapshot + uiFrom, uiTo - uiFrom) != 0)
                for (size_t j = uiFrom; j < uiTo; ++j)
                    if (pbyNow[j] != abySnapshot[j])
                        return j;
            if (i < iCount && aRegions[i].uiEnd > uiFrom)
                uiFrom = aRegions[i].uiEnd;
        }
        return sizeof parser;
    }

    unsigned char abySnapshot[sizeof(common::ParserNMEA)];
    char acSentenceBefore[sizeof acSentence];
    uint8_t abyFieldStartBefore[sizeof abyFieldStart];
};

void CheckFramerState(const BasicNMEA& framer) {
    if (framer.uiState > BasicNMEA::ChecksumLow)
        Fail("framer state %u", framer.uiState);
    if (framer.byLength > BasicNMEA::kMaxLength)
        Fail("framer length %u", framer.byLength);
    if (framer.byFieldCount > BasicNMEA::kMaxFields)
        Fail("framer field count %u", framer.byFieldCount);
    if (!ValidCode(framer.uiLastCode))
        Fail("framer code %u", framer.uiLastCode);
}

// Folds every value read into one number, so that the reading cannot be optimised away.
class Digest {
public:
    template <typename... T> void Read(const T&... values) { (Take(values), ...); }

    uint64_t Value() const { return uiValue; }

private:
    template <typename T> void Take(T value) { Mix(static_cast<uint64_t>(value)); }

    void Take(float fValue) {
        uint32_t uiBits;
        memcpy(&uiBits, &fValue, sizeof uiBits);
        Mix(uiBits);
    }

    // Every fixed text keeps its terminator inside its member.
    template <size_t N> void Take(const char (&szText)[N]) {
        const size_t uiLength = strnlen(szText, N);
        if (uiLength == N)
            Fail("a text of %zu bytes has no terminator: \"%.*s\"", N, static_cast<int>(N), szText);
        for (size_t i = 0; i < uiLength; ++i)
            Mix(static_cast<uint8_t>(szText[i]));
    }

    template <typename T, size_t N> void Take(const T (&aValues)[N]) {
        for (const T& value : aValues)
            Take(value);
    }

    void Mix(uint64_t uiPart) { uiValue = (uiValue ^ uiPart) * 0x100000001B3ull; }

    uint64_t uiValue = 0xCBF29CE484222325ull;
};

void ReadFix(Digest& d, const FixData& f) {
    d.Read(f.fTime, f.fLatitude, f.fLongitude, f.uiQuality, f.uiSatellites, f.fHdop, f.fAltitude,
           f.fGeoidSeparation, f.fDgpsAge, f.uiDgpsStation);
}

void ReadSatellites(Digest& d, const SatelliteTable& table) {
    if (table.iFill < 0)
        Fail("satellite fill index %d", table.iFill);
    d.Read(table.uiInView, table.iFill);
    for (const SatelliteInView& sat : table.aSat)
        d.Read(sat.uiPrn, sat.uiElevation, sat.uiAzimuth, sat.uiSnr);
}

void ReadGnss(Digest& d, const ParserNMEA& p) {
    d.Read(p.rmc.fTime, p.rmc.bValid, p.rmc.fLatitude, p.rmc.fLongitude, p.rmc.fSpeed, p.rmc.fCourse,
           p.rmc.dtDate.Year(), p.rmc.dtDate.Month(), p.rmc.dtDate.Day());
    ReadFix(d, p.gga);
    ReadFix(d, p.gns);
    d.Read(p.gsa.uiMode, p.gsa.uiFixType, p.gsa.abySatellite, p.gsa.fPdop, p.gsa.fHdop, p.gsa.fVdop);
    ReadSatellites(d, p.gsvGps);
    ReadSatellites(d, p.gsvGalileo);
    ReadSatellites(d, p.gsvGlonass);
}

void ReadFlarm(Digest& d, const ParserNMEA& p) {
    const FlarmStatus& s = p.flarmStatus;
    d.Read(s.byRx, s.byTx, s.byGps, s.byPower, s.byAlarmLevel, s.byAlarmType, s.iRelativeBearing,
           s.iRelativeVertical, s.uiRelativeDistance, s.uiId);
    const FlarmTarget& t = p.flarmTarget;
    d.Read(t.byAlarmLevel, t.byIdType, t.byAircraftType, t.iRelativeNorth, t.iRelativeEast,
           t.iRelativeVertical, t.uiTrack, t.uiId, t.fTurnRate, t.fGroundSpeed, t.fClimbRate);
    const FlarmConfig& c = p.flarmConfig;
    d.Read(c.szObstDb1, c.szObstDb2, c.szSerial, c.szSwVersion, c.szHwVersion, c.iPrivacy, c.iFrequency,
           c.bAnswer, c.szRadioId, c.szObstExpiry);
    const FlarmError& e = p.flarmError;
    d.Read(e.iSeverity, e.uiErrorCode, e.szMessage, e.bErrorHandled, p.szPflalText);
    const FlarmProgress& q = p.flarmProgress;
    d.Read(q.szOperation, q.szInfo, q.byProgress);
}

void ReadLx(Digest& d, const ParserNMEA& p) {
    d.Read(p.lxwp0.fAirspeed, p.lxwp0.fAltitude, p.lxwp0.fVario);
    const C302Data& c = p.c302;
    d.Read(c.uiWindDirection, c.fWindSpeed, c.uiWindAge, c.fComponentWind, c.fAltitude, c.uiQnh,
           c.fTrueAirspeed, c.fVario, c.fAverager, c.fRelativeVario, c.fMacCready, c.uiBallast, c.uiBugs);
    d.Read(p.pcaid.bLogged, p.pcaid.fBaroAltitude, p.pcaid.uiPcaidField6, p.pcaid.uiPcaidField7);
    d.Read(p.fPressureAltitude, p.byLxgrbFlags, p.abyLxwpRate);
    d.Read(p.pflx2.fMacCready, p.pflx2.fBugs, p.pflx2.fBallast, p.pflx2.fVolume);
    d.Read(p.rpyl.fRoll, p.rpyl.fPitch);
}

// Only the variant that the command names holds a value.
void ReadLxdt(Digest& d, const LxdtData& lxdt) {
    const LxdtPayload& v = lxdt.payload;
    d.Read(lxdt.byCommand, lxdt.bLxPrefix);
    switch (lxdt.byCommand) {
    case LxdtData::GetTp:
    case LxdtData::GetZone:
    case LxdtData::GetNavigate:
        d.Read(v.getIndex.byIndex);
        break;
    case LxdtData::SetPilot:
        d.Read(v.pilot.szPilot1, v.pilot.szPilot2);
        break;
    case LxdtData::SetGlider:
        d.Read(v.glider.szGlider1, v.glider.szGlider2, v.glider.szGlider3);
        break;
    case LxdtData::SetTskPar:
        d.Read(v.tskPar.bTskParFlag, v.tskPar.uiTskParValue, v.tskPar.iTskParTime);
        break;
    case LxdtData::SetTp:
        d.Read(v.tp.uiTpField4, v.tp.uiTpIndex, v.tp.szTpName, v.tp.fLatitude, v.tp.fLongitude);
        break;
    case LxdtData::SetZone: {
        const LxdtZone& z = v.zone;
        d.Read(z.uiZoneIndex, z.uiZoneField4, z.bZoneFlag5, z.bZoneFlag6, z.fZoneAngle7, z.fZoneAngle8,
               z.fZoneAngle9, z.fZoneValue10, z.fZoneValue11, z.fZoneValue12);
        break;
    }
    case LxdtData::SetNavigate: {
        const LxdtNavigate& n = v.navigate;
        d.Read(n.uiNavIndex, n.szNavName, n.fLatitude, n.fLongitude, n.uiNavField7, n.bNavFlag8, n.fNavValue9,
               n.byNavField10);
        break;
    }
    case LxdtData::SetMcBal: {
        const LxdtMcBal& m = v.mcBal;
        d.Read(m.abyPresent, m.fMacCready, m.uiBallast, m.byMcBal5, m.byMcBal6, m.byMcBal7, m.byMcBal8,
               m.uiMcBal9);
        break;
    }
    case LxdtData::SetScVar:
        d.Read(v.scVar.byScVar);
        break;
    default:
        break;
    }
}

void ReadDevice(Digest& d, const ParserNMEA& p) {
    d.Read(p.request.uiCode, p.request.auiArg);
    const DeviceInfo& i = p.info;
    d.Read(i.szModel, i.szProduced, i.uiSerial, i.byFwMajor, i.byFwMinor, i.byFwBuild, i.fHwVersion,
           i.bValid);
    const DeviceSettings& s = p.settings;
    d.Read(s.iTELevel, s.byServoTrigger, s.byTelemetry, s.iServoChannel, s.uiPairKey, s.fVarioFilter,
           s.bValid);
    const LogbookEntry& l = p.logbook;
    d.Read(l.uiFlightCount, l.uiAux2, l.uiDailyNr, l.uiPackedTime, l.uiAux5, l.uiFlightSize);
}

// Every "*" is followed by the right checksum of the sentence it ends, as the framer would compute it.
void RepairChecksums(uint8_t* pbyData, size_t uiSize) {
    static const char kHexDigits[] = "0123456789ABCDEF";
    bool bInBody = false;
    uint8_t byChecksum = 0;
    for (size_t i = 0; i < uiSize; ++i) {
        const uint8_t by = pbyData[i];
        if (by == '$' || (!bInBody && by == '!')) {
            bInBody = true;
            byChecksum = 0;
        } else if (bInBody && by == '*') {
            bInBody = false;
            if (i + 1 < uiSize)
                pbyData[++i] = static_cast<uint8_t>(kHexDigits[byChecksum >> 4]);
            if (i + 1 < uiSize)
                pbyData[++i] = static_cast<uint8_t>(kHexDigits[byChecksum & 0x0F]);
        } else if (bInBody) {
            byChecksum ^= by;
        }
    }
}

// The port hands over whatever has arrived; read sizes follow from the bytes, so a finding replays.
size_t NextReadSize(uint64_t& uiState) {
    uiState = uiState * 6364136223846793005ull + 1442695040888963407ull;
    return 1 + static_cast<size_t>((uiState >> 33) % 64);
}

uint64_t Feed(const uint8_t* pbyData, size_t uiSize, bool bDebug) {
    CheckedFramer framer;
    framer.parser.bDebug = bDebug;
    Digest digest;
    uint64_t uiReadState = uiSize;
    for (size_t uiPos = 0; uiPos < uiSize;) {
        size_t uiRead = NextReadSize(uiReadState);
        if (uiRead > uiSize - uiPos)
            uiRead = uiSize - uiPos;
        for (size_t i = uiPos; i < uiPos + uiRead; ++i) {
            framer.ProcessByte(pbyData[i]);
            CheckFramerState(framer);
            digest.Read(framer.uiLastCode);
        }
        uiPos += uiRead;
    }
    ReadGnss(digest, framer.parser);
    ReadFlarm(digest, framer.parser);
    ReadLx(digest, framer.parser);
    ReadLxdt(digest, framer.parser.lxdt);
    ReadDevice(digest, framer.parser);
    return digest.Value();
}

} // namespace

void SetFailureStream(FILE* pStream) {
    pFailureStream = pStream;
}

uint64_t RunProtocolInput(const uint8_t* pbyData, size_t uiSize) {
    const uint64_t uiRaw = Feed(pbyData, uiSize, false);
    // An exact-size copy keeps the address sanitizer watching both ends of the input.
    uint8_t* pbyRepaired = new uint8_t[uiSize == 0 ? 1 : uiSize];
    if (uiSize != 0)
        memcpy(pbyRepaired, pbyData, uiSize);
    RepairChecksums(pbyRepaired, uiSize);
    // Odd-sized inputs also run the parser's debug trace.
    const uint64_t uiRepaired = Feed(pbyRepaired, uiSize, uiSize % 2 == 1);
    delete[] pbyRepaired;
    return uiRaw ^ (uiRepaired << 1);
}

} // namespace fuzz
