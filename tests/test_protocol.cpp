// The protocol library's units: the framer fed as the port reader feeds it, the checksum and CRC of what
// the tool sends, which identifier reaches which handler, the field converters, the parser's clock and
// its stamps, day numbers and the display texts.
#include "SentenceFeed.h"
#include "common/Formats.h"
#include "common/TimeOfDay.h"
#include "framing/AppendChecksum.h"
#include "framing/Crc16.h"

#include <QDate>
#include <QRandomGenerator>
#include <QtTest>

#include <limits>

using namespace common;

namespace {

// Records every sentence that passes the checksum, as its fields joined by "|".
class RecordingFramer : public BasicNMEA {
public:
    void OnSentence() override {
        QByteArrayList aFields;
        for (int i = 0; i < byFieldCount; ++i)
            aFields << acSentence + abyFieldStart[i];
        asSentences << QString::fromLatin1(aFields.join('|'));
        BasicNMEA::OnSentence();
    }
    QStringList asSentences;
};

constexpr quint32 kSeed = 20261206;

} // namespace

class TestProtocol : public QObject {
    Q_OBJECT

private slots:
    // Five hours and 45 minutes east of UTC, set before any clock first looks at the zone.
    void initTestCase() {
        setenv("TZ", "VNT-5:45", 1);
        QCOMPARE(QDateTime::currentDateTime().offsetFromUtc(), 5 * 3600 + 45 * 60);
    }
    void Frames_data();
    void Frames();
    void Crc16();
    void Dispatch_data();
    void Dispatch();
    void TraceAndStamps();
    void Units_data();
    void Units();
    void ClockMatchesQTime();
    void DaysAgreeWithQDate();
};

