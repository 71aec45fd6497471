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
    template <typename T> void Num(T value) { Mix(static_cast<uint64_t>(value)); }

    void Float(float fValue) {
        uint32_t uiBits;
        memcpy(&uiBits, &fValue, sizeof uiBits);
        Mix(uiBits);
    }

    // Every fixed text keeps its terminator inside its member.
    template <size_t N> void Text(const char (&szText)[N], const char* pszName) {
        const size_t uiLength = strnlen(szText, N);
        if (uiLength == N)
            Fail("text %s has no terminator", pszName);
        for (size_t i = 0; i < uiLength; ++i)
            Mix(static_cast<uint8_t>(szText[i]));
    }

    uint64_t Value() const { return uiValue; }

private:
    void Mix(uint64_t uiPart) { uiValue = (uiValue ^ uiPart) * 0x100000001B3ull; }

    uint64_t uiValue = 0xCBF29CE484222325ull;
};

void ReadFix(Digest& d, const common::FixData& fix) {
    d.Float(fix.fTime);
    d.Float(fix.fLatitude);
    d.Float(fix.fLongitude);
    d.Num(fix.uiQuality);
    d.Num(fix.uiSatellites);
    d.Float(fix.fHdop);
    d.Float(fix.fAltitude);
    d.Float(fix.fGeoidSeparation);
    d.Float(fix.fDgpsAge);
    d.Num(fix.uiDgpsStation);
}

void ReadSatellites(Digest& d, const common::SatelliteTable& table) {
    d.Num(table.uiInView);
    if (table.iFill < 0)
        Fail("satellite fill index %d", table.iFill);
    d.Num(table.iFill);
    for (const common::SatelliteInView& sat : table.aSat) {
        d.Num(sat.uiPrn);
        d.Num(sat.uiElevation);
        d.Num(sat.uiAzimuth);
        d.Num(sat.uiSnr);
    }
}

void ReadGnss(Digest& d, const common::ParserNMEA& p) {
    d.Float(p.rmc.fTime);
    d.Num(p.rmc.bValid);
    d.Float(p.rmc.fLatitude);
    d.Float(p.rmc.fLongitude);
    d.Float(p.rmc.fSpeed);
    d.Float(p.rmc.fCourse);
    d.Num(p.rmc.dtDate.Year());
    d.Num(p.rmc.dtDate.Month());
    d.Num(p.rmc.dtDate.Day());
    ReadFix(d, p.gga);
    ReadFix(d, p.gns);
    d.Num(p.gsa.uiMode);
    d.Num(p.gsa.uiFixType);
    for (uint8_t bySatellite : p.gsa.abySatellite)
        d.Num(bySatellite);
    d.Float(p.gsa.fPdop);
    d.Float(p.gsa.fHdop);
    d.Float(p.gsa.fVdop);
    ReadSatellites(d, p.gsvGps);
    ReadSatellites(d, p.gsvGalileo);
    ReadSatellites(d, p.gsvGlonass);
}

void ReadFlarm(Digest& d, const common::ParserNMEA& p) {
    const common::FlarmStatus& s = p.flarmStatus;
    d.Num(s.byRx);
    d.Num(s.byTx);
    d.Num(s.byGps);
    d.Num(s.byPower);
    d.Num(s.byAlarmLevel);
    d.Num(s.byAlarmType);
    d.Num(s.iRelativeBearing);
    d.Num(s.iRelativeVertical);
    d.Num(s.uiRelativeDistance);
    d.Num(s.uiId);
    const common::FlarmTarget& t = p.flarmTarget;
    d.Num(t.byAlarmLevel);
    d.Num(t.byIdType);
    d.Num(t.byAircraftType);
    d.Num(t.iRelativeNorth);
    d.Num(t.iRelativeEast);
    d.Num(t.iRelativeVertical);
    d.Num(t.uiTrack);
    d.Num(t.uiId);
    d.Float(t.fTurnRate);
    d.Float(t.fGroundSpeed);
    d.Float(t.fClimbRate);
    const common::FlarmConfig& c = p.flarmConfig;
    d.Text(c.szObstDb1, "szObstDb1");
    d.Text(c.szObstDb2, "szObstDb2");
    d.Text(c.szSerial, "szSerial");
    d.Text(c.szSwVersion, "szSwVersion");
    d.Text(c.szHwVersion, "szHwVersion");
    d.Num(c.iPrivacy);
    d.Num(c.iFrequency);
    d.Num(c.bAnswer);
    d.Text(c.szRadioId, "szRadioId");
    d.Text(c.szObstExpiry, "szObstExpiry");
    d.Num(p.flarmError.iSeverity);
    d.Num(p.flarmError.uiErrorCode);
    d.Text(p.flarmError.szMessage, "szMessage");
    d.Num(p.flarmError.bErrorHandled);
    d.Text(p.szPflalText, "szPflalText");
    d.Text(p.flarmProgress.szOperation, "szOperation");
    d.Text(p.flarmProgress.szInfo, "szInfo");
    d.Num(p.flarmProgress.byProgress);
}

