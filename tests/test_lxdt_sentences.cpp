// LXDT and VNDT configuration requests and values turned into the lxdt record.
#include "SentenceFeed.h"
#include "StderrCapture.h"

#include <QtTest>

#include <cstring>
#include <new>

namespace {

// The text in quotes, or the mark of a missing terminator or padding.
template <size_t N> QString Text(const char (&szText)[N]) {
    return "'" + QString::fromLatin1(StoredText(szText)) + "'";
}

// The command, the prefix flag and the one variant that the command names, as a user of the record reads it.
QString Dump(const common::LxdtData& lxdt) {
    using common::LxdtData;
    const common::LxdtPayload& p = lxdt.payload;
    const QString sText = QString::asprintf("%u %d |", lxdt.byCommand, lxdt.bLxPrefix);
    switch (lxdt.byCommand) {
    case LxdtData::GetTp:
    case LxdtData::GetZone:
    case LxdtData::GetNavigate:
        return sText + QString::asprintf(" %u", p.getIndex.byIndex);
    case LxdtData::SetPilot:
        return sText + " " + Text(p.pilot.szPilot1) + " " + Text(p.pilot.szPilot2);
    case LxdtData::SetGlider:
        return sText + " " + Text(p.glider.szGlider1) + " " + Text(p.glider.szGlider2) + " " +
               Text(p.glider.szGlider3);
    case LxdtData::SetTskPar:
        return sText + QString::asprintf(" %d %u %d", p.tskPar.bTskParFlag, p.tskPar.uiTskParValue,
                                         p.tskPar.iTskParTime);
    case LxdtData::SetTp:
        return sText + QString::asprintf(" %u %u ", p.tp.uiTpField4, p.tp.uiTpIndex) + Text(p.tp.szTpName) +
               QString::asprintf(" %g %g", p.tp.fLatitude, p.tp.fLongitude);
    case LxdtData::SetZone:
        return sText + QString::asprintf(" %u %u %d %d %g %g %g %g %g %g", p.zone.uiZoneIndex,
                                         p.zone.uiZoneField4, p.zone.bZoneFlag5, p.zone.bZoneFlag6,
                                         p.zone.fZoneAngle7, p.zone.fZoneAngle8, p.zone.fZoneAngle9,
                                         p.zone.fZoneValue10, p.zone.fZoneValue11, p.zone.fZoneValue12);
    case LxdtData::SetNavigate:
        return sText + QString::asprintf(" %u ", p.navigate.uiNavIndex) + Text(p.navigate.szNavName) +
               QString::asprintf(" %g %g %u %d %g %u", p.navigate.fLatitude, p.navigate.fLongitude,
                                 p.navigate.uiNavField7, p.navigate.bNavFlag8, p.navigate.fNavValue9,
                                 p.navigate.byNavField10);
    case LxdtData::SetMcBal: {
        const common::LxdtMcBal& m = p.mcBal;
        return sText + QString::asprintf(" %u%u%u%u%u%u%u %g %u %u %u %u %u %u", m.abyPresent[0],
                                         m.abyPresent[1], m.abyPresent[2], m.abyPresent[3], m.abyPresent[4],
                                         m.abyPresent[5], m.abyPresent[6], m.fMacCready, m.uiBallast,
                                         m.byMcBal5, m.byMcBal6, m.byMcBal7, m.byMcBal8, m.uiMcBal9);
    }
    case LxdtData::SetScVar:
        return sText + QString::asprintf(" %u", p.scVar.byScVar);
    default:
        return sText;
    }
}

// Fills the shared area with long texts first, so that a later variant's leftovers would show.
const QByteArray kLongPilot = "$LXDT,SET,PILOT,ABCDEFGHIJKLMNOPQRST,ABCDEFGHIJKLMNOPQRST";

} // namespace

class TestLxdtSentences : public QObject {
    Q_OBJECT

private slots:
    void Requests_data();
    void Requests();
};

