// The FLARM data port: status and traffic records, bounded texts, the error repeat filter, GPS loss.
#include "SentenceFeed.h"
#include "StderrCapture.h"
#include "common/TimeOfDay.h"

#include <QtTest>

using common::ParserNMEA;

namespace {

// Every value of the FLARM records by name, the status and the target each as one line in member order,
// so that a row can say what it changes and the test can see that nothing else did.
QMap<QByteArray, QByteArray> Stored(const ParserNMEA& p) {
    const common::FlarmStatus& s = p.flarmStatus;
    const common::FlarmTarget& t = p.flarmTarget;
    const common::FlarmConfig& c = p.flarmConfig;
    const common::FlarmError& e = p.flarmError;
    const common::FlarmProgress& q = p.flarmProgress;
    const auto N = [](int i) { return QByteArray::number(i); };
    const auto T = [](const auto& szMember) { return StoredText(szMember); };
    return {
        {"status", QString::asprintf("%u %u %u %u %u %u %d %d %u %X", s.byRx, s.byTx, s.byGps, s.byPower,
                                     s.byAlarmLevel, s.byAlarmType, s.iRelativeBearing, s.iRelativeVertical,
                                     s.uiRelativeDistance, s.uiId)
                       .toLatin1()},
        {"target", QString::asprintf("%u %u %u %d %d %d %u %X %g %g %g", t.byAlarmLevel, t.byIdType,
                                     t.byAircraftType, t.iRelativeNorth, t.iRelativeEast, t.iRelativeVertical,
                                     t.uiTrack, t.uiId, t.fTurnRate, t.fGroundSpeed, t.fClimbRate)
                       .toLatin1()},
        {"szObstDb1", T(c.szObstDb1)},
        {"szObstDb2", T(c.szObstDb2)},
        {"szSerial", T(c.szSerial)},
        {"szSwVersion", T(c.szSwVersion)},
        {"szHwVersion", T(c.szHwVersion)},
        {"iPrivacy", N(c.iPrivacy)},
        {"iFrequency", N(c.iFrequency)},
        {"bAnswer", N(c.bAnswer)},
        {"szRadioId", T(c.szRadioId)},
        {"szObstExpiry", T(c.szObstExpiry)},
        {"iSeverity", N(e.iSeverity)},
        {"uiErrorCode", N(e.uiErrorCode)},
        {"szMessage", T(e.szMessage)},
        {"bErrorHandled", N(e.bErrorHandled)},
        {"szPflalText", T(p.szPflalText)},
        {"szOperation", T(q.szOperation)},
        {"szInfo", T(q.szInfo)},
        {"byProgress", N(q.byProgress)}};
}

} // namespace

class TestFlarmSentences : public QObject {
    Q_OBJECT

private slots:
    void Sentences_data();
    void Sentences();
    void StartValuesGpsLatchAndStamps();
};