void ReadLx(Digest& d, const common::ParserNMEA& p) {
    d.Float(p.lxwp0.fAirspeed);
    d.Float(p.lxwp0.fAltitude);
    d.Float(p.lxwp0.fVario);
    const common::C302Data& c = p.c302;
    d.Num(c.uiWindDirection);
    d.Float(c.fWindSpeed);
    d.Num(c.uiWindAge);
    d.Float(c.fComponentWind);
    d.Float(c.fAltitude);
    d.Num(c.uiQnh);
    d.Float(c.fTrueAirspeed);
    d.Float(c.fVario);
    d.Float(c.fAverager);
    d.Float(c.fRelativeVario);
    d.Float(c.fMacCready);
    d.Num(c.uiBallast);
    d.Num(c.uiBugs);
    d.Num(p.pcaid.bLogged);
    d.Float(p.pcaid.fBaroAltitude);
    d.Num(p.pcaid.uiPcaidField6);
    d.Num(p.pcaid.uiPcaidField7);
    d.Float(p.fPressureAltitude);
    d.Num(p.byLxgrbFlags);
    for (uint8_t byRate : p.abyLxwpRate)
        d.Num(byRate);
    d.Float(p.pflx2.fMacCready);
    d.Float(p.pflx2.fBugs);
    d.Float(p.pflx2.fBallast);
    d.Float(p.pflx2.fVolume);
    d.Float(p.rpyl.fRoll);
    d.Float(p.rpyl.fPitch);
}

// Only the variant that the command names holds a value.
void ReadLxdt(Digest& d, const common::LxdtData& lxdt) {
    using common::LxdtData;
    const common::LxdtPayload& v = lxdt.payload;
    d.Num(lxdt.byCommand);
    d.Num(lxdt.bLxPrefix);
    switch (lxdt.byCommand) {
    case LxdtData::GetTp:
    case LxdtData::GetZone:
    case LxdtData::GetNavigate:
        d.Num(v.getIndex.byIndex);
        break;
    case LxdtData::SetPilot:
        d.Text(v.pilot.szPilot1, "szPilot1");
        d.Text(v.pilot.szPilot2, "szPilot2");
        break;
    case LxdtData::SetGlider:
        d.Text(v.glider.szGlider1, "szGlider1");
        d.Text(v.glider.szGlider2, "szGlider2");
        d.Text(v.glider.szGlider3, "szGlider3");
        break;
    case LxdtData::SetTskPar:
        d.Num(v.tskPar.bTskParFlag);
        d.Num(v.tskPar.uiTskParValue);
        d.Num(v.tskPar.iTskParTime);
        break;
    case LxdtData::SetTp:
        d.Num(v.tp.uiTpField4);
        d.Num(v.tp.uiTpIndex);
        d.Text(v.tp.szTpName, "szTpName");
        d.Float(v.tp.fLatitude);
        d.Float(v.tp.fLongitude);
        break;
    case LxdtData::SetZone:
        d.Num(v.zone.uiZoneIndex);
        d.Num(v.zone.uiZoneField4);
        d.Num(v.zone.bZoneFlag5);
        d.Num(v.zone.bZoneFlag6);
        d.Float(v.zone.fZoneAngle7);
        d.Float(v.zone.fZoneAngle8);
        d.Float(v.zone.fZoneAngle9);
        d.Float(v.zone.fZoneValue10);
        d.Float(v.zone.fZoneValue11);
        d.Float(v.zone.fZoneValue12);
        break;
    case LxdtData::SetNavigate:
        d.Num(v.navigate.uiNavIndex);
        d.Text(v.navigate.szNavName, "szNavName");
        d.Float(v.navigate.fLatitude);
        d.Float(v.navigate.fLongitude);
        d.Num(v.navigate.uiNavField7);
        d.Num(v.navigate.bNavFlag8);
        d.Float(v.navigate.fNavValue9);
        d.Num(v.navigate.byNavField10);
        break;
    case LxdtData::SetMcBal:
        for (uint8_t byPresent : v.mcBal.abyPresent)
            d.Num(byPresent);
        d.Float(v.mcBal.fMacCready);
        d.Num(v.mcBal.uiBallast);
        d.Num(v.mcBal.byMcBal5);
        d.Num(v.mcBal.byMcBal6);
        d.Num(v.mcBal.byMcBal7);
        d.Num(v.mcBal.byMcBal8);
        d.Num(v.mcBal.uiMcBal9);
        break;
    case LxdtData::SetScVar:
        d.Num(v.scVar.byScVar);
        break;
    default:
        break;
    }
}

void ReadDevice(Digest& d, const common::ParserNMEA& p) {
    d.Num(p.request.uiCode);
    for (uint16_t uiArg : p.request.auiArg)
        d.Num(uiArg);
    d.Text(p.info.szModel, "szModel");
    d.Text(p.info.szProduced, "szProduced");
    d.Num(p.info.uiSerial);
    d.Num(p.info.byFwMajor);
    d.Num(p.info.byFwMinor);
    d.Num(p.info.byFwBuild);
    d.Float(p.info.fHwVersion);
    d.Num(p.info.bValid);
    d.Num(p.settings.iTELevel);
    d.Num(p.settings.byServoTrigger);
    d.Num(p.settings.byTelemetry);
    d.Num(p.settings.iServoChannel);
    d.Num(p.settings.uiPairKey);
    d.Float(p.settings.fVarioFilter);
    d.Num(p.settings.bValid);
    d.Num(p.logbook.uiFlightCount);
    d.Num(p.logbook.uiAux2);
    d.Num(p.logbook.uiDailyNr);
    d.Num(p.logbook.uiPackedTime);
    d.Num(p.logbook.uiAux5);
    d.Num(p.logbook.uiFlightSize);
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
            digest.Num(framer.uiLastCode);
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
