// LXDT and VNDT configuration requests and values turned into the lxdt record.
#include "StderrCapture.h"
#include "framing/AppendChecksum.h"
#include "framing/BasicNMEA.h"

#include <QtTest>

#include <cstdarg>
#include <cstring>

namespace {

void FeedAll(BasicNMEA& framer, const QByteArrayList& aSentences, QList<uint>& aCodes) {
    for (const QByteArray& baSentence : aSentences) {
        char acBuf[256];
        snprintf(acBuf, sizeof acBuf, "%s", baSentence.constData());
        AppendChecksum(acBuf);
        uint uiCode = 0;
        for (const char* pc = acBuf; *pc != '\0'; ++pc) {
            framer.ProcessByte(static_cast<uint8_t>(*pc));
            uiCode |= framer.uiLastCode;
        }
        aCodes.append(uiCode);
    }
}

QByteArray Format(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
QByteArray Format(const char* pszFormat, ...) {
    char acText[256];
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(acText, sizeof acText, pszFormat, args);
    va_end(args);
    return acText;
}

// The text in quotes, provided it is terminated within its member and NUL to the member's end.
template <size_t N> QByteArray Text(const char (&szText)[N]) {
    const char* pcEnd = static_cast<const char*>(memchr(szText, '\0', N));
    if (pcEnd == nullptr)
        return "<unterminated>";
    for (const char* pc = pcEnd; pc < szText + N; ++pc)
        if (*pc != '\0')
            return "<stale bytes>";
    return "'" + QByteArray(szText) + "'";
}

// The command, the prefix flag and the one variant that the command names, as a user of the record reads it.
QByteArray Dump(const common::LxdtData& lxdt) {
    using common::LxdtData;
    const common::LxdtPayload& p = lxdt.payload;
    QByteArray baText = Format("%u %d |", lxdt.byCommand, lxdt.bLxPrefix);
    switch (lxdt.byCommand) {
    case LxdtData::GetTp:
    case LxdtData::GetZone:
    case LxdtData::GetNavigate:
        return baText + Format(" %u", p.getIndex.byIndex);
    case LxdtData::SetPilot:
        return baText + " " + Text(p.pilot.szPilot1) + " " + Text(p.pilot.szPilot2);
    case LxdtData::SetGlider:
        return baText + " " + Text(p.glider.szGlider1) + " " + Text(p.glider.szGlider2) + " " +
               Text(p.glider.szGlider3);
    case LxdtData::SetTskPar:
        return baText +
               Format(" %d %u %d", p.tskPar.bTskParFlag, p.tskPar.uiTskParValue, p.tskPar.iTskParTime);
    case LxdtData::SetTp:
        return baText + Format(" %u %u ", p.tp.uiTpField4, p.tp.uiTpIndex) + Text(p.tp.szTpName) +
               Format(" %g %g", p.tp.fLatitude, p.tp.fLongitude);
    case LxdtData::SetZone:
        return baText + Format(" %u %u %d %d %g %g %g %g %g %g", p.zone.uiZoneIndex, p.zone.uiZoneField4,
                               p.zone.bZoneFlag5, p.zone.bZoneFlag6, p.zone.fZoneAngle7, p.zone.fZoneAngle8,
                               p.zone.fZoneAngle9, p.zone.fZoneValue10, p.zone.fZoneValue11,
                               p.zone.fZoneValue12);
    case LxdtData::SetNavigate:
        return baText + Format(" %u ", p.navigate.uiNavIndex) + Text(p.navigate.szNavName) +
               Format(" %g %g %u %d %g %u", p.navigate.fLatitude, p.navigate.fLongitude,
                      p.navigate.uiNavField7, p.navigate.bNavFlag8, p.navigate.fNavValue9,
                      p.navigate.byNavField10);
    case LxdtData::SetMcBal: {
        const common::LxdtMcBal& m = p.mcBal;
        return baText + Format(" %u%u%u%u%u%u%u %g %u %u %u %u %u %u", m.abyPresent[0], m.abyPresent[1],
                               m.abyPresent[2], m.abyPresent[3], m.abyPresent[4], m.abyPresent[5],
                               m.abyPresent[6], m.fMacCready, m.uiBallast, m.byMcBal5, m.byMcBal6, m.byMcBal7,
                               m.byMcBal8, m.uiMcBal9);
    }
    case LxdtData::SetScVar:
        return baText + Format(" %u", p.scVar.byScVar);
    default:
        return baText;
    }
}

// Fills the shared area with long texts first, so that a later variant's leftovers would show.
const QByteArray kLongPilot = "$LXDT,SET,PILOT,ABCDEFGHIJKLMNOPQRST,ABCDEFGHIJKLMNOPQRST";
const QByteArray kLongPilotDump = "100 1 | 'ABCDEFGHIJKLMNOP' 'ABCDEFGHIJKLMNOP'";

} // namespace

class TestLxdtSentences : public QObject {
    Q_OBJECT

private slots:
    void Requests_data();
    void Requests();
};

void TestLxdtSentences::Requests_data() {
    QTest::addColumn<QByteArrayList>("aSentences");
    QTest::addColumn<QByteArray>("baRecord");

    QTest::newRow("pilot cut to 16") << QByteArrayList{} << kLongPilotDump;
    QTest::newRow("GET INFO") << QByteArrayList{"$LXDT,GET,INFO"} << QByteArray("1 1 |");
    QTest::newRow("GET INFO as VNDT") << QByteArrayList{"$VNDT,GET,INFO"} << QByteArray("1 0 |");
    QTest::newRow("GET INFO starting with !") << QByteArrayList{"!LXDT,GET,INFO"} << QByteArray("1 0 |");
    QTest::newRow("GET MC_BAL") << QByteArrayList{"$LXDT,GET,MC_BAL"} << QByteArray("2 1 |");
    QTest::newRow("GET TP 2") << QByteArrayList{"$LXDT,GET,TP,2"} << QByteArray("3 1 | 2");
    QTest::newRow("GET ZONE without index") << QByteArrayList{"$VNDT,GET,ZONE"} << QByteArray("4 0 | 0");
    QTest::newRow("GET NAVIGATE 5") << QByteArrayList{"$LXDT,GET,NAVIGATE,5"} << QByteArray("10 1 | 5");
    QTest::newRow("keywords match as prefixes")
        << QByteArrayList{"$LXDT,GETX,TPX,3"} << QByteArray("3 1 | 3");

    QTest::newRow("SET PILOT shorter than before")
        << QByteArrayList{"$LXDT,SET,PILOT,Jan,Novak"} << QByteArray("100 1 | 'Jan' 'Novak'");
    QTest::newRow("SET GLIDER cut, field 3 unread")
        << QByteArrayList{"$LXDT,SET,GLIDER,1,Ventus 2cxT,D-KXYZ,Club class 18m"}
        << QByteArray("101 1 | 'Ventus 2' 'D-KXYZ' 'Club class 1'");
    QTest::newRow("SET TSK_PAR") << QByteArrayList{"$LXDT,SET,TSK_PAR,1,500,1:30:00"}
                                 << QByteArray("102 1 | 1 500 5400");
    QTest::newRow("SET TSK_PAR malformed time")
        << QByteArrayList{"$LXDT,SET,TSK_PAR,0,70000,1:3O:00"} << QByteArray("102 1 | 0 4464 -1");
    QTest::newRow("SET TSK_PAR empty") << QByteArrayList{"$LXDT,SET,TSK_PAR"} << QByteArray("102 1 | 0 0 -1");
    QTest::newRow("SET TP") << QByteArrayList{"$LXDT,SET,TP,1,0,2940000,840000,ABCDEFGHIJKLMNOPQRST"}
                            << QByteArray("103 1 | 0 1 'ABCDEFGHIJKLMNOP' 0.855211 0.244346");
    QTest::newRow("SET ZONE") << QByteArrayList{"$LXDT,SET,ZONE,2,3,1,0,90,45.5,180,500.7,1000,-3"}
                              << QByteArray("104 1 | 2 3 1 0 1.5708 0.794125 3.14159 500 1000 -3");
    QTest::newRow("SET NAVIGATE")
        << QByteArrayList{"$VNDT,SET,NAVIGATE,4,Lesce airfield north gate,2971234,"
                          "-1234567,7,1,2.5,300"}
        << QByteArray("105 0 | 4 'Lesce airfield north gat' 0.864297 -0.359121 7 1 2.5 44");
    QTest::newRow("SET NAVIGATE 24 fields")
        << QByteArrayList{"$LXDT,SET,NAVIGATE" + QByteArray(",9").repeated(21)}
        << QByteArray("105 1 | 9 '9' 2.61799e-06 2.61799e-06 9 1 9 9");
    QTest::newRow("SET MC_BAL fields 3 and 5 only")
        << QByteArrayList{"$LXDT,SET,MC_BAL,2,100,1,2,3,4,500", "$LXDT,SET,MC_BAL,1.5,,3"}
        << QByteArray("106 1 | 1010000 1.5 0 3 0 0 0 0");
    QTest::newRow("SET MC_BAL 10 fields")
        << QByteArrayList{"$LXDT,SET,MC_BAL,,,,,,,700"} << QByteArray("106 1 | 0000001 0 0 0 0 0 0 700");
    QTest::newRow("SET MC_BAL 9 fields")
        << QByteArrayList{"$LXDT,SET,MC_BAL,1,2,3,4,5,6"} << QByteArray("106 1 | 1111110 1 2 3 4 5 6 0");
    QTest::newRow("SET SC_VAR") << QByteArrayList{"$LXDT,SET,SC_VAR,1"} << QByteArray("107 1 | 1");
    QTest::newRow("GET after SET") << QByteArrayList{"$LXDT,SET,ZONE,2,3,1,0,90,45.5,180,500.7,1000,-3",
                                                     "$LXDT,GET,ZONE,7"}
                                   << QByteArray("4 1 | 7");

    // Unrecognised requests change only the prefix flag.
    QTest::newRow("SET SENS") << QByteArrayList{"$VNDT,SET,SENS,1"}
                              << QByteArray("100 0 | 'ABCDEFGHIJKLMNOP' "
                                            "'ABCDEFGHIJKLMNOP'");
    QTest::newRow("neither GET nor SET")
        << QByteArrayList{"!LXDT,ANSWER,INFO"} << QByteArray("100 0 | 'ABCDEFGHIJKLMNOP' 'ABCDEFGHIJKLMNOP'");
    QTest::newRow("empty LXDT") << QByteArrayList{"$VNDT,GET,INFO", "$LXDT"} << QByteArray("1 1 |");
}

void TestLxdtSentences::Requests() {
    QFETCH(QByteArrayList, aSentences);
    BasicNMEA framer;
    QCOMPARE(Dump(framer.parser.lxdt), QByteArray("0 0 |"));
    StderrCapture capture;
    QList<uint> aCodes;
    FeedAll(framer, {kLongPilot}, aCodes);
    FeedAll(framer, aSentences, aCodes);
    // Every LXDT and VNDT sentence is taken, silently.
    QCOMPARE(aCodes, QList<uint>(aCodes.size(), 22u));
    QCOMPARE(capture.Text(), QByteArray());
    QTEST(Dump(framer.parser.lxdt), "baRecord");
}

QTEST_GUILESS_MAIN(TestLxdtSentences)
#include "test_lxdt_sentences.moc"
