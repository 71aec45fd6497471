#include "testsupport/ProtocolFacts.h"

#include <QByteArrayList>

#include <type_traits>

namespace facts {

using namespace common;

// Without a name, a refused field count brings no message. GNGSV reaches the GSV handler too, which never
// takes it: a mixed constellation has no table.
// clang-format off
const DispatchFact kaDispatch[] = {
    {"GPRMC", CodeRmc, nullptr, 12, 13}, {"GNRMC", CodeRmc, nullptr, 12, 13},
    {"GPGGA", CodeGga, "GGA", 15, 16},   {"GNGGA", CodeGga, "GGA", 15, 16},
    {"GPGSA", CodeGsa, "GSA", 18, 18},   {"GNGSA", CodeGsa, "GSA", 18, 18},
    {"GPGSV", CodeGsv, "GSV", 4, 24, 4, true}, {"GLGSV", CodeGsv, "GSV", 4, 24, 4, true},
    {"GAGSV", CodeGsv, "GSV", 4, 24, 4, true},
    {"GNGNS", CodeGns, "GNS", 13, 13},   {"GPGNS", CodeGns, "GNS", 13, 13},
    {"GLGNS", CodeGns, "GNS", 13, 13},   {"GBGNS", CodeGns, "GNS", 13, 13},
    {"PFLAU", CodePflau}, {"PFLAA", CodePflaa, "PFLAA", 12, 12}, {"PFLAC", CodePflac},
    {"PFLAE", CodePflae}, {"PFLAL", CodePflal}, {"PFLAQ", CodePflaq},
    {"LXWP0", CodeLxwp0}, {"LXGRB", CodeLxgrb}, {"w", CodeC302, "!W - C302", 13},
    {"PCAID", CodePcaid, "PCAID", 4}, {"PGRMZ", CodePgrmz, "PGRMZ", 4}, {"PNRMZ", CodePgrmz, "PGRMZ", 4},
    {"PFLX0", CodePflx0}, {"PFLX2", CodePflx2}, {"RPYL", CodeRpyl},
    {"VNDT", CodeLxdt}, {"LXDT", CodeLxdt}, {"VNREQ", CodeRequest},
    {"VNINFO2", CodeInfo}, {"VNSET2", CodeSettings}, {"VNLOGBOOK", CodeLogbook},
};
// clang-format on
const int kDispatchCount = sizeof kaDispatch / sizeof kaDispatch[0];

const DispatchFact* DispatchFactOf(const char* pszId) {
    for (const DispatchFact& fact : kaDispatch)
        if (StartsWith(pszId, fact.pszId))
            return &fact;
    return nullptr;
}

namespace {

// One value as a record text shows it: numbers as printf's "%g" and "%d" show them, fixed texts quoted,
// other texts as they are.
template <typename T> QByteArray Shown(const T& value) {
    if constexpr (std::is_floating_point_v<T>)
        return QString::asprintf("%g", double(value)).toLatin1();
    else if constexpr (std::is_same_v<T, QByteArray>)
        return value;
    else
        return QByteArray::number(value);
}

// As its reader sees it, or the mark of a missing terminator or padding.
template <size_t N> QByteArray Shown(const char (&szMember)[N]) {
    const QByteArray baAll(szMember, N);
    const int iLength = baAll.indexOf('\0');
    if (baAll.count('\0') != int(N) - iLength) // no terminator, or something after it
        return "*unpadded*";
    return "'" + baAll.left(iLength) + "'";
}

template <typename T, size_t N> QByteArray Shown(const T (&aValues)[N]) {
    QByteArrayList aTexts;
    for (const T& value : aValues)
        aTexts << Shown(value);
    return aTexts.join(' ');
}

template <typename... T> QByteArray Values(const T&... values) {
    return QByteArrayList{Shown(values)...}.join(' ');
}

double Deg(float fRadians) {
    return double(fRadians) / double(kfDegToRad);
}

QByteArray FixText(const FixData& f) {
    return Values(f.fTime, Deg(f.fLatitude), Deg(f.fLongitude), f.uiQuality, f.uiSatellites, f.fHdop,
                  f.fAltitude, f.fGeoidSeparation, f.fDgpsAge, f.uiDgpsStation);
}

// GPS | GLONASS | Galileo, each as "in view fill:" and its slots as number/elevation/azimuth/SNR, the
// empty slots at its end left out.
QByteArray SatellitesText(const ParserNMEA& p) {
    QByteArrayList aTables;
    for (const SatelliteTable* pTable : {&p.gsvGps, &p.gsvGlonass, &p.gsvGalileo}) {
        QByteArrayList aTexts{Values(pTable->uiInView, pTable->iFill) + ":"};
        for (const SatelliteInView& s : pTable->aSat)
            aTexts << Values(s.uiPrn, s.uiElevation, s.uiAzimuth, s.uiSnr).replace(' ', '/');
        while (aTexts.last() == "0/0/0/0")
            aTexts.removeLast();
        aTables << aTexts.join(' ');
    }
    return aTables.join(" | ");
}

// The command, the prefix flag and the one variant that the command names.
QByteArray LxdtText(const LxdtData& lxdt) {
    const LxdtPayload& v = lxdt.payload;
    const QByteArray baHead = Values(lxdt.byCommand, lxdt.bLxPrefix, QByteArray("|"));
    switch (lxdt.byCommand) {
    case LxdtData::GetTp:
    case LxdtData::GetZone:
    case LxdtData::GetNavigate:
        return Values(baHead, v.getIndex.byIndex);
    case LxdtData::SetPilot:
        return Values(baHead, v.pilot.szPilot1, v.pilot.szPilot2);
    case LxdtData::SetGlider:
        return Values(baHead, v.glider.szGlider1, v.glider.szGlider2, v.glider.szGlider3);
    case LxdtData::SetTskPar:
        return Values(baHead, v.tskPar.bTskParFlag, v.tskPar.uiTskParValue, v.tskPar.iTskParTime);
    case LxdtData::SetTp:
        return Values(baHead, v.tp.uiTpField4, v.tp.uiTpIndex, v.tp.szTpName, v.tp.fLatitude,
                      v.tp.fLongitude);
    case LxdtData::SetZone:
        return Values(baHead, v.zone.uiZoneIndex, v.zone.uiZoneField4, v.zone.bZoneFlag5, v.zone.bZoneFlag6,
                      v.zone.fZoneAngle7, v.zone.fZoneAngle8, v.zone.fZoneAngle9, v.zone.fZoneValue10,
                      v.zone.fZoneValue11, v.zone.fZoneValue12);
    case LxdtData::SetNavigate:
        return Values(baHead, v.navigate.uiNavIndex, v.navigate.szNavName, v.navigate.fLatitude,
                      v.navigate.fLongitude, v.navigate.uiNavField7, v.navigate.bNavFlag8,
                      v.navigate.fNavValue9, v.navigate.byNavField10);
    case LxdtData::SetMcBal:
        return Values(baHead, v.mcBal.abyPresent, v.mcBal.fMacCready, v.mcBal.uiBallast, v.mcBal.byMcBal5,
                      v.mcBal.byMcBal6, v.mcBal.byMcBal7, v.mcBal.byMcBal8, v.mcBal.uiMcBal9);
    case LxdtData::SetScVar:
        return Values(baHead, v.scVar.byScVar);
    default:
        return baHead;
    }
}

} // namespace

QByteArray RecordText(const ParserNMEA& p, SentenceCode uiCode) {
    switch (uiCode) {
    case CodeRmc:
        return Values(p.rmc.fTime, p.rmc.bValid, Deg(p.rmc.fLatitude), Deg(p.rmc.fLongitude), p.rmc.fSpeed,
                      Deg(p.rmc.fCourse), p.rmc.dtDate.uiDayNumber);
    case CodeGga:
    case CodeGns:
        return FixText(uiCode == CodeGga ? p.gga : p.gns);
    case CodeGsa:
        return Values(QByteArray(1, char(p.gsa.uiMode)), p.gsa.uiFixType, QByteArray("|"), p.gsa.abySatellite,
                      QByteArray("|"), p.gsa.fPdop, p.gsa.fHdop, p.gsa.fVdop);
    case CodeGsv:
        return SatellitesText(p);
    case CodePflau: {
        const FlarmStatus& s = p.flarmStatus;
        return Values(s.byRx, s.byTx, s.byGps, s.byPower, s.byAlarmLevel, s.byAlarmType, s.iRelativeBearing,
                      s.iRelativeVertical, s.uiRelativeDistance, QByteArray::number(s.uiId, 16).toUpper());
    }
    case CodePflaa: {
        const FlarmTarget& t = p.flarmTarget;
        return Values(t.byAlarmLevel, t.byIdType, t.byAircraftType, t.iRelativeNorth, t.iRelativeEast,
                      t.iRelativeVertical, t.uiTrack, QByteArray::number(t.uiId, 16).toUpper(), t.fTurnRate,
                      t.fGroundSpeed, t.fClimbRate);
    }
    case CodePflac: {
        const FlarmConfig& c = p.flarmConfig;
        return Values(c.szObstDb1, c.szObstDb2, c.szSerial, c.szSwVersion, c.szHwVersion, c.iPrivacy,
                      c.iFrequency, c.bAnswer, c.szRadioId, c.szObstExpiry);
    }
    case CodePflae:
        return Values(p.flarmError.iSeverity, p.flarmError.uiErrorCode, p.flarmError.szMessage,
                      p.flarmError.bErrorHandled);
    case CodePflal:
        return Values(p.szPflalText);
    case CodePflaq:
        return Values(p.flarmProgress.szOperation, p.flarmProgress.szInfo, p.flarmProgress.byProgress);
    case CodeLxwp0:
        return Values(p.lxwp0.fAirspeed, p.lxwp0.fAltitude, p.lxwp0.fVario);
    case CodeC302:
        return Values(p.c302.uiWindDirection, p.c302.fWindSpeed, p.c302.uiWindAge, p.c302.fComponentWind,
                      p.c302.fAltitude, p.c302.uiQnh, p.c302.fTrueAirspeed, p.c302.fVario, p.c302.fAverager,
                      p.c302.fRelativeVario, p.c302.fMacCready, p.c302.uiBallast, p.c302.uiBugs);
    case CodePcaid:
        return Values(p.pcaid.bLogged, p.pcaid.fBaroAltitude, p.pcaid.uiPcaidField6, p.pcaid.uiPcaidField7);
    case CodePgrmz:
        return Values(p.fPressureAltitude);
    case CodeLxgrb:
        return Values(p.byLxgrbFlags);
    case CodePflx0:
        return Values(p.abyLxwpRate);
    case CodePflx2:
        return Values(p.pflx2.fMacCready, p.pflx2.fBugs, p.pflx2.fBallast, p.pflx2.fVolume);
    case CodeRpyl:
        return Values(p.rpyl.fRoll, p.rpyl.fPitch);
    case CodeLxdt:
        return LxdtText(p.lxdt);
    case CodeRequest:
        return Values(p.request.uiCode, QByteArray("|"), p.request.auiArg);
    case CodeInfo:
        return Values(p.info.szModel, p.info.szProduced, p.info.uiSerial, p.info.byFwMajor, p.info.byFwMinor,
                      p.info.byFwBuild, p.info.fHwVersion, p.info.bValid);
    case CodeSettings:
        return Values(p.settings.iTELevel, p.settings.fVarioFilter, p.settings.byServoTrigger,
                      p.settings.iServoChannel, p.settings.uiPairKey, p.settings.byTelemetry,
                      p.settings.bValid);
    case CodeLogbook:
        return Values(p.logbook.uiFlightCount, p.logbook.uiAux2, p.logbook.uiDailyNr, p.logbook.uiPackedTime,
                      p.logbook.uiAux5, p.logbook.uiFlightSize);
    default:
        return QByteArray();
    }
}

} // namespace facts
