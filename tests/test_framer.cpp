// The framer fed as the port reader feeds it: byte by byte, with noise, limits and broken checksums.
#include "StderrCapture.h"
#include "framing/AppendChecksum.h"
#include "framing/BasicNMEA.h"

#include <QRandomGenerator>
#include <QStringList>
#include <QtTest>

namespace {

// Records every sentence that passes the checksum, as its fields joined by "|".
class RecordingFramer : public BasicNMEA {
public:
    void OnSentence() override {
        QStringList fields;
        for (int i = 0; i < byFieldCount; ++i)
            fields << QString::fromLatin1(acSentence + abyFieldStart[i]);
        sentences << fields.join('|');
        BasicNMEA::OnSentence();
    }
    QStringList sentences;
};

QByteArray WithChecksum(const QByteArray& baBody, char cStart = '$') {
    char acBuf[1024];
    snprintf(acBuf, sizeof acBuf, "%c%s", cStart, baBody.constData());
    AppendChecksum(acBuf);
    return QByteArray(acBuf);
}

QByteArray Feed(RecordingFramer& framer, const QByteArray& baBytes) {
    StderrCapture capture;
    for (char c : baBytes)
        framer.ProcessByte(static_cast<uint8_t>(c));
    return capture.Text();
}

// A body of exactly iChars characters, "VNX" followed by filler.
QByteArray BodyOfLength(int iChars) {
    return QByteArray("VNX").append(QByteArray(iChars - 3, 'a'));
}

} // namespace

class TestFramer : public QObject {
    Q_OBJECT

private slots:
    void Frames_data();
    void Frames();
    void LastCodeOnlyOnCompletingByte();
    void RandomBytesStayInBounds();
    void AppendChecksum_data();
    void AppendChecksum();
};

void TestFramer::Frames_data() {
    QTest::addColumn<QByteArray>("baInput");
    QTest::addColumn<QStringList>("expectedSentences");
    QTest::addColumn<QByteArray>("expectedStderr");

    const QByteArray baReq = WithChecksum("VNREQ,0");
    QTest::newRow("plain sentence") << baReq << QStringList{"$VNREQ|0"} << QByteArray();
    QTest::newRow("noise before, CR LF after")
        << QByteArray("\r\nxyz\x01\xff").append(baReq) << QStringList{"$VNREQ|0"} << QByteArray();
    QTest::newRow("two sentences in one read") << WithChecksum("VNREQ,0") + WithChecksum("VNREQ,1")
                                               << QStringList{"$VNREQ|0", "$VNREQ|1"} << QByteArray();
    QTest::newRow("bang start") << WithChecksum("VNREQ,0", '!') << QStringList{"!VNREQ|0"} << QByteArray();
    QTest::newRow("dollar mid-sentence restarts")
        << QByteArray("$VNINFO2,Tov").append(baReq) << QStringList{"$VNREQ|0"} << QByteArray();
    QTest::newRow("bang mid-sentence is data")
        << WithChecksum("VNREQ,!5") << QStringList{"$VNREQ|!5"} << QByteArray();
    QTest::newRow("lower-case checksum digits")
        << QByteArray("$abc*60$abc*6a$aJ*2b") << QStringList{"$abc", "$aJ"}
        << QByteArray("NMEA CRC error 106-96.\n");
    QTest::newRow("empty fields") << WithChecksum("VNREQ,,,") << QStringList{"$VNREQ|||"} << QByteArray();
    QTest::newRow("only the start character") << QByteArray("$*00") << QStringList{"$"} << QByteArray();
    QTest::newRow("bad checksum: received then computed")
        << QByteArray("$abc*61\r\n") << QStringList{} << QByteArray("NMEA CRC error 97-96.\n");
    QTest::newRow("dollar as checksum digit is a digit of value 255")
        << QByteArray("$abc*6$abc*60\r\n") << QStringList{} << QByteArray("NMEA CRC error 95-96.\n");
    // 0xA1 ^ 0x51 = 0xF0: "G0" and "F0" both read as 0xF0.
    QTest::newRow("non-hex high digit reads as F")
        << QByteArray("$\xA1Q*G0$\xA1Q*F0")
        << QStringList{QString::fromLatin1("$\xA1Q"), QString::fromLatin1("$\xA1Q")} << QByteArray();
    QTest::newRow("NUL in the body ends its field early")
        << QByteArray("$ab\0c*60", 8) << QStringList{"$ab"} << QByteArray();

    QTest::newRow("118 body characters")
        << WithChecksum(BodyOfLength(118)) << QStringList{"$" + QString(BodyOfLength(118))} << QByteArray();
    QTest::newRow("119 body characters") << WithChecksum(BodyOfLength(119)) + baReq << QStringList{"$VNREQ|0"}
                                         << QByteArray("NMEA size error.\n");

    const QByteArray baCommas23 = "VNX" + QByteArray(23, ',');
    QStringList fields24{"$VNX"};
    for (int i = 0; i < 23; ++i)
        fields24 << QString();
    QTest::newRow("23 commas, 24 fields")
        << WithChecksum(baCommas23) << QStringList{fields24.join('|')} << QByteArray();
    QTest::newRow("24th comma drops the rest of the line")
        << WithChecksum(baCommas23 + ",x") + baReq << QStringList{"$VNREQ|0"}
        << QByteArray("NMEA field count error\n");
    // The 24th comma is also the 119th body character: both limits trip on the same byte.
    QTest::newRow("both limits on one byte")
        << WithChecksum(QByteArray(95, 'a') + QByteArray(24, ',')) << QStringList{}
        << QByteArray("NMEA field count error\nNMEA size error.\n");
}

