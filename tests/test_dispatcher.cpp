// Which identifier reaches which handler, the debug trace, and the parse time stamp.
#include "StderrCapture.h"
#include "common/TimeOfDay.h"
#include "framing/AppendChecksum.h"
#include "framing/BasicNMEA.h"

#include <QtTest>

namespace {

// Feeds one sentence, framed with a valid checksum, and returns the code it left.
common::SentenceCode Dispatch(BasicNMEA& framer, const QByteArray& baBody, char cStart = '$') {
    char acBuf[256];
    snprintf(acBuf, sizeof acBuf, "%c%s", cStart, baBody.constData());
    AppendChecksum(acBuf);
    common::SentenceCode uiCode = 0;
    for (const char* pc = acBuf; *pc != '\0'; ++pc) {
        framer.ProcessByte(static_cast<uint8_t>(*pc));
        if (framer.uiLastCode != 0)
            uiCode = framer.uiLastCode;
    }
    return uiCode;
}

} // namespace

class TestDispatcher : public QObject {
    Q_OBJECT

private slots:
    void Codes_data();
    void Codes();
    void BangDispatchesLikeDollar();
    void DebugTrace();
    void StampsParseTime();
};

void TestDispatcher::Codes_data() {
    QTest::addColumn<QByteArray>("baBody");
    QTest::addColumn<uint>("uiCode");

    // Each identifier text of a row reaches the row's handler, also with characters after it.
    QTest::newRow("GNRMC") << QByteArray("GNRMC,120000,A,4807.038,N,01131.000,E,0,0,170524,,,A") << 1u;
    QTest::newRow("GPRMCX") << QByteArray("GPRMCX,120000,A,4807.038,N,01131.000,E,0,0,170524,,,A") << 1u;
    QTest::newRow("GPGSV") << QByteArray("GPGSV,1,1,00") << 4u;
    QTest::newRow("GAGSV") << QByteArray("GAGSV,1,1,00") << 4u;
    QTest::newRow("PFLAL always") << QByteArray("PFLAL,anything") << 10u;
    QTest::newRow("PFLAQ always") << QByteArray("PFLAQ,OBST,50") << 11u;
    QTest::newRow("LXWP0 always, even empty") << QByteArray("LXWP0") << 14u;
    QTest::newRow("LXGRB always") << QByteArray("LXGRB") << 18u;
    QTest::newRow("PCAID with 4 fields") << QByteArray("PCAID,N,500,0") << 16u;
    QTest::newRow("PCAID below 4 fields") << QByteArray("PCAID,N,500") << 0u;
    QTest::newRow("PGRMZ") << QByteArray("PGRMZ,1234,f,3") << 17u;
    QTest::newRow("PNRMZ below 4 fields") << QByteArray("PNRMZ,1234") << 0u;
    QTest::newRow("PFLX2 always") << QByteArray("PFLX2") << 20u;
    QTest::newRow("RPYL always") << QByteArray("RPYL") << 21u;
    QTest::newRow("VNREQ") << QByteArray("VNREQ,0") << 23u;
    QTest::newRow("VNINFO2") << QByteArray("VNINFO2,Tovak_2") << 24u;
    QTest::newRow("VNSET2") << QByteArray("VNSET2,1,1.5") << 25u;
    QTest::newRow("VNLOGBOOK") << QByteArray("VNLOGBOOK,1") << 26u;

    // Only the row's leading characters are compared; a shorter identifier never matches.
    QTest::newRow("longer identifier: VNREQX") << QByteArray("VNREQX,0") << 23u;
    QTest::newRow("longer identifier: VNINFO2X") << QByteArray("VNINFO2X") << 24u;
    QTest::newRow("longer identifier: PFLALX") << QByteArray("PFLALX") << 10u;
    QTest::newRow("six of seven characters: VNINFO") << QByteArray("VNINFO,Tovak_2") << 0u;
    QTest::newRow("four of five characters: GPRM") << QByteArray("GPRM,1") << 0u;
    QTest::newRow("VNSET without 2") << QByteArray("VNSET,1") << 0u;
    QTest::newRow("case matters: vnreq") << QByteArray("vnreq,0") << 0u;
    QTest::newRow("unknown") << QByteArray("XYZZY,1,2") << 0u;
    QTest::newRow("empty identifier") << QByteArray(",VNREQ") << 0u;
    QTest::newRow("nothing at all") << QByteArray("") << 0u;
}

void TestDispatcher::Codes() {
    QFETCH(QByteArray, baBody);
    QFETCH(uint, uiCode);
    BasicNMEA framer;
    StderrCapture capture;
    QCOMPARE(Dispatch(framer, baBody), uiCode);
}

void TestDispatcher::BangDispatchesLikeDollar() {
    BasicNMEA framer;
    QCOMPARE(Dispatch(framer, "VNREQ,201,7", '!'), 23u);
    QCOMPARE(framer.parser.request.uiCode, uint16_t(201));
    QCOMPARE(framer.parser.request.auiArg[0], uint16_t(7));
}

void TestDispatcher::DebugTrace() {
    BasicNMEA framer;
    framer.parser.bDebug = true;
    StderrCapture capture;
    QCOMPARE(Dispatch(framer, "VNREQ,200,,5"), 23u);
    QCOMPARE(capture.Text(), QByteArray("ParseNMEA begin\nFC 4\n0-0 $VNREQ\n1-7 200\n2-11 <0>\n3-12 5\n"));
}

void TestDispatcher::StampsParseTime() {
    BasicNMEA framer;
    // Ten seconds before construction, modulo a day's wrap of the 32-bit stamp.
    const uint32_t uiSinceConstruction = common::TimeOfDayMs() - framer.parser.uiLastSentenceMs;
    QVERIFY2(uiSinceConstruction >= 10000 && uiSinceConstruction < 11000,
             qPrintable(QString::number(uiSinceConstruction)));

    const uint32_t uiBefore = common::TimeOfDayMs();
    Dispatch(framer, "XYZZY");
    const uint32_t uiAfter = common::TimeOfDayMs();
    // Any sentence stamps the time, taken or not.
    QVERIFY(framer.parser.uiLastSentenceMs - uiBefore <= uiAfter - uiBefore);
}

QTEST_APPLESS_MAIN(TestDispatcher)
#include "test_dispatcher.moc"
