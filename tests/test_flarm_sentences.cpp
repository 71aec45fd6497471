#include "StderrCapture.h"
#include "common/TimeOfDay.h"
#include "framing/AppendChecksum.h"
#include "framing/BasicNMEA.h"

#include <QtTest>

#include <cstring>

using common::ParserNMEA;

namespace {

// Frames the body with a valid checksum and CR LF, feeds it byte by byte as the port reader does,
// and returns the code left by the byte that completed it.
uint32_t Feed(BasicNMEA& framer, const QByteArray& baBody) {
    char acLine[160];
    snprintf(acLine, sizeof acLine, "$%s", baBody.constData());
    AppendChecksum(acLine);
    uint32_t uiCode = 0;
    for (const char* pc = acLine; *pc != '\0'; ++pc) {
        framer.ProcessByte(static_cast<uint8_t>(*pc));
        uiCode |= framer.uiLastCode;
    }
    return uiCode;
}

// The identifier followed by 23 further fields, the most the framer passes on.
QByteArray Longest(const char* pszId, const char* pszField) {
    return QByteArray(pszId) + (QByteArray(",") + pszField).repeated(23);
}

// The PFLAU or PFLAA record, as numbers in member order without the time stamp. Every integer of the
// tests is exact in single precision.
QList<float> Record(const ParserNMEA& parser, const QByteArray& baBody) {
    const common::FlarmStatus& st = parser.flarmStatus;
    const common::FlarmTarget& tg = parser.flarmTarget;
    if (baBody.startsWith("PFLAU"))
        return QList<float>() << st.byRx << st.byTx << st.byGps << st.byPower << st.byAlarmLevel
                              << st.byAlarmType << st.iRelativeBearing << st.iRelativeVertical
                              << st.uiRelativeDistance << st.uiId;
    return QList<float>() << tg.byAlarmLevel << tg.byIdType << tg.byAircraftType << tg.iRelativeNorth
                          << tg.iRelativeEast << tg.iRelativeVertical << tg.uiTrack << tg.uiId << tg.fTurnRate
                          << tg.fGroundSpeed << tg.fClimbRate;
}

// A text member as stored, or a mark when it lacks its terminator or its NUL padding.
template <size_t N> QByteArray Text(const char (&szMember)[N]) {
    const QByteArray baAll(szMember, N);
    const int iLength = baAll.indexOf('\0');
    if (iLength < 0)
        return "<unterminated>";
    if (baAll.mid(iLength) != QByteArray(int(N) - iLength, '\0'))
        return "<unpadded>";
    return baAll.left(iLength);
}

// Every stored value of PFLAC, PFLAE, PFLAL and PFLAQ by name, so that a row can say what it changes
// and the test can see that nothing else did.
QMap<QByteArray, QByteArray> Stored(const ParserNMEA& parser) {
    const common::FlarmConfig& config = parser.flarmConfig;
    const common::FlarmError& error = parser.flarmError;
    const common::FlarmProgress& progress = parser.flarmProgress;
    const auto N = [](int i) { return QByteArray::number(i); };
    return {{"szObstDb1", Text(config.szObstDb1)},     {"szObstDb2", Text(config.szObstDb2)},
            {"szSerial", Text(config.szSerial)},       {"szSwVersion", Text(config.szSwVersion)},
            {"szHwVersion", Text(config.szHwVersion)}, {"iPrivacy", N(config.iPrivacy)},
            {"iFrequency", N(config.iFrequency)},      {"bAnswer", N(config.bAnswer)},
            {"szRadioId", Text(config.szRadioId)},     {"szObstExpiry", Text(config.szObstExpiry)},
            {"iSeverity", N(error.iSeverity)},         {"uiErrorCode", N(error.uiErrorCode)},
            {"szMessage", Text(error.szMessage)},      {"bErrorHandled", N(error.bErrorHandled)},
            {"szPflalText", Text(parser.szPflalText)}, {"szOperation", Text(progress.szOperation)},
            {"szInfo", Text(progress.szInfo)},         {"byProgress", N(progress.byProgress)}};
}

} // namespace

class TestFlarmSentences : public QObject {
    Q_OBJECT

private slots:
    void Traffic_data();
    void Traffic();
    void StartValuesAndGpsLatch();
    void StoredTexts_data();
    void StoredTexts();
    void PflaeRepeatFilter_data();
    void PflaeRepeatFilter();
};

