// The instrument's own sentences turned into records, with short, overlong and stale inputs.
#include "SentenceFeed.h"

#include <QtTest>

namespace {

// The record that the sentence fills, as text in member order.
QString Dump(const common::ParserNMEA& p, const QByteArray& baSentence) {
    if (baSentence.startsWith("VNINFO2"))
        return StoredText(p.info.szModel) + " " + StoredText(p.info.szProduced) +
               QString::asprintf(" %u %u %u %u %g %d", p.info.uiSerial, p.info.byFwMajor, p.info.byFwMinor,
                                 p.info.byFwBuild, p.info.fHwVersion, p.info.bValid);
    if (baSentence.startsWith("VNSET2"))
        return QString::asprintf("%d %g %u %d %u %u %d", p.settings.iTELevel, p.settings.fVarioFilter,
                                 p.settings.byServoTrigger, p.settings.iServoChannel, p.settings.uiPairKey,
                                 p.settings.byTelemetry, p.settings.bValid);
    if (baSentence.startsWith("VNLOGBOOK"))
        return QString::asprintf("%u %u %u %u %u %u", p.logbook.uiFlightCount, p.logbook.uiAux2,
                                 p.logbook.uiDailyNr, p.logbook.uiPackedTime, p.logbook.uiAux5,
                                 p.logbook.uiFlightSize);
    QString sText = QString::number(p.request.uiCode) + " |";
    for (uint16_t uiArg : p.request.auiArg)
        sText += " " + QString::number(uiArg);
    return sText;
}

} // namespace

class TestDeviceSentences : public QObject {
    Q_OBJECT

private slots:
    void Records_data();
    void Records();
    void ClearLeavesRequestAndLogbook();
};

void TestDeviceSentences::Records_data() {
    const DataTable<QByteArrayList, QString> Row({"aTexts", "sRecord"});

    // Each row follows a long identity, full settings and "VNREQ,9,1,2,3,4,5,6,7,8,9,10", so that a
    // value that is not replaced shows.
    Row("identity", {"VNINFO2,Tovak_2,P17,1234,1,7,12,1.5"}, "Tovak_2 P17 1234 1 7 12 1.5 1");
    Row("identity texts of 16 characters keep 15", {"VNINFO2,Tovak_2_ABCDEFGHI,0123456789ABCDEF,1"},
        "Tovak_2_ABCDEFG 0123456789ABCDE 1 0 0 0 0 1");
    Row("settings", {"VNSET2,-5,1.5,30,-1,123456,2"}, "-5 1.5 30 -1 123456 2 1");
    Row("settings of two fields", {"VNSET2,7"}, "7 0 0 0 0 0 1");
    // The argument after the last one sent reads as 0; those beyond keep their values.
    Row("chunk request", {"VNREQ,201,5"}, "201 | 5 0 3 4 5 6 7 8 9 10");
    Row("request without arguments", {"VNREQ"}, "0 | 1 2 3 4 5 6 7 8 9 10");
    Row("arguments beyond ten dropped", {"VNREQ,50,11,12,13,14,15,16,17,18,19,20,21,22,23"},
        "50 | 11 12 13 14 15 16 17 18 19 20");
    Row("logbook row, count in 16 bits", {"VNLOGBOOK,70000,2,1,1954763110,77,300"},
        "4464 2 1 1954763110 77 300");
    Row("logbook count only", {"VNLOGBOOK,70000,2,1,1954763110,77,300", "VNLOGBOOK,3"}, "3 0 0 0 0 0");
}

void TestDeviceSentences::Records() {
    QFETCH(QByteArrayList, aTexts);
    BasicNMEA framer;
    for (const QByteArray& baText :
         QByteArrayList{"VNINFO2,XXXXXXXXXXXXXXXXXXXX,YYYYYYYYYYYYYYYYYY,9,9,9,9,9",
                        "VNSET2,99,9.5,99,99,99,99", "VNREQ,9,1,2,3,4,5,6,7,8,9,10"} +
             aTexts)
        QVERIFY(FeedSentence(framer, baText) >= common::CodeRequest);
    QTEST(Dump(framer.parser, aTexts.last()), "sRecord");
}

void TestDeviceSentences::ClearLeavesRequestAndLogbook() {
    BasicNMEA framer;
    const QByteArrayList aTexts{"VNINFO2,Tovak_2,A7,512,1,4,7,2.0", "VNSET2,20,1.5,30,4,123456,2",
                                "VNREQ,201,5", "VNLOGBOOK,3,0,1,1954763110,0,300"};
    for (const QByteArray& baText : aTexts)
        FeedSentence(framer, baText);
    framer.parser.info.Clear();
    framer.parser.settings.Clear();
    QCOMPARE(Dump(framer.parser, aTexts[0]) + " / " + Dump(framer.parser, aTexts[1]) + " / " +
                 Dump(framer.parser, aTexts[2]) + " / " + Dump(framer.parser, aTexts[3]),
             QString("  0 0 0 0 0 0 / 0 0 0 0 0 0 0 / 201 | 5 0 0 0 0 0 0 0 0 0 / 3 0 1 1954763110 0 300"));
}

QTEST_APPLESS_MAIN(TestDeviceSentences)
#include "test_device_sentences.moc"
