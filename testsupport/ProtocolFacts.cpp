#include "testsupport/ProtocolFacts.h"

#include <QByteArrayList>

#include <type_traits>

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

// One value as a record text shows it: numbers as printf's "%g" and "%d" show them, fixed texts quoted.
template <typename T> QByteArray Shown(const T& value) {
    if constexpr (std::is_floating_point_v<T>)
        return QString::asprintf("%g", double(value)).toLatin1();
    else
        return QByteArray::number(value);
}

QByteArray Shown(const QByteArray& baText) {
    return baText;
}

// As its reader sees it, or the mark of a missing terminator or padding.
template <size_t N> QByteArray Shown(const char (&szMember)[N]) {
    const QByteArray baAll(szMember, N);
    const int iLength = baAll.indexOf('\0');
    if (iLength < 0)
        return "*unterminated*";
    if (baAll.count('\0') != int(N) - iLength)
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

QByteArray Hex(uint32_t uiValue) {
    return QByteArray::number(uiValue, 16).toUpper();
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
        QByteArrayList aSlots;
        for (const SatelliteInView& s : pTable->aSat)
            aSlots << Values(s.uiPrn, s.uiElevation, s.uiAzimuth, s.uiSnr).replace(' ', '/');
        while (!aSlots.isEmpty() && aSlots.last() == "0/0/0/0")
            aSlots.removeLast();
        aTables << Values(pTable->uiInView, pTable->iFill) + ":" + (aSlots.isEmpty() ? "" : " ") +
                       aSlots.join(' ');
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
    case LxdtData::SetZone: {
        const LxdtZone& z = v.zone;
        return Values(baHead, z.uiZoneIndex, z.uiZoneField4, z.bZoneFlag5, z.bZoneFlag6, z.fZoneAngle7,
                      z.fZoneAngle8, z.fZoneAngle9, z.fZoneValue10, z.fZoneValue11, z.fZoneValue12);
    }
    case LxdtData::SetNavigate: {
        const LxdtNavigate& n = v.navigate;
        return Values(baHead, n.uiNavIndex, n.szNavName, n.fLatitude, n.fLongitude, n.uiNavField7,
                      n.bNavFlag8, n.fNavValue9, n.byNavField10);
    }
    case LxdtData::SetMcBal: {
        const LxdtMcBal& m = v.mcBal;
        return Values(baHead, m.abyPresent, m.fMacCready, m.uiBallast, m.byMcBal5, m.byMcBal6, m.byMcBal7,
                      m.byMcBal8, m.uiMcBal9);
    }
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
        return FixText(p.gga);
    case CodeGns:
        return FixText(p.gns);
    case CodeGsa:
        return Values(QByteArray(1, char(p.gsa.uiMode)), p.gsa.uiFixType, QByteArray("|"), p.gsa.abySatellite,
                      QByteArray("|"), p.gsa.fPdop, p.gsa.fHdop, p.gsa.fVdop);
    case CodeGsv:
        return SatellitesText(p);
    case CodePflau: {
        const FlarmStatus& s = p.flarmStatus;
        return Values(s.byRx, s.byTx, s.byGps, s.byPower, s.byAlarmLevel, s.byAlarmType, s.iRelativeBearing,
                      s.iRelativeVertical, s.uiRelativeDistance, Hex(s.uiId));
    }
    case CodePflaa: {
        const FlarmTarget& t = p.flarmTarget;
        return Values(t.byAlarmLevel, t.byIdType, t.byAircraftType, t.iRelativeNorth, t.iRelativeEast,
                      t.iRelativeVertical, t.uiTrack, Hex(t.uiId), t.fTurnRate, t.fGroundSpeed, t.fClimbRate);
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
    case CodeC302: {
        const C302Data& c = p.c302;
        return Values(c.uiWindDirection, c.fWindSpeed, c.uiWindAge, c.fComponentWind, c.fAltitude, c.uiQnh,
                      c.fTrueAirspeed, c.fVario, c.fAverager, c.fRelativeVario, c.fMacCready, c.uiBallast,
                      c.uiBugs);
    }
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
    case CodeInfo: {
        const DeviceInfo& i = p.info;
        return Values(i.szModel, i.szProduced, i.uiSerial, i.byFwMajor, i.byFwMinor, i.byFwBuild,
                      i.fHwVersion, i.bValid);
    }
    case CodeSettings: {
        const DeviceSettings& s = p.settings;
        return Values(s.iTELevel, s.fVarioFilter, s.byServoTrigger, s.iServoChannel, s.uiPairKey,
                      s.byTelemetry, s.bValid);
    }
    case CodeLogbook: {
        const LogbookEntry& l = p.logbook;
        return Values(l.uiFlightCount, l.uiAux2, l.uiDailyNr, l.uiPackedTime, l.uiAux5, l.uiFlightSize);
    }
    default:
        return QByteArray();
    }
}

} // namespace facts