void TestProtocol::Frames_data() {
    const DataTable<QByteArray, QStringList, QByteArray> Row({"baInput", "asSentences", "baStderr"});
    const QByteArray baReq = Framed("VNREQ,0");
    const QByteArray baBody118 = "VNX" + QByteArray(115, 'a');
    const QByteArray baCommas23 = "VNX" + QByteArray(23, ',');

    Row("noise, then two sentences", "\r\nxyz\x01\xff" + baReq + Framed("!VNREQ,1"), {"$VNREQ|0", "!VNREQ|1"},
        "");
    Row("dollar mid-sentence restarts", "$VNINFO2,Tov" + baReq, {"$VNREQ|0"}, "");
    Row("bang mid-sentence is data", Framed("VNREQ,!5"), {"$VNREQ|!5"}, "");
    // The message gives the received checksum, then the computed one.
    Row("lower-case checksum digits", "$abc*60$abc*6a$aJ*2b$aN*2f", {"$abc", "$aJ", "$aN"},
        "NMEA CRC error 106-96.\n");
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

void TestProtocol::Frames() {
    QFETCH(QByteArray, baInput);
    RecordingFramer framer;
    StderrCapture capture;
    int iCodes = 0;
    for (char c : baInput) {
        const int iSentences = framer.asSentences.size();
        framer.ProcessByte(static_cast<uint8_t>(c));
        // Only the byte that completes a taken sentence leaves its code.
        QCOMPARE(framer.uiLastCode != 0, framer.asSentences.size() > iSentences && framer.uiLastCode != 0);
        iCodes += framer.uiLastCode != 0;
    }
    QTEST(capture.Text(), "baStderr");
    QTEST(framer.asSentences, "asSentences");
    QCOMPARE(iCodes, int(framer.asSentences.filter("VNREQ").size()));
    QCOMPARE(framer.uiState, uint32_t(BasicNMEA::Idle));
}

// The firmware chunks' CRC-16/XMODEM: the catalogue's check value, then the simulated instrument's own
// bitwise CRC over every prefix of random bytes.
void TestProtocol::Crc16() {
    QCOMPARE(CalcCrc16Xmodem(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x31C3);
    QRandomGenerator random(kSeed);
    uint8_t abyData[600];
    random.fillRange(reinterpret_cast<quint32*>(abyData), sizeof abyData / 4);
    for (uint32_t uiLen = 0; uiLen <= sizeof abyData; ++uiLen)
        QVERIFY2(CalcCrc16Xmodem(abyData, uiLen) == sim::Crc16Xmodem(abyData, uiLen),
                 qPrintable(QString("%1 bytes of seed %2").arg(uiLen).arg(kSeed)));
}

void TestProtocol::Dispatch_data() {
    // The message of a sentence not taken, or nothing.
    const DataTable<QByteArray, uint, QByteArray> Row({"baText", "uiCode", "baMessage"});
    const auto Fields = [](int iCount) { return QByteArray(",1").repeated(iCount - 1); };

    for (int i = 0; i < facts::kDispatchCount; ++i) {
        const facts::DispatchFact& fact = facts::kaDispatch[i];
        // A fact compares all of its characters and no more: the text with a character added still
        // matches, the text one character short does not.
        const QByteArray baId(fact.pszId);
        Row(baId + "X", baId + "X" + Fields(fact.byMinFields), fact.uiCode, "");
        Row(baId + " cut short", baId.chopped(1) + Fields(fact.byMinFields), CodeNone, "");
        // The framer passes on at most 24 fields.
        for (int iFields = 1; iFields <= BasicNMEA::kMaxFields; ++iFields) {
            const bool bTaken = fact.TakesFieldCount(iFields);
            const QByteArray baMessage = bTaken || fact.pszRefusal == nullptr
                                             ? QByteArray()
                                             : fact.pszRefusal + QByteArray(" invalid field count ") +
                                                   QByteArray::number(iFields) + ".\n";
            Row(baId + " with " + QByteArray::number(iFields) + " fields", baId + Fields(iFields),
                bTaken ? fact.uiCode : uint(CodeNone), baMessage);
        }
    }
    Row("case matters: vnreq", "vnreq,0", CodeNone, "");
    Row("mixed-constellation GSV", "GNGSV,1,1,04,01,02,003,04,05,06,007,08,09,10,011,12,13,14,015,16",
        CodeNone, "");
}

void TestProtocol::Dispatch() {
    QFETCH(QByteArray, baText);
    QFETCH(uint, uiCode);
    BasicNMEA framer;
    StderrCapture capture;
    QCOMPARE(FeedSentence(framer, baText), uiCode);
    // A sentence that is not taken says why, or nothing.
    if (uiCode == 0)
        QTEST(capture.Text(), "baMessage");
}

// The trace lists the fields with their offsets. Any sentence, taken or not, stamps the parse time, and
// FLARM's status and target take it too; the moment the GPS went missing stays until it is back.
void TestProtocol::TraceAndStamps() {
    BasicNMEA framer;
    FlarmStatus& status = framer.parser.flarmStatus;
    framer.parser.bDebug = true;
    StderrCapture capture;
    const uint32_t uiBeforeMs = TimeOfDayMs();
    // Stamped between the start and now, however slow the machine.
    const auto Stamped = [uiBeforeMs](uint32_t uiStampMs) {
        return facts::MsBetween(uiBeforeMs, uiStampMs) <= facts::MsBetween(uiBeforeMs, TimeOfDayMs());
    };
    QCOMPARE(FeedSentence(framer, "VNREQ,200,,5"), CodeRequest);
    QCOMPARE(capture.Text(), QByteArray("ParseNMEA begin\nFC 4\n0-0 $VNREQ\n1-7 200\n2-11 <0>\n3-12 5\n"));
    QVERIFY(Stamped(framer.parser.uiLastSentenceMs));
    framer.parser.bDebug = false;
    status.uiGpsLostMs = 12345;
    QCOMPARE(FeedSentence(framer, "PFLAU,0,1,0,1,0,,0,,,"), CodePflau);
    QCOMPARE(status.uiGpsLostMs, 12345u);
    QCOMPARE(FeedSentence(framer, "PFLAU,0,1,2,1,0,,0,,,"), CodePflau);
    QCOMPARE(status.uiGpsLostMs, 0u);
    QCOMPARE(FeedSentence(framer, "PFLAU,0,1,0,1,0,,0,,,"), CodePflau);
    QCOMPARE(FeedSentence(framer, "PFLAA,1,-500,,100,1,4B1234,,,,,8"), CodePflaa);
    framer.parser.uiLastSentenceMs -= 5000;
    QCOMPARE(FeedSentence(framer, "XYZZY"), CodeNone);
    for (const uint32_t uiStampMs : {framer.parser.uiLastSentenceMs, status.uiGpsLostMs, status.uiTimeMs,
                                     framer.parser.flarmTarget.uiTimeMs})
        QVERIFY(Stamped(uiStampMs));
}

void TestProtocol::Units_data() {
    // The field converters: i: ParseInt with default iArg; h: ParseHex, with "0x" if iArg; t: ParseTime;
    // f: ParseFloat to nine digits, which tells every float apart; c: ParseCoordinate of iArg degree digits,
    // in degrees, "_" standing for the field's end. The display texts: F: FormatFixed with iArg decimals;
    // d: FormatDate of a day number, p: of a packed logbook time, in format iArg; T: FormatTime of seconds,
    // iArg 1 adding the leading zero and 2 the seconds; n: the IGC file name of 17 May 2024 for the serial
    // and flight iArg, N: of the day number for serial 1000; k: the input with AppendChecksum.
    const DataTable<char, QByteArray, int, QByteArray> Row({"cUnit", "baInput", "iArg", "baExpected"});

    Row("int: lone minus", 'i', "-", 5, "5");
    Row("int: spaces, sign and tail", 'i', "  -12x", 5, "-12");
    Row("int: all six white spaces, plus", 'i', " \t\n\v\f\r+42", 5, "42");
    Row("int: top-bit byte is no digit", 'i', "\xb5", 5, "5");
    Row("int: lowest", 'i', "-2147483648", 5, "-2147483648");
    Row("int: wraps past 2^32", 'i', "4294967297", 5, "1");
    Row("hex: mixed case, stops at G", 'h', "1A2bG3", 0, "6699");
    Row("hex: no digit", 'h', "-1", 0, "0");
    Row("hex: wraps past 32 bits", 'h', "123456789", 0, "591751049");
    Row("hex: capital prefix", 'h', "0X1f", 1, "31");
    Row("hex: prefix missing", 'h', "10", 1, "0");
    Row("time: h:m:s", 't', "1:02:03", 0, "3723");
    Row("time: sixty minutes accepted", 't', "0:60:00", 0, "3600");
    Row("time: 61 minutes", 't', "0:61:00", 0, "-1");
    Row("time: 60 seconds", 't', "0:00:60", 0, "-1");
    Row("time: h:m", 't', "1:30", 0, "5400");
    Row("time: h:m with 61 minutes", 't', "1:61", 0, "-1");
    Row("time: no colon", 't', "12", 0, "-1");
    Row("time: three colons", 't', "1:2:3:4", 0, "-1");
    Row("time: leading space", 't', " 1:02:03", 0, "-1");
    Row("time: largest", 't', "596523:14:07", 0, "2147483647");
    Row("time: one second too many", 't', "596523:14:08", 0, "-1");
    // 2^64 + 5 seconds: a number read on past 64 bits would come back as 5.
    Row("time: seconds past 64 bits", 't', "0:00:18446744073709551621", 0, "-1");
    Row("float: negative", 'f', "-0.25", 0, "-0.25");
    Row("float: decimal comma", 'f', ",5", 0, "0.5");
    Row("float: exponent", 'f', "1.5E2", 0, "150");
    Row("float: negative exponent", 'f', "2e-1", 0, "0.200000003");
    Row("float: space after exponent letter", 'f', "1e 2", 0, "100");
    Row("float: exponent without digits", 'f', "3E", 0, "3");
    Row("float: spaces, sign and tail", 'f', "  +4.75xyz", 0, "4.75");
    Row("float: integer part above 2^31", 'f', "4294967295", 0, "4.2949673e+09");
    Row("float: long fraction", 'f', "0.1234567890123456789012345", 0, "0.123456791");
    Row("float: zero with huge exponent", 'f', "0e99", 0, "0");
    Row("float: exponent does not wrap", 'f', "1e4294967297", 0, "inf");
    Row("degrees only", 'c', "48", 2, "48.00000");
    Row("cut inside the degrees", 'c', "4_30.0", 2, "4.00000");

    Row("rounds up into the integer", 'F', "9.96", 1, "10.0");
    Row("zero has no sign", 'F', "0", 1, "0.0");
    Row("negative below one", 'F', "-0.05", 2, "-0.05");
    Row("zero-padded fraction", 'F', "1.05", 3, "1.050");
    Row("half up", 'F', "2.5", 0, "3");
    Row("negative half toward plus", 'F', "-2.5", 0, "-2");
    Row("negative rounds down", 'F', "-2.6", 0, "-3");
    Row("negative half away from zero", 'F', "-1250", -2, "-1300");
    // Out of range of "%d": saturated instead of an undefined conversion.
    Row("huge with decimals", 'F', "1e10", 1, "2147483647.0");
    Row("huge negative, no decimals", 'F', "-1e10", 0, "-2147483647");
    Row("infinity in hundreds", 'F', "inf", -2, "2147483647");
    Row("NaN", 'F', "nan", 2, "0.00");
    Row("power beyond float", 'F', "5", std::numeric_limits<int>::min(), "0");
    Row("decimals capped at nine", 'F', "0.5", 12, "0.500000000");
    Row("full year", 'd', "2460448", 1, "17.05.2024");
    Row("format 2", 'd', "2460448", 2, "Inv. fmt");
    Row("padded two-digit year", 'd', QByteArray::number(QDate(2005, 1, 1).toJulianDay()), 0, "01.01.05");
    Row("packed 17 May 2024 13:45:10", 'p', "1954763110", 1, "17.05.2024");
    Row("packed last second of 2099", 'p', "3594239999", 1, "31.12.2099");
    // The packing allows month 0 and day 0; they roll back into the month and year before.
    Row("packed month and day 0", 'p', "2073600", 1, "30.11.2023");
    Row("h:mm", 'T', "3900", 0, "1:05");
    Row("hh:mm", 'T', "3900", 1, "01:05");
    Row("h:mm:ss", 'T', "3723", 2, "1:02:03");
    Row("hh:mm:ss", 'T', "3723", 3, "01:02:03");
    Row("largest duration", 'T', "4294967295", 2, "1193046:28:15");
    Row("IGC name", 'n', "12345", 1, "2024-05-17-VNK-9IX-01.igc");
    Row("IGC three-digit flight number", 'n', "35", 255, "2024-05-17-VNK-00Z-255.igc");
    Row("IGC five-digit year", 'N', QByteArray::number(QDate(10000, 1, 1).toJulianDay()), 7,
        "10000-01-01-VNK-0RS-07.igc");
    // The serial's last three base-36 digits name the instrument.
    Row("IGC largest serial of three digits", 'n', "46655", 1, "2024-05-17-VNK-ZZZ-01.igc");
    Row("IGC 32-bit serial", 'n', "4294967295", 1, "2024-05-17-VNK-1Z3-01.igc");
    Row("checksum of empty text: none", 'k', "", 0, "");
    Row("checksum skips the start character, whatever it is", 'k', "Xabc", 0, "Xabc*60\r\n");
    Row("checksum in upper-case digits", 'k', "$VNREQ,40,0", 0, "$VNREQ,40,0*6A\r\n");
}

void TestProtocol::Units() {
    QFETCH(char, cUnit);
    QFETCH(QByteArray, baInput);
    QFETCH(int, iArg);
    const uint32_t uiInput = baInput.toUInt();
    baInput.replace('_', '\0');
    const char* pszText = baInput.constData();
    QByteArray baResult;
    if (cUnit == 'i')
        baResult = QByteArray::number(ParseInt(pszText, iArg));
    else if (cUnit == 'h')
        baResult = QByteArray::number(ParseHex(pszText, iArg != 0));
    else if (cUnit == 't')
        baResult = QByteArray::number(ParseTime(pszText));
    else if (cUnit == 'f')
        baResult = QByteArray::number(ParseFloat(pszText), 'g', 9);
    else if (cUnit == 'c')
        baResult =
            QByteArray::number(double(ParseCoordinate(pszText, uint8_t(iArg))) / double(kfDegToRad), 'f', 5);
    else if (cUnit == 'F')
        baResult = FormatFixed(baInput.toFloat(), iArg);
    else if (cUnit == 'T')
        baResult = FormatTime(uiInput, iArg & 2, iArg & 1);
    else if (cUnit == 'n' || cUnit == 'N')
        baResult =
            FormatIGCFileName(cUnit == 'n' ? 2460448 : uiInput, uint8_t(iArg), cUnit == 'n' ? uiInput : 1000);
    else if (cUnit == 'k') {
        char acBuf[32];
        memset(acBuf, 'x', sizeof acBuf);
        memcpy(acBuf, pszText, static_cast<size_t>(baInput.size()) + 1);
        ::AppendChecksum(acBuf);
        baResult = acBuf;
        QCOMPARE(acBuf[baResult.size() + 1], 'x'); // nothing written past the new terminator
    } else
        baResult = FormatDate(cUnit == 'p' ? PackedTimeToDate(uiInput) : JulianDate(uiInput), iArg);
    QTEST(baResult, "baExpected");
}

// Both count the same wall clock in whole milliseconds, so a reading taken between two readings of QTime
// lies between them; a zone mistake or a wrong rounding does not.
void TestProtocol::ClockMatchesQTime() {
    for (int i = 0; i < 20000; ++i) {
        const int iBefore = QTime::currentTime().msecsSinceStartOfDay();
        const int iNow = static_cast<int>(TimeOfDayMs());
        const int iAfter = QTime::currentTime().msecsSinceStartOfDay();
        if (iAfter < iBefore)
            continue; // midnight passed
        QVERIFY2(iNow >= iBefore && iNow <= iAfter,
                 qPrintable(QStringLiteral("%1 outside %2..%3").arg(iNow).arg(iBefore).arg(iAfter)));
    }
}

void TestProtocol::DaysAgreeWithQDate() {
    for (QDate dt(1900, 1, 1); dt.year() <= 2100; dt = dt.addDays(1)) {
        const JulianDate date(dt.year(), dt.month(), dt.day());
        QCOMPARE(qint64(date.uiDayNumber), dt.toJulianDay());
        QCOMPARE((QList<int>{date.Year(), date.Month(), date.Day()}),
                 (QList<int>{dt.year(), dt.month(), dt.day()}));
    }
    // Every 32-bit day number reads back as a real date, far beyond the range where 32-bit steps overflow;
    // 65537 divides 2^32 - 1, so the last step is the largest day number.
    for (uint64_t uiDay = 0; uiDay <= UINT32_MAX; uiDay += 65537) {
        const JulianDate date(static_cast<uint32_t>(uiDay));
        const QDate dt = QDate::fromJulianDay(qint64(uiDay));
        QCOMPARE((QList<int>{date.Year(), date.Month(), date.Day()}),
                 (QList<int>{dt.year(), dt.month(), dt.day()}));
    }
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "test_protocol.moc"
