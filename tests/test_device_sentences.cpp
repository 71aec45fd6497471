// The instrument's own sentences turned into records, with short, overlong and malformed inputs.
#include "framing/AppendChecksum.h"
#include "framing/BasicNMEA.h"

#include <QtTest>

namespace {

common::SentenceCode Feed(BasicNMEA& framer, const QByteArray& baBody) {
    char acBuf[256];
    snprintf(acBuf, sizeof acBuf, "$%s", baBody.constData());
    AppendChecksum(acBuf);
    common::SentenceCode uiCode = 0;
    for (const char* pc = acBuf; *pc != '\0'; ++pc) {
        framer.ProcessByte(static_cast<uint8_t>(*pc));
        uiCode |= framer.uiLastCode;
    }
    return uiCode;
}

// The whole 16-byte text field, so that a missing terminator or stale bytes after it show.
QByteArray Field16(const char (&szText)[16]) {
    return QByteArray(szText, 16);
}

QByteArray Padded(const QByteArray& baText) {
    return baText + QByteArray(16 - baText.size(), '\0');
}

} // namespace

class TestDeviceSentences : public QObject {
    Q_OBJECT

private slots:
    void Info_data();
    void Info();
    void Settings_data();
    void Settings();
    void Request_data();
    void Request();
    void Logbook();
    void ClearLeavesRequestAndLogbook();
};

void TestDeviceSentences::Info_data() {
    QTest::addColumn<QByteArray>("baBody");
    QTest::addColumn<QByteArray>("baModel");
    QTest::addColumn<QByteArray>("baProduced");
    QTest::addColumn<uint>("uiSerial");
    QTest::addColumn<int>("iFwMajor");
    QTest::addColumn<int>("iFwMinor");
    QTest::addColumn<int>("iFwBuild");
    QTest::addColumn<float>("fHw");

    QTest::newRow("complete") << QByteArray("VNINFO2,Tovak_2,P17,1234,1,7,12,1.5") << Padded("Tovak_2")
                              << Padded("P17") << 1234u << 1 << 7 << 12 << 1.5f;
    QTest::newRow("model only") << QByteArray("VNINFO2,Ulmar") << Padded("Ulmar") << Padded("") << 0u << 0
                                << 0 << 0 << 0.0f;
    QTest::newRow("firmware keeps low 8 bits")
        << QByteArray("VNINFO2,Pelko_2,A7,512,300,256,-1,2.0") << Padded("Pelko_2") << Padded("A7") << 512u
        << 44 << 0 << 255 << 2.0f;
    QTest::newRow("serial above 2^31") << QByteArray("VNINFO2,Tovak_2,,4294967295") << Padded("Tovak_2")
                                       << Padded("") << 4294967295u << 0 << 0 << 0 << 0.0f;
    // Overlong texts keep 15 characters and their terminator.
    QTest::newRow("16-character texts")
        << QByteArray("VNINFO2,Tovak_2_ABCDEFGHI,0123456789ABCDEF,1") << QByteArray("Tovak_2_ABCDEFG\0", 16)
        << QByteArray("0123456789ABCDE\0", 16) << 1u << 0 << 0 << 0 << 0.0f;
    QTest::newRow("fields beyond the seventh ignored")
        << QByteArray("VNINFO2,Tovak_2,A7,512,1,4,7,2.0,extra,fields") << Padded("Tovak_2") << Padded("A7")
        << 512u << 1 << 4 << 7 << 2.0f;
}

void TestDeviceSentences::Info() {
    QFETCH(QByteArray, baBody);
    BasicNMEA framer;
    // Stale content from an earlier, longer identity must not survive.
    QCOMPARE(Feed(framer, "VNINFO2,XXXXXXXXXXXXXXXXXXXX,YYYYYYYYYYYYYYYYYY,9,9,9,9,9"), 24u);
    QCOMPARE(Feed(framer, baBody), 24u);
    const common::DeviceInfo& info = framer.parser.info;
    QTEST(Field16(info.szModel), "baModel");
    QTEST(Field16(info.szProduced), "baProduced");
    QTEST(uint(info.uiSerial), "uiSerial");
    QTEST(int(info.byFwMajor), "iFwMajor");
    QTEST(int(info.byFwMinor), "iFwMinor");
    QTEST(int(info.byFwBuild), "iFwBuild");
    QTEST(info.fHwVersion, "fHw");
    QVERIFY(info.bValid);
}

void TestDeviceSentences::Settings_data() {
    QTest::addColumn<QByteArray>("baBody");
    QTest::addColumn<int>("iTELevel");
    QTest::addColumn<float>("fVarioFilter");
    QTest::addColumn<int>("iServoTrigger");
    QTest::addColumn<int>("iServoChannel");
    QTest::addColumn<uint>("uiPairKey");
    QTest::addColumn<int>("iTelemetry");

    QTest::newRow("long form") << QByteArray("VNSET2,20,1.5,30,4,123456,2") << 20 << 1.5f << 30 << 4
                               << 123456u << 2;
    QTest::newRow("negatives") << QByteArray("VNSET2,-5,0.5,0,-1,0,0") << -5 << 0.5f << 0 << -1 << 0u << 0;
    QTest::newRow("servo channel sent as unsigned -1")
        << QByteArray("VNSET2,0,10.0,100,4294967295,999999,4") << 0 << 10.0f << 100 << -1 << 999999u << 4;
    QTest::newRow("short form fills by position")
        << QByteArray("VNSET2,4242,3") << int(int8_t(4242 & 0xFF)) << 3.0f << 0 << 0 << 0u << 0;
    QTest::newRow("empty") << QByteArray("VNSET2") << 0 << 0.0f << 0 << 0 << 0u << 0;
}

