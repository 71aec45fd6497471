#include "testsupport/ProtocolFacts.h"

#include <QByteArrayList>

#include <cstdarg>
#include <cstdio>

namespace facts {

using namespace common;

// clang-format off
const DispatchFact kaDispatch[] = {
    {"GPRMC", 12, 13, 1, CodeRmc, nullptr, false},  {"GNRMC", 12, 13, 1, CodeRmc, nullptr, false},
    {"GPGGA", 15, 16, 1, CodeGga, "GGA", false},    {"GNGGA", 15, 16, 1, CodeGga, "GGA", false},
    {"GPGSA", 18, 18, 1, CodeGsa, "GSA", false},    {"GNGSA", 18, 18, 1, CodeGsa, "GSA", false},
    // GNGSV reaches the GSV handler too, which never takes it: a mixed constellation has no table.
    {"GPGSV", 4, 24, 4, CodeGsv, "GSV", true},      {"GLGSV", 4, 24, 4, CodeGsv, "GSV", true},
    {"GAGSV", 4, 24, 4, CodeGsv, "GSV", true},
    {"GNGNS", 13, 13, 1, CodeGns, "GNS", false},    {"GPGNS", 13, 13, 1, CodeGns, "GNS", false},
    {"GLGNS", 13, 13, 1, CodeGns, "GNS", false},    {"GBGNS", 13, 13, 1, CodeGns, "GNS", false},
    {"PFLAU", 1, 24, 1, CodePflau, nullptr, false}, {"PFLAA", 12, 12, 1, CodePflaa, "PFLAA", false},
    {"PFLAC", 1, 24, 1, CodePflac, nullptr, false}, {"PFLAE", 1, 24, 1, CodePflae, nullptr, false},
    {"PFLAL", 1, 24, 1, CodePflal, nullptr, false}, {"PFLAQ", 1, 24, 1, CodePflaq, nullptr, false},
    {"LXWP0", 1, 24, 1, CodeLxwp0, nullptr, false}, {"LXGRB", 1, 24, 1, CodeLxgrb, nullptr, false},
    {"w", 13, 24, 1, CodeC302, "!W - C302", false}, {"PCAID", 4, 24, 1, CodePcaid, "PCAID", false},
    {"PGRMZ", 4, 24, 1, CodePgrmz, "PGRMZ", false}, {"PNRMZ", 4, 24, 1, CodePgrmz, "PGRMZ", false},
    {"PFLX0", 1, 24, 1, CodePflx0, nullptr, false}, {"PFLX2", 1, 24, 1, CodePflx2, nullptr, false},
    {"RPYL", 1, 24, 1, CodeRpyl, nullptr, false},   {"VNDT", 1, 24, 1, CodeLxdt, nullptr, false},
    {"LXDT", 1, 24, 1, CodeLxdt, nullptr, false},   {"VNREQ", 1, 24, 1, CodeRequest, nullptr, false},
    {"VNINFO2", 1, 24, 1, CodeInfo, nullptr, false}, {"VNSET2", 1, 24, 1, CodeSettings, nullptr, false},
    {"VNLOGBOOK", 1, 24, 1, CodeLogbook, nullptr, false},
};
// clang-format on
const int kDispatchCount = sizeof kaDispatch / sizeof kaDispatch[0];

const DispatchFact* DispatchFactOf(const char* pszId) {
    for (const DispatchFact& fact : kaDispatch)
        if (StartsWith(pszId, fact.pszId))
            return &fact;
    return nullptr;
}

uint32_t MsBetween(uint32_t uiFromMs, uint32_t uiToMs) {
    constexpr uint32_t kMsPerDay = 86400000;
    return (uiToMs + kMsPerDay - uiFromMs % kMsPerDay) % kMsPerDay;
}

namespace {

QByteArray Printed(const char* pszFormat, ...) {
    char acText[512];
    va_list args;
    va_start(args, pszFormat);
    const int iLength = vsnprintf(acText, sizeof acText, pszFormat, args);
    va_end(args);
    return QByteArray(acText, qMin(iLength, int(sizeof acText) - 1));
}

// A fixed text member in quotes as its reader sees it, or the mark of a missing terminator or padding.
template <size_t N> QByteArray Quoted(const char (&szMember)[N]) {
    const QByteArray baAll(szMember, N);
    const int iLength = baAll.indexOf('\0');
    if (iLength < 0)
        return "*unterminated*";
    if (baAll.count('\0') != int(N) - iLength)
        return "*unpadded*";
    return "'" + baAll.left(iLength) + "'";
}

double Deg(float fRadians) {
    return double(fRadians) / double(kfDegToRad);
}

QByteArray FixText(const FixData& f) {
    return Printed("%g %g %g %u %u %g %g %g %g %u", f.fTime, Deg(f.fLatitude), Deg(f.fLongitude), f.uiQuality,
                   f.uiSatellites, f.fHdop, f.fAltitude, f.fGeoidSeparation, f.fDgpsAge, f.uiDgpsStation);
}

// GPS | GLONASS | Galileo, each as "in view fill:" and its slots as number/elevation/azimuth/SNR, the
// empty slots at its end left out.
QByteArray SatellitesText(const ParserNMEA& p) {
    QByteArrayList aTables;
    for (const SatelliteTable* pTable : {&p.gsvGps, &p.gsvGlonass, &p.gsvGalileo}) {
        QByteArrayList aSlots;
        for (const SatelliteInView& s : pTable->aSat)
            aSlots << Printed("%u/%u/%u/%u", s.uiPrn, s.uiElevation, s.uiAzimuth, s.uiSnr);
        while (!aSlots.isEmpty() && aSlots.last() == "0/0/0/0")
            aSlots.removeLast();
        aTables << Printed("%u %d:", pTable->uiInView, pTable->iFill) + (aSlots.isEmpty() ? "" : " ") +
                       aSlots.join(' ');
    }
    return aTables.join(" | ");
}

// The command, the prefix flag and the one variant that the command names.
QByteArray LxdtText(const LxdtData& lxdt) {
    const LxdtPayload& v = lxdt.payload;
    const QByteArray baHead = Printed("%u %d |", lxdt.byCommand, lxdt.bLxPrefix);
    switch (lxdt.byCommand) {
    case LxdtData::GetTp:
    case LxdtData::GetZone:
    case LxdtData::GetNavigate:
        return baHead + Printed(" %u", v.getIndex.byIndex);
    case LxdtData::SetPilot:
        return baHead + " " + Quoted(v.pilot.szPilot1) + " " + Quoted(v.pilot.szPilot2);
    case LxdtData::SetGlider:
        return baHead + " " + Quoted(v.glider.szGlider1) + " " + Quoted(v.glider.szGlider2) + " " +
               Quoted(v.glider.szGlider3);
    case LxdtData::SetTskPar:
        return baHead +
               Printed(" %d %u %d", v.tskPar.bTskParFlag, v.tskPar.uiTskParValue, v.tskPar.iTskParTime);
    case LxdtData::SetTp:
        return baHead + Printed(" %u %u ", v.tp.uiTpField4, v.tp.uiTpIndex) + Quoted(v.tp.szTpName) +
               Printed(" %g %g", v.tp.fLatitude, v.tp.fLongitude);
    case LxdtData::SetZone: {
        const LxdtZone& z = v.zone;
        return baHead + Printed(" %u %u %d %d %g %g %g %g %g %g", z.uiZoneIndex, z.uiZoneField4, z.bZoneFlag5,
                                z.bZoneFlag6, z.fZoneAngle7, z.fZoneAngle8, z.fZoneAngle9, z.fZoneValue10,
                                z.fZoneValue11, z.fZoneValue12);
    }
    case LxdtData::SetNavigate: {
        const LxdtNavigate& n = v.navigate;
        return baHead + Printed(" %u ", n.uiNavIndex) + Quoted(n.szNavName) +
               Printed(" %g %g %u %d %g %u", n.fLatitude, n.fLongitude, n.uiNavField7, n.bNavFlag8,
                       n.fNavValue9, n.byNavField10);
    }
    case LxdtData::SetMcBal: {
        const LxdtMcBal& m = v.mcBal;
        return baHead + Printed(" %u%u%u%u%u%u%u %g %u %u %u %u %u %u", m.abyPresent[0], m.abyPresent[1],
                                m.abyPresent[2], m.abyPresent[3], m.abyPresent[4], m.abyPresent[5],
                                m.abyPresent[6], m.fMacCready, m.uiBallast, m.byMcBal5, m.byMcBal6,
                                m.byMcBal7, m.byMcBal8, m.uiMcBal9);
    }
    case LxdtData::SetScVar:
        return baHead + Printed(" %u", v.scVar.byScVar);
    default:
        return baHead;
    }
}

} // namespace

QByteArray RecordText(const ParserNMEA& p, SentenceCode uiCode) {
    switch (uiCode) {
    case CodeRmc:
        return Printed("%g %u %g %g %g %g %u", p.rmc.fTime, p.rmc.bValid, Deg(p.rmc.fLatitude),
                       Deg(p.rmc.fLongitude), p.rmc.fSpeed, Deg(p.rmc.fCourse), p.rmc.dtDate.uiDayNumber);
    case CodeGga:
        return FixText(p.gga);
    case CodeGns:
        return FixText(p.gns);
    case CodeGsa: {
        const GsaData& g = p.gsa;
        QByteArray baText = Printed("%c %u |", g.uiMode, g.uiFixType);
        for (uint8_t bySatellite : g.abySatellite)
            baText += " " + QByteArray::number(bySatellite);
        return baText + Printed(" | %g %g %g", g.fPdop, g.fHdop, g.fVdop);
    }
    case CodeGsv:
        return SatellitesText(p);
    case CodePflau: {
        const FlarmStatus& s = p.flarmStatus;
        return Printed("%u %u %u %u %u %u %d %d %u %X", s.byRx, s.byTx, s.byGps, s.byPower, s.byAlarmLevel,
                       s.byAlarmType, s.iRelativeBearing, s.iRelativeVertical, s.uiRelativeDistance, s.uiId);
    }
    case CodePflaa: {
        const FlarmTarget& t = p.flarmTarget;
        return Printed("%u %u %u %d %d %d %u %X %g %g %g", t.byAlarmLevel, t.byIdType, t.byAircraftType,
                       t.iRelativeNorth, t.iRelativeEast, t.iRelativeVertical, t.uiTrack, t.uiId, t.fTurnRate,
                       t.fGroundSpeed, t.fClimbRate);
    }
    case CodePflac: {
        const FlarmConfig& c = p.flarmConfig;
        return Quoted(c.szObstDb1) + " " + Quoted(c.szObstDb2) + " " + Quoted(c.szSerial) + " " +
               Quoted(c.szSwVersion) + " " + Quoted(c.szHwVersion) +
               Printed(" %d %d %u ", c.iPrivacy, c.iFrequency, c.bAnswer) + Quoted(c.szRadioId) + " " +
               Quoted(c.szObstExpiry);
    }
    case CodePflae: {
        const FlarmError& e = p.flarmError;
        return Printed("%d %u ", e.iSeverity, e.uiErrorCode) + Quoted(e.szMessage) +
               Printed(" %u", e.bErrorHandled);
    }
    case CodePflal:
        return Quoted(p.szPflalText);
    case CodePflaq:
        return Quoted(p.flarmProgress.szOperation) + " " + Quoted(p.flarmProgress.szInfo) +
               Printed(" %u", p.flarmProgress.byProgress);
    case CodeLxwp0:
        return Printed("%g %g %g", p.lxwp0.fAirspeed, p.lxwp0.fAltitude, p.lxwp0.fVario);
    case CodeC302: {
        const C302Data& c = p.c302;
        return Printed("%u %g %u %g %g %u %g %g %g %g %g %u %u", c.uiWindDirection, c.fWindSpeed, c.uiWindAge,
                       c.fComponentWind, c.fAltitude, c.uiQnh, c.fTrueAirspeed, c.fVario, c.fAverager,
                       c.fRelativeVario, c.fMacCready, c.uiBallast, c.uiBugs);
    }
    case CodePcaid:
        return Printed("%d %g %u %u", p.pcaid.bLogged, p.pcaid.fBaroAltitude, p.pcaid.uiPcaidField6,
                       p.pcaid.uiPcaidField7);
    case CodePgrmz:
        return Printed("%g", p.fPressureAltitude);
    case CodeLxgrb:
        return Printed("%u", p.byLxgrbFlags);
    case CodePflx0:
        return Printed("%u %u %u %u", p.abyLxwpRate[0], p.abyLxwpRate[1], p.abyLxwpRate[2], p.abyLxwpRate[3]);
    case CodePflx2:
        return Printed("%g %g %g %g", p.pflx2.fMacCready, p.pflx2.fBugs, p.pflx2.fBallast, p.pflx2.fVolume);
    case CodeRpyl:
        return Printed("%g %g", p.rpyl.fRoll, p.rpyl.fPitch);
    case CodeLxdt:
        return LxdtText(p.lxdt);
    case CodeRequest: {
        QByteArray baText = QByteArray::number(p.request.uiCode) + " |";
        for (uint16_t uiArg : p.request.auiArg)
            baText += " " + QByteArray::number(uiArg);
        return baText;
    }
    case CodeInfo: {
        const DeviceInfo& i = p.info;
        return Quoted(i.szModel) + " " + Quoted(i.szProduced) +
               Printed(" %u %u %u %u %g %d", i.uiSerial, i.byFwMajor, i.byFwMinor, i.byFwBuild, i.fHwVersion,
                       i.bValid);
    }
    case CodeSettings: {
        const DeviceSettings& s = p.settings;
        return Printed("%d %g %u %d %u %u %d", s.iTELevel, s.fVarioFilter, s.byServoTrigger, s.iServoChannel,
                       s.uiPairKey, s.byTelemetry, s.bValid);
    }
    case CodeLogbook: {
        const LogbookEntry& l = p.logbook;
        return Printed("%u %u %u %u %u %u", l.uiFlightCount, l.uiAux2, l.uiDailyNr, l.uiPackedTime, l.uiAux5,
                       l.uiFlightSize);
    }
    default:
        return QByteArray();
    }
}

} // namespace facts
