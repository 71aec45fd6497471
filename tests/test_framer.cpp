// The framer fed as the port reader feeds it: byte by byte, with noise, limits and broken checksums; and
// the checksum and CRC of what the tool sends.
#include "SentenceFeed.h"
#include "StderrCapture.h"
#include "framing/Crc16.h"

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

} // namespace

class TestFramer : public QObject {
    Q_OBJECT

private slots:
    void Frames_data();
    void Frames();
    void RandomBytesStayInBounds();
    void AppendChecksum_data();
    void AppendChecksum();
    void Crc16_data();
    void Crc16();
};

void TestFramer::Frames_data() {
    const DataTable<QByteArray, QStringList, QByteArray> Row(
        {"baInput", "expectedSentences", "expectedStderr"});
    const QByteArray baReq = Framed("VNREQ,0");
    const QByteArray baBody118 = "VNX" + QByteArray(115, 'a');
    const QByteArray baCommas23 = "VNX" + QByteArray(23, ',');

    Row("noise, then two sentences", "\r\nxyz\x01\xff" + baReq + Framed("!VNREQ,1"), {"$VNREQ|0", "!VNREQ|1"},
        "");
    Row("dollar mid-sentence restarts", "$VNINFO2,Tov" + baReq, {"$VNREQ|0"}, "");
    Row("bang mid-sentence is data", Framed("VNREQ,!5"), {"$VNREQ|!5"}, "");
    // The message gives the received checksum, then the computed one.
    Row("lower-case checksum digits", "$abc*60$abc*6a$aJ*2b", {"$abc", "$aJ"}, "NMEA CRC error 106-96.\n");
    Row("non-hex checksum digit counts 255, dollar included", "$abc*6$abc*60\r\n", {},
        "NMEA CRC error 95-96.\n");
    Row("118 body characters", Framed(baBody118), {"$" + baBody118}, "");
    Row("119 body characters", Framed(baBody118 + "a") + baReq, {"$VNREQ|0"}, "NMEA size error.\n");
    Row("23 commas, 24 empty fields", Framed(baCommas23), {"$VNX" + QString("|").repeated(23)}, "");
    Row("24th comma drops the rest of the line", Framed(baCommas23 + ",x") + baReq, {"$VNREQ|0"},
        "NMEA field count error\n");
    // The 24th comma is also the 119th body character: both limits trip on the same byte.
    Row("both limits on one byte", Framed(QByteArray(95, 'a') + QByteArray(24, ',')), {},
        "NMEA field count error\nNMEA size error.\n");
}

void TestFramer::Frames() {
    QFETCH(QByteArray, baInput);
    QFETCH(QStringList, expectedSentences);
    RecordingFramer framer;
    StderrCapture capture;
    for (char c : baInput)
        framer.ProcessByte(static_cast<uint8_t>(c));
    QTEST(capture.Text(), "expectedStderr");
    QCOMPARE(framer.sentences, expectedSentences);
    QCOMPARE(framer.uiState, uint32_t(BasicNMEA::Idle));
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
    QTest::addColumn<QByteArray>("baExpected");
    QTest::newRow("empty stays empty") << QByteArray() << QByteArray();
    QTest::newRow("start character is skipped whatever it is")
        << QByteArray("Xabc") << QByteArray("Xabc*60\r\n");
    QTest::newRow("upper-case digits") << QByteArray("$VNREQ,40,0") << QByteArray("$VNREQ,40,0*6A\r\n");
}

void TestFramer::AppendChecksum() {
    QFETCH(QByteArray, baText);
    QFETCH(QByteArray, baExpected);
    char acBuf[32];
    memset(acBuf, 'x', sizeof acBuf);
    memcpy(acBuf, baText.constData(), static_cast<size_t>(baText.size()) + 1);
    ::AppendChecksum(acBuf);
    QCOMPARE(QByteArray(acBuf), baExpected);
    QCOMPARE(acBuf[baExpected.size() + 1], 'x'); // nothing written past the new terminator
}

// The firmware chunks' CRC-16/XMODEM: the catalogue's check value and two entries of the table.
void TestFramer::Crc16_data() {
    QTest::addColumn<QByteArray>("baData");
    QTest::addColumn<int>("iCrc");
    QTest::newRow("check value") << QByteArray("123456789") << 0x31C3;
    QTest::newRow("table entry 1") << QByteArray(1, '\x01') << 0x1021;
    QTest::newRow("table entry 255") << QByteArray(1, '\xFF') << 0x1EF0;
    QTest::newRow("512 zeros") << QByteArray(512, '\0') << 0x0000;
}

void TestFramer::Crc16() {
    QFETCH(QByteArray, baData);
    const uint8_t* pbyData = reinterpret_cast<const uint8_t*>(baData.constData());
    QTEST(int(CalcCrc16Xmodem(pbyData, static_cast<uint32_t>(baData.size()))), "iCrc");
}

QTEST_APPLESS_MAIN(TestFramer)
#include "test_framer.moc"