void TestFlarmSentences::StartValuesAndGpsLatch() {
    const uint32_t uiBeforeMs = common::TimeOfDayMs();
    BasicNMEA framer;
    common::FlarmStatus& status = framer.parser.flarmStatus;
    // A fresh parser counts the GPS as lost ten seconds ago, and has no configuration or error yet.
    QVERIFY(status.uiGpsLostMs + 10000u - uiBeforeMs < 1000u);
    const ParserNMEA& parser = framer.parser;
    QCOMPARE(
        (QList<int>{parser.flarmConfig.iPrivacy, parser.flarmConfig.iFrequency, parser.flarmError.iSeverity,
                    parser.flarmError.uiErrorCode, parser.flarmError.bErrorHandled}),
        (QList<int>{-1, -1, -1, 0xFFFF, 1}));

    status.uiGpsLostMs = 12345;
    QCOMPARE(Feed(framer, "PFLAU,0,1,0,1,0,,0,,,"), 6u);
    QCOMPARE(status.uiGpsLostMs, 12345u); // the first moment stays
    QCOMPARE(Feed(framer, "PFLAU,0,1,2,1,0,,0,,,"), 6u);
    QCOMPARE(status.uiGpsLostMs, 0u);
    const uint32_t uiLostMs = common::TimeOfDayMs();
    QCOMPARE(Feed(framer, "PFLAU,0,1,0,1,0,,0,,,"), 6u);
    QVERIFY(status.uiGpsLostMs - uiLostMs < 1000u);
}

void TestFlarmSentences::Traffic_data() {
    QTest::addColumn<QByteArray>("baBody");
    QTest::addColumn<uint>("uiCode");
    QTest::addColumn<QByteArray>("baMessage");
    QTest::addColumn<QList<float>>("aExpected"); // the record in member order; a refusal keeps it
    const auto Row = [](const char* pszName, const QByteArray& baBody, uint uiCode, const char* pszMessage,
                        const QList<float>& aExpected) {
        QTest::newRow(pszName) << baBody << uiCode << QByteArray(pszMessage) << aExpected;
    };

    Row("PFLAU alarm", "PFLAU,3,1,2,1,2,-30,2,-32,755,DDA85C", 6, "",
        {3, 1, 2, 1, 2, 2, -30, -32, 755, 0xDDA85C});
    Row("PFLAU empty bearing", "PFLAU,2,1,2,1,0,,0,,,", 6, "", {2, 1, 2, 1, 0, 0, 999, 0, 0, 0});
    Row("PFLAU bearing not a number, hex alarm type", "PFLAU,1,1,1,1,3,x,A,100,300,3F1A2B,0", 6, "",
        {1, 1, 1, 1, 3, 10, 999, 100, 300, 0x3F1A2B});
    Row("PFLAU empty", "PFLAU", 6, "", {0, 0, 0, 0, 0, 0, 999, 0, 0, 0});
    Row("PFLAU 24 fields", Longest("PFLAU", "19"), 6, "", {19, 19, 19, 19, 19, 0x19, 19, 19, 19, 0x19});

    Row("PFLAA ID with callsign", "PFLAA,0,-1234,1234,220,2,DDA85C!D-KABC,180,-4.5,30,-1.4,1", 7, "",
        {0, 2, 1, -1234, 1234, 220, 180, 0xDDA85C, -4.5, 30, -1.4});
    Row("PFLAA no relative east", "PFLAA,1,-500,,100,1,4B1234,,,,,8", 7, "",
        {1, 1, 20, -500, 0, 100, 0, 0x4B1234, 0, 0, 0});
    Row("PFLAA lower-case hex", "PFLAA,2,100,-200,-50,2,3e8a44,359,,12.5,0.5,d", 7, "",
        {2, 2, 13, 100, -200, -50, 359, 0x3E8A44, 0, 12.5, 0.5});
    Row("PFLAA extra fields of later units", "PFLAA,0,-1234,1234,220,2,DDA85C,180,,30,-1.4,1,0,0,-60", 0,
        "PFLAA invalid field count 15.\n", {});
    Row("PFLAA 11 fields", "PFLAA,0,-1234,1234,220,2,DDA85C,180,,30,-1.4", 0,
        "PFLAA invalid field count 11.\n", {});
    Row("PFLAA empty", "PFLAA", 0, "PFLAA invalid field count 1.\n", {});
    Row("PFLAA 24 fields", Longest("PFLAA", "1"), 0, "PFLAA invalid field count 24.\n", {});
}