void TestLxdtSentences::Requests_data() {
    const DataTable<QByteArrayList, QString> Row({"aSentences", "sRecord"});
    // Unrecognised requests change only the prefix flag.
    const QString sPilotKept = "100 0 | 'ABCDEFGHIJKLMNOP' 'ABCDEFGHIJKLMNOP'";

    Row("pilot cut to 16", {}, "100 1 | 'ABCDEFGHIJKLMNOP' 'ABCDEFGHIJKLMNOP'");
    Row("GET INFO as VNDT", {"$VNDT,GET,INFO"}, "1 0 |");
    Row("GET INFO starting with !", {"!LXDT,GET,INFO"}, "1 0 |");
    Row("GET NAVIGATE 5", {"$LXDT,GET,NAVIGATE,5"}, "10 1 | 5");
    Row("keywords match as prefixes", {"$LXDT,GETX,TPX,3"}, "3 1 | 3");
    Row("SET PILOT shorter than before", {"$LXDT,SET,PILOT,Jan,Novak"}, "100 1 | 'Jan' 'Novak'");
    Row("SET GLIDER cut, field 3 unread", {"$LXDT,SET,GLIDER,1,Ventus 2cxT,D-KXYZ,Club class 18m"},
        "101 1 | 'Ventus 2' 'D-KXYZ' 'Club class 1'");
    Row("SET TSK_PAR", {"$LXDT,SET,TSK_PAR,1,500,1:30:00"}, "102 1 | 1 500 5400");
    Row("SET TP", {"$LXDT,SET,TP,1,0,2940000,840000,ABCDEFGHIJKLMNOPQRST"},
        "103 1 | 0 1 'ABCDEFGHIJKLMNOP' 0.855211 0.244346");
    Row("SET ZONE", {"$LXDT,SET,ZONE,2,3,1,0,90,45.5,180,500.7,1000,-3"},
        "104 1 | 2 3 1 0 1.5708 0.794125 3.14159 500 1000 -3");
    Row("SET NAVIGATE", {"$VNDT,SET,NAVIGATE,4,Lesce airfield north gate,2971234,-1234567,7,1,2.5,300"},
        "105 0 | 4 'Lesce airfield north gat' 0.864297 -0.359121 7 1 2.5 44");
    Row("SET NAVIGATE 24 fields", {"$LXDT,SET,NAVIGATE" + QByteArray(",9").repeated(21)},
        "105 1 | 9 '9' 2.61799e-06 2.61799e-06 9 1 9 9");
    Row("SET MC_BAL", {"$LXDT,SET,MC_BAL,1.5,100,3,4,5,6,700"}, "106 1 | 1111111 1.5 100 3 4 5 6 700");
    Row("SET MC_BAL fields 3 and 5 only", {"$LXDT,SET,MC_BAL,2,100,1,2,3,4,500", "$LXDT,SET,MC_BAL,1.5,,3"},
        "106 1 | 1010000 1.5 0 3 0 0 0 0");
    Row("SET SC_VAR", {"$LXDT,SET,SC_VAR,1"}, "107 1 | 1");
    Row("GET after SET", {"$LXDT,SET,ZONE,2,3,1,0,90,45.5,180,500.7,1000,-3", "$LXDT,GET,ZONE,7"}, "4 1 | 7");
    Row("SET SENS", {"$VNDT,SET,SENS,1"}, sPilotKept);
    Row("neither GET nor SET", {"!LXDT,ANSWER,INFO"}, sPilotKept);
    Row("empty LXDT", {"$VNDT,GET,INFO", "$LXDT"}, "1 1 |");
}

void TestLxdtSentences::Requests() {
    QFETCH(QByteArrayList, aSentences);
    // Built over dirty memory: whatever it held, a fresh record is empty in every byte of every variant.
    alignas(BasicNMEA) unsigned char abyMemory[sizeof(BasicNMEA)];
    memset(abyMemory, 0xAA, sizeof abyMemory);
    BasicNMEA& framer = *new (abyMemory) BasicNMEA;
    const common::LxdtData& lxdt = framer.parser.lxdt;
    QCOMPARE(Dump(lxdt), QString("0 0 |"));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(&lxdt.payload), sizeof lxdt.payload).toHex(),
             QByteArray(sizeof lxdt.payload, '\0').toHex());
    StderrCapture capture;
    // Every LXDT and VNDT sentence is taken, silently.
    for (const QByteArray& baSentence : QByteArrayList{kLongPilot} + aSentences)
        QCOMPARE(FeedSentence(framer, baSentence), common::CodeLxdt);
    QCOMPARE(capture.Text(), QByteArray());
    QTEST(Dump(lxdt), "sRecord");
    framer.~BasicNMEA();
}

QTEST_GUILESS_MAIN(TestLxdtSentences)
#include "test_lxdt_sentences.moc"