void TestFlarmSentences::Sentences_data() {
    // The changes are name=value of every member that changes; the age is how long ago the earlier
    // error came.
    const DataTable<QByteArray, QByteArray, QByteArrayList, uint> Row(
        {"baBody", "baMessage", "aChanges", "uiErrorAgeMs"});
    const QByteArray ba40m(40, 'm');

    Row("PFLAU alarm", "PFLAU,3,1,2,4,5,-30,B,-32,755,DDA85C", "", {"status=3 1 2 4 5 11 -30 -32 755 DDA85C"},
        0);
    Row("PFLAU empty", "PFLAU", "", {"status=0 0 0 0 0 0 999 0 0 0"}, 0);
    Row("PFLAA ID with callsign", "PFLAA,0,-1234,1234,220,2,DDA85C!D-KABC,180,-4.5,30,-1.4,1", "",
        {"target=0 2 1 -1234 1234 220 180 DDA85C -4.5 30 -1.4"}, 0);
    Row("PFLAA without relative east", "PFLAA,1,-500,,100,1,4B1234,,,,,8", "",
        {"target=1 1 20 -500 0 100 0 4B1234 0 0 0"}, 0);
    Row("hardware version cut", "PFLAC,A,HWVER,HW-1.23", "Flarm HW: HW-1.23\n", {"szHwVersion=HW-1.2"}, 0);
    Row("software version cut", "PFLAC,A,SWVER,7.20beta", "", {"szSwVersion=7.20be"}, 0);
    Row("serial cut, longer key word", "PFLAC,A,SERIAL,1234567890123", "", {"szSerial=1234567890"}, 0);
    Row("obstacle database", "PFLAC,A,OBSTDB,0,1,Switzerland-Alps-2024,2024-12", "",
        {"szObstDb1=Switzerland-Alps-2", "szObstDb2=2024-12"}, 0);
    Row("obstacle expiry", "PFLAC,A,OBSTEXP,2025-12-31", "", {"szObstExpiry=2025-12-31"}, 0);
    Row("privacy set request", "PFLAC,S,PRIV,1", "Flarm privacy: 1\n", {"bAnswer=0", "iPrivacy=1"}, 0);
    Row("frequency", "PFLAC,A,FREQ,868", "Flarm frequency: 68\n", {"iFrequency=68"}, 0);
    Row("radio ID cut", "PFLAC,A,RADIOID,2,DDA85C12", "Flarm RadioID: DDA85C12\n", {"szRadioId=DDA85C"}, 0);
    Row("unknown key", "PFLAC,R,ACFT,8", "", {"bAnswer=0"}, 0);
    Row("new error code, message cut", "PFLAE,A,3,1F0042," + ba40m + "mmmmm",
        "PFLAE received\nErr: 66/0x1F0042, Sev: 3, Msg:" + ba40m + "\n",
        {"iSeverity=3", "uiErrorCode=66", "szMessage=" + ba40m, "bErrorHandled=0"}, 0);
    Row("severity 0", "PFLAE,A,0,11,No error", "PFLAE received\n", {}, 0);
    // The unit repeats an active error: the same code within 30 s is not new.
    Row("same error at once", "PFLAE,A,3,AB,new", "PFLAE received\n", {}, 0);
    Row("same error within 30 s", "PFLAE,A,3,AB,new", "PFLAE received\n", {}, 29000);
    Row("same error after 30 s", "PFLAE,A,3,AB,new", "PFLAE received\nErr: 171/0xAB, Sev: 3, Msg:new\n",
        {"iSeverity=3", "szMessage=new", "bErrorHandled=0"}, 30001);
    Row("log line cut", "PFLAL," + QByteArray(100, 'L'), "PFLAL received\n",
        {"szPflalText=" + QByteArray(82, 'L')}, 0);
    Row("PFLAL empty", "PFLAL", "PFLAL received\n", {"szPflalText="}, 0);
    Row("progress only", "PFLAQ,IGCREADOUT,42", "PFLAQ received\n",
        {"szOperation=IGCREADOUT", "szInfo=", "byProgress=42"}, 0);
    Row("operation and info cut", "PFLAQ,FW-UPDATE-2,Flight-recorder-update-file,300", "PFLAQ received\n",
        {"szOperation=FW-UPDATE-", "szInfo=Flight-recorder-upda", "byProgress=44"}, 0);
    Row("PFLAQ empty", "PFLAQ", "PFLAQ received\n", {"szOperation=", "szInfo=", "byProgress=0"}, 0);
}