void TestFlarmSentences::Traffic() {
    QFETCH(QByteArray, baBody);
    QFETCH(uint, uiCode);
    QFETCH(QByteArray, baMessage);
    QFETCH(QList<float>, aExpected);
    BasicNMEA framer;
    QCOMPARE(Feed(framer, "PFLAA,3,10,20,30,0,ABCDEF,90,1,2,3,9"), 7u);
    if (uiCode == 0)
        aExpected = Record(framer.parser, baBody);

    StderrCapture capture;
    const uint32_t uiBeforeMs = common::TimeOfDayMs();
    QCOMPARE(Feed(framer, baBody), uiCode);
    QCOMPARE(capture.Text(), baMessage);
    QCOMPARE(Record(framer.parser, baBody), aExpected);
    const bool bStatus = baBody.startsWith("PFLAU");
    const uint32_t uiTimeMs =
        bStatus ? framer.parser.flarmStatus.uiTimeMs : framer.parser.flarmTarget.uiTimeMs;
    if (uiCode != 0)
        QVERIFY(uiTimeMs - uiBeforeMs < 1000u);
}

void TestFlarmSentences::StoredTexts_data() {
    QTest::addColumn<QByteArray>("baBody");
    QTest::addColumn<uint>("uiCode");
    QTest::addColumn<QByteArray>("baMessage");
    QTest::addColumn<QByteArrayList>("aChanges"); // name=value of every member that changes

    const auto Row = [](const char* pszName, const QByteArray& baBody, uint uiCode, const char* pszMessage,
                        const QByteArrayList& aChanges) {
        QTest::newRow(pszName) << baBody << uiCode << QByteArray(pszMessage) << aChanges;
    };
    Row("hardware version", "PFLAC,A,HWVER,2.1", 8, "Flarm HW: 2.1\n", {"szHwVersion=2.1"});
    Row("software version cut", "PFLAC,A,SWVER,7.20beta", 8, "", {"szSwVersion=7.20be"});
    Row("serial cut", "PFLAC,A,SER,1234567890123", 8, "", {"szSerial=1234567890"});
    Row("longer key word", "PFLAC,A,SERIAL,99", 8, "", {"szSerial=99"});
    Row("obstacle database", "PFLAC,A,OBSTDB,0,1,Switzerland-Alps-2024,2024-12", 8, "",
        {"szObstDb1=Switzerland-Alps-2", "szObstDb2=2024-12"});
    Row("obstacle expiry", "PFLAC,A,OBSTEXP,2025-12-31", 8, "", {"szObstExpiry=2025-12-31"});
    Row("privacy", "PFLAC,A,PRIV,1", 8, "Flarm privacy: 1\n", {"iPrivacy=1"});
    Row("set request stored alike", "PFLAC,S,PRIV,0", 8, "Flarm privacy: 0\n", {"bAnswer=0", "iPrivacy=0"});
    Row("frequency", "PFLAC,A,FREQ,868", 8, "Flarm frequency: 68\n", {"iFrequency=68"});
    Row("negative frequency", "PFLAC,A,FREQ,-5", 8, "Flarm frequency: -5\n", {"iFrequency=-5"});
    Row("radio ID cut", "PFLAC,A,RADIOID,2,DDA85C12", 8, "Flarm RadioID: DDA85C12\n", {"szRadioId=DDA85C"});
    Row("unknown key", "PFLAC,R,ACFT,8", 8, "", {"bAnswer=0"});
    Row("PFLAC empty", "PFLAC", 8, "", {"bAnswer=0"});
    Row("PFLAC 24 fields", "PFLAC,A,OBSTDB" + QByteArray(",XY").repeated(21), 8, "",
        {"szObstDb1=XY", "szObstDb2=XY"});

    Row("new error", "PFLAE,A,2,11,Software expiry", 9,
        "PFLAE received\nErr: 17/0x11, Sev: 2, Msg:Software expiry\n",
        {"iSeverity=2", "uiErrorCode=17", "szMessage=Software expiry", "bErrorHandled=0"});
    Row("error code and message cut", "PFLAE,A,3,1F0042," + QByteArray("m").repeated(45), 9,
        "PFLAE received\nErr: 66/0x1F0042, Sev: 3, Msg:" + QByteArray("m").repeated(40) + "\n",
        {"iSeverity=3", "uiErrorCode=66", "szMessage=" + QByteArray("m").repeated(40), "bErrorHandled=0"});
    Row("severity 0", "PFLAE,A,0,11,No error", 9, "PFLAE received\n", {});
    Row("PFLAE empty", "PFLAE", 9, "PFLAE received\n", {});
    Row("PFLAE 24 fields", Longest("PFLAE", "9"), 9, "PFLAE received\nErr: 9/0x9, Sev: 9, Msg:9\n",
        {"iSeverity=9", "uiErrorCode=9", "szMessage=9", "bErrorHandled=0"});

    Row("log line", "PFLAL,Start of log", 10, "PFLAL received\n", {"szPflalText=Start of log"});
    Row("log line cut", "PFLAL," + QByteArray("L").repeated(100), 10, "PFLAL received\n",
        {"szPflalText=" + QByteArray("L").repeated(82)});
    Row("PFLAL empty", "PFLAL", 10, "PFLAL received\n", {"szPflalText="});

    Row("progress only", "PFLAQ,IGCREADOUT,42", 11, "PFLAQ received\n",
        {"szOperation=IGCREADOUT", "szInfo=", "byProgress=42"});
    Row("progress with info", "PFLAQ,OBST,Alps-2024,75", 11, "PFLAQ received\n",
        {"szOperation=OBST", "szInfo=Alps-2024", "byProgress=75"});
    Row("operation and info cut", "PFLAQ,FW-UPDATE-2,Flight-recorder-update-file,300", 11, "PFLAQ received\n",
        {"szOperation=FW-UPDATE-", "szInfo=Flight-recorder-upda", "byProgress=44"});
    Row("PFLAQ empty", "PFLAQ", 11, "PFLAQ received\n", {"szOperation=", "szInfo=", "byProgress=0"});
    Row("PFLAQ 24 fields", Longest("PFLAQ", "7"), 11, "PFLAQ received\n",
        {"szOperation=7", "szInfo=7", "byProgress=7"});
}