void TestFramer::Frames() {
    QFETCH(QByteArray, baInput);
    QFETCH(QStringList, expectedSentences);
    QFETCH(QByteArray, expectedStderr);

    RecordingFramer framer;
    QCOMPARE(Feed(framer, baInput), expectedStderr);
    QCOMPARE(framer.sentences, expectedSentences);
    QCOMPARE(framer.uiState, uint32_t(BasicNMEA::Idle));
}

void TestFramer::LastCodeOnlyOnCompletingByte() {
    RecordingFramer framer;
    const QByteArray baStream = WithChecksum("VNREQ,0");
    StderrCapture capture;
    for (int i = 0; i < baStream.size(); ++i) {
        framer.ProcessByte(static_cast<uint8_t>(baStream[i]));
        const bool bCompleting = i == baStream.size() - 3; // second checksum digit, before CR LF
        QCOMPARE(framer.uiLastCode, bCompleting ? 23u : 0u);
    }
    QCOMPARE(capture.Text(), QByteArray());
}

void TestFramer::RandomBytesStayInBounds() {
    // Mostly separators and start characters, so the limits and restarts are hit often.
    static const char kAlphabet[] = "$!*,,,,,aZ09\r\n";
    QRandomGenerator random(20261206);
    RecordingFramer framer;
    StderrCapture capture;
    for (int i = 0; i < 200000; ++i) {
        const uint8_t byChar = random.bounded(4) == 0 ? static_cast<uint8_t>(random.bounded(256))
                                                      : static_cast<uint8_t>(kAlphabet[random.bounded(14)]);
        framer.ProcessByte(byChar);
        QVERIFY(framer.byLength < BasicNMEA::kMaxLength);
        QVERIFY(framer.byFieldCount <= BasicNMEA::kMaxFields);
        QVERIFY(framer.uiState <= BasicNMEA::ChecksumLow);
    }
    QVERIFY(!framer.sentences.isEmpty());
}

void TestFramer::AppendChecksum_data() {
    QTest::addColumn<QByteArray>("baText");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty stays empty") << QByteArray() << QByteArray();
    QTest::newRow("start character only") << QByteArray("$") << QByteArray("$*00\r\n");
    QTest::newRow("abc") << QByteArray("$abc") << QByteArray("$abc*60\r\n");
    QTest::newRow("start character is skipped whatever it is")
        << QByteArray("Xabc") << QByteArray("Xabc*60\r\n");
    QTest::newRow("identity request") << QByteArray("$VNREQ,0") << QByteArray("$VNREQ,0*42\r\n");
    QTest::newRow("upper-case digits") << QByteArray("$VNREQ,39") << QByteArray("$VNREQ,39*78\r\n");
}

void TestFramer::AppendChecksum() {
    QFETCH(QByteArray, baText);
    QFETCH(QByteArray, expected);
    char acBuf[32];
    memset(acBuf, 'x', sizeof acBuf);
    memcpy(acBuf, baText.constData(), static_cast<size_t>(baText.size()) + 1);
    ::AppendChecksum(acBuf);
    QCOMPARE(QByteArray(acBuf), expected);
    // Nothing is written beyond the new terminator.
    QCOMPARE(acBuf[expected.size() + 1], 'x');
}

QTEST_APPLESS_MAIN(TestFramer)
#include "test_framer.moc"