void TestDeviceSentences::Settings() {
    QFETCH(QByteArray, baBody);
    BasicNMEA framer;
    QCOMPARE(Feed(framer, baBody), 25u);
    const common::DeviceSettings& settings = framer.parser.settings;
    QTEST(int(settings.iTELevel), "iTELevel");
    QTEST(settings.fVarioFilter, "fVarioFilter");
    QTEST(int(settings.byServoTrigger), "iServoTrigger");
    QTEST(int(settings.iServoChannel), "iServoChannel");
    QTEST(uint(settings.uiPairKey), "uiPairKey");
    QTEST(int(settings.byTelemetry), "iTelemetry");
    QVERIFY(settings.bValid);
}

void TestDeviceSentences::Request_data() {
    QTest::addColumn<QByteArray>("baBody");
    QTest::addColumn<uint>("uiCode");
    QTest::addColumn<QList<uint>>("args");

    // Every request follows "VNREQ,9,1,2,3,4,5,6,7,8,9,10": arguments not reached keep those values.
    QTest::newRow("chunk request") << QByteArray("VNREQ,201,5") << 201u
                                   << QList<uint>{5, 0, 3, 4, 5, 6, 7, 8, 9, 10};
    QTest::newRow("header request") << QByteArray("VNREQ,200") << 200u
                                    << QList<uint>{0, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    QTest::newRow("code only, no comma")
        << QByteArray("VNREQ") << 0u << QList<uint>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    QTest::newRow("low 16 bits") << QByteArray("VNREQ,65737,70000") << 201u
                                 << QList<uint>{4464, 0, 3, 4, 5, 6, 7, 8, 9, 10};
    QTest::newRow("ten arguments") << QByteArray("VNREQ,50,11,12,13,14,15,16,17,18,19,20") << 50u
                                   << QList<uint>{11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
    QTest::newRow("beyond ten arguments dropped")
        << QByteArray("VNREQ,50,11,12,13,14,15,16,17,18,19,20,21,22,23") << 50u
        << QList<uint>{11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
}

void TestDeviceSentences::Request() {
    QFETCH(QByteArray, baBody);
    QFETCH(QList<uint>, args);
    BasicNMEA framer;
    QCOMPARE(Feed(framer, "VNREQ,9,1,2,3,4,5,6,7,8,9,10"), 23u);
    QCOMPARE(Feed(framer, baBody), 23u);
    QTEST(uint(framer.parser.request.uiCode), "uiCode");
    QList<uint> actual;
    for (uint16_t uiArg : framer.parser.request.auiArg)
        actual << uiArg;
    QCOMPARE(actual, args);
}

void TestDeviceSentences::Logbook() {
    BasicNMEA framer;
    QCOMPARE(Feed(framer, "VNLOGBOOK,70000,2,1,1954763110,77,300"), 26u);
    const common::LogbookEntry& entry = framer.parser.logbook;
    QCOMPARE(entry.uiFlightCount, uint16_t(4464));
    QCOMPARE(entry.uiAux2, uint16_t(2));
    QCOMPARE(entry.uiDailyNr, uint16_t(1));
    QCOMPARE(entry.uiPackedTime, 1954763110u);
    QCOMPARE(entry.uiAux5, 77u);
    QCOMPARE(entry.uiFlightSize, 300u);

    QCOMPARE(Feed(framer, "VNLOGBOOK,3"), 26u);
    QCOMPARE(entry.uiFlightCount, uint16_t(3));
    QCOMPARE(entry.uiFlightSize, 0u);
}

void TestDeviceSentences::ClearLeavesRequestAndLogbook() {
    BasicNMEA framer;
    Feed(framer, "VNINFO2,Tovak_2,A7,512,1,4,7,2.0");
    Feed(framer, "VNSET2,20,1.5,30,4,123456,2");
    Feed(framer, "VNREQ,201,5");
    Feed(framer, "VNLOGBOOK,3,0,1,1954763110,0,300");
    framer.parser.info.Clear();
    framer.parser.settings.Clear();

    const common::DeviceInfo info = framer.parser.info;
    QVERIFY(!info.bValid);
    QCOMPARE(Field16(info.szModel), Padded(""));
    QCOMPARE(info.uiSerial, 0u);
    QCOMPARE(info.fHwVersion, 0.0f);
    const common::DeviceSettings settings = framer.parser.settings;
    QVERIFY(!settings.bValid);
    QCOMPARE(settings.uiPairKey, 0u);
    QCOMPARE(settings.fVarioFilter, 0.0f);
    QCOMPARE(framer.parser.request.uiCode, uint16_t(201));
    QCOMPARE(framer.parser.logbook.uiFlightSize, 300u);
}

QTEST_APPLESS_MAIN(TestDeviceSentences)
#include "test_device_sentences.moc"