// Each row starts from a parser whose texts are long, so that cutting and padding show.
void TestFlarmSentences::StoredTexts() {
    QFETCH(QByteArray, baBody);
    QFETCH(uint, uiCode);
    QFETCH(QByteArray, baMessage);
    QFETCH(QByteArrayList, aChanges);
    BasicNMEA framer;
    {
        StderrCapture quiet;
        for (const char* pszBody :
             {"PFLAC,A,HWVER,HW-9999", "PFLAC,A,SWVER,SW-9999", "PFLAC,A,SER,SER-999999", "PFLAC,A,PRIV,3",
              "PFLAC,A,OBSTDB,1,2,OBSTACLES-0123456789,DB-0123456", "PFLAC,A,OBSTEXP,EXPIRES-99",
              "PFLAC,A,FREQ,33", "PFLAC,A,RADIOID,2,ID-999",
              "PFLAE,A,1,AB,An earlier error with a long message", "PFLAL,An earlier log line that is long",
              "PFLAQ,OPERATIONS,An earlier long info text,99"})
            QVERIFY(Feed(framer, pszBody) != 0);
    }
    QMap<QByteArray, QByteArray> expected = Stored(framer.parser);
    for (const QByteArray& baChange : aChanges) {
        const int iAt = baChange.indexOf('=');
        QVERIFY(expected.contains(baChange.left(iAt)));
        expected[baChange.left(iAt)] = baChange.mid(iAt + 1);
    }

    StderrCapture capture;
    QCOMPARE(Feed(framer, baBody), uiCode);
    QCOMPARE(capture.Text(), baMessage);
    QCOMPARE(Stored(framer.parser), expected);
}

void TestFlarmSentences::PflaeRepeatFilter_data() {
    QTest::addColumn<uint>("uiAgeMs");
    QTest::addColumn<QByteArray>("baCode");
    QTest::addColumn<bool>("bStored");

    QTest::newRow("same code at once") << 0u << QByteArray("11") << false;
    QTest::newRow("same code within 30 s") << 29000u << QByteArray("11") << false;
    QTest::newRow("same code after 30 s") << 30001u << QByteArray("11") << true;
    QTest::newRow("other code at once") << 0u << QByteArray("12") << true;
}

// The last error's time stamp is set back instead of waiting.
void TestFlarmSentences::PflaeRepeatFilter() {
    QFETCH(uint, uiAgeMs);
    QFETCH(QByteArray, baCode);
    QFETCH(bool, bStored);
    BasicNMEA framer;
    common::FlarmError& error = framer.parser.flarmError;
    error.iSeverity = 2;
    error.uiErrorCode = 0x11;
    strcpy(error.szMessage, "old");
    error.bErrorHandled = 1;
    error.uiTimeMs = common::TimeOfDayMs() - uiAgeMs;

    StderrCapture capture;
    QCOMPARE(Feed(framer, "PFLAE,A,3," + baCode + ",new"), 9u);
    const QByteArray baStoredLine =
        "Err: " + QByteArray::number(baCode.toInt(nullptr, 16)) + "/0x" + baCode + ", Sev: 3, Msg:new\n";
    QCOMPARE(capture.Text(), "PFLAE received\n" + (bStored ? baStoredLine : QByteArray()));
    QCOMPARE(QByteArray(error.szMessage), bStored ? QByteArray("new") : QByteArray("old"));
    QCOMPARE(int(error.bErrorHandled), bStored ? 0 : 1);
    QCOMPARE(int(error.iSeverity), bStored ? 3 : 2);
}

QTEST_GUILESS_MAIN(TestFlarmSentences)
#include "test_flarm_sentences.moc"