// Each row starts from full records and long texts, so that a value not replaced, cutting and padding
// show, and from an error 0xAB that the holder has dealt with.
void TestFlarmSentences::Sentences() {
    QFETCH(QByteArray, baBody);
    QFETCH(QByteArrayList, aChanges);
    QFETCH(uint, uiErrorAgeMs);
    BasicNMEA framer;
    {
        StderrCapture quiet;
        for (const char* pszBody :
             {"PFLAU,1,1,1,1,1,1,1,1,1,1", "PFLAA,3,10,20,30,0,ABCDEF,90,1,2,3,9", "PFLAC,A,HWVER,HW-9999",
              "PFLAC,A,SWVER,SW-9999", "PFLAC,A,SER,SER-999999", "PFLAC,A,PRIV,3",
              "PFLAC,A,OBSTDB,1,2,OBSTACLES-0123456789,DB-0123456", "PFLAC,A,OBSTEXP,EXPIRES-99",
              "PFLAC,A,FREQ,33", "PFLAC,A,RADIOID,2,ID-999",
              "PFLAE,A,1,AB,An earlier error with a long message", "PFLAL,An earlier log line that is long",
              "PFLAQ,OPERATIONS,An earlier long info text,99"})
            QVERIFY(FeedSentence(framer, pszBody) != 0);
    }
    framer.parser.flarmError.bErrorHandled = 1;
    framer.parser.flarmError.uiTimeMs -= uiErrorAgeMs;
    QMap<QByteArray, QByteArray> expected = Stored(framer.parser);
    for (const QByteArray& baChange : aChanges) {
        const int iAt = baChange.indexOf('=');
        QVERIFY(expected.contains(baChange.left(iAt)));
        expected[baChange.left(iAt)] = baChange.mid(iAt + 1);
    }

    StderrCapture capture;
    const QMap<QByteArray, common::SentenceCode> kCodes{
        {"PFLAU", common::CodePflau}, {"PFLAA", common::CodePflaa}, {"PFLAC", common::CodePflac},
        {"PFLAE", common::CodePflae}, {"PFLAL", common::CodePflal}, {"PFLAQ", common::CodePflaq}};
    QCOMPARE(FeedSentence(framer, baBody), kCodes.value(baBody.left(5)));
    QTEST(capture.Text(), "baMessage");
    QCOMPARE(Stored(framer.parser), expected);
}

void TestFlarmSentences::StartValuesGpsLatchAndStamps() {
    const uint32_t uiBeforeMs = common::TimeOfDayMs();
    BasicNMEA framer;
    const ParserNMEA& parser = framer.parser;
    common::FlarmStatus& status = framer.parser.flarmStatus;
    // A fresh parser counts the GPS as lost ten seconds ago, and has no configuration or error yet.
    QVERIFY(status.uiGpsLostMs + 10000u - uiBeforeMs < 1000u);
    QCOMPARE(
        (QList<int>{parser.flarmConfig.iPrivacy, parser.flarmConfig.iFrequency, parser.flarmError.iSeverity,
                    parser.flarmError.uiErrorCode, parser.flarmError.bErrorHandled}),
        (QList<int>{-1, -1, -1, 0xFFFF, 1}));

    status.uiGpsLostMs = 12345;
    QCOMPARE(FeedSentence(framer, "PFLAU,0,1,0,1,0,,0,,,"), common::CodePflau);
    QCOMPARE(status.uiGpsLostMs, 12345u); // the first moment stays
    QCOMPARE(FeedSentence(framer, "PFLAU,0,1,2,1,0,,0,,,"), common::CodePflau);
    QCOMPARE(status.uiGpsLostMs, 0u);
    const uint32_t uiLostMs = common::TimeOfDayMs();
    QCOMPARE(FeedSentence(framer, "PFLAU,0,1,0,1,0,,0,,,"), common::CodePflau);
    QVERIFY(status.uiGpsLostMs - uiLostMs < 1000u);
    QVERIFY(status.uiTimeMs - uiLostMs < 1000u);
    QCOMPARE(FeedSentence(framer, "PFLAA,1,-500,,100,1,4B1234,,,,,8"), common::CodePflaa);
    QVERIFY(parser.flarmTarget.uiTimeMs - uiLostMs < 1000u);
}

QTEST_GUILESS_MAIN(TestFlarmSentences)
#include "test_flarm_sentences.moc"
