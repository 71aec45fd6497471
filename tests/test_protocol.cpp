// The protocol library: the framer fed as the port reader feeds it, the checksum and CRC of what the tool
// sends, which identifier reaches which handler, the field converters, the parser's clock and its stamps,
// day numbers, the display texts, and every family of sentences turned into records, with short, overlong
// and stale inputs; and that nothing on the sentence-parsing path allocates.
#include "SentenceFeed.h"
#include "common/Formats.h"
#include "common/TimeOfDay.h"
#include "framing/AppendChecksum.h"
#include "framing/Crc16.h"

#include <QtTest>

#include <cstdlib>
#include <limits>
#include <new>

// For ParsingAllocatesNothing the global allocation functions (and, with glibc, malloc itself) are
// replaced with counting ones.
#ifndef __has_feature
#define __has_feature(x) 0
#endif
// The sanitizer brings its own malloc; there only operator new is counted.
#if defined(__GLIBC__) && !__has_feature(address_sanitizer) && !defined(__SANITIZE_ADDRESS__)
#define VORNIK_COUNT_MALLOC 1
#endif

// Only the test's own thread counts, and only while armed.
thread_local bool bCounting = false;
thread_local long iAllocations = 0;

// The array and nothrow forms of the C++ library come down to this one.
void* operator new(size_t uiSize) {
    iAllocations += bCounting;
    void* p = malloc(uiSize == 0 ? 1 : uiSize);
    if (p == nullptr)
        abort(); // the project runs without exceptions
    return p;
}
void operator delete(void* p) noexcept {
    free(p);
}
void operator delete(void* p, size_t) noexcept {
    free(p);
}

#ifdef VORNIK_COUNT_MALLOC
// glibc lets a program replace malloc; these hand every call on to glibc's own allocator.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* malloc(size_t uiSize) noexcept {
    iAllocations += bCounting;
    return __libc_malloc(uiSize);
}
void* realloc(void* p, size_t uiSize) noexcept {
    iAllocations += bCounting;
    return __libc_realloc(p, uiSize);
}
void free(void* p) noexcept {
    __libc_free(p);
}
}
#endif

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

// GSV message with iCount satellites of the test sky from satellite k = iFirst on; satellite k is at
// elevation k * 7 % 90 and azimuth k * 37 % 360, and every fifth one comes without an SNR.
QByteArray Gsv(const char* pszId, int iTotal, int iMsg, int iInView, int iFirst, int iCount) {
    QByteArray baBody = QString::asprintf("%s,%d,%d,%02d", pszId, iTotal, iMsg, iInView).toLatin1();
    for (int k = iFirst; k < iFirst + iCount; ++k)
        baBody += QString::asprintf(",%02d,%02d,%03d,", k, k * 7 % 90, k * 37 % 360).toLatin1() +
                  (k % 5 == 0 ? QByteArray() : QByteArray::number(k % 50));
    return baBody;
}

// The slots that satellites iFirst on of the test sky fill, as the record text shows them.
QByteArray Sky(int iFirst, int iCount) {
    QByteArrayList aSlots;
    for (int k = iFirst; k < iFirst + iCount; ++k)
        aSlots << QString::asprintf("%d/%d/%d/%d", k, k * 7 % 90, k * 37 % 360, k % 5 == 0 ? 0 : k % 50)
                      .toLatin1();
    return aSlots.join(' ');
}

// Records that hold values before a row's sentence, so that a value kept, cut or padded shows.
const QByteArrayList kDevice{"VNINFO2,XXXXXXXXXXXXXXXXXXXX,YYYYYYYYYYYYYYYYYY,9,9,9,9,9",
                             "VNSET2,99,9.5,99,99,99,99", "VNREQ,9,1,2,3,4,5,6,7,8,9,10"};
const QByteArrayList kFix{"GPRMC,101010,A,5000.000,N,00800.000,E,5,90,010124,,",
                          "GPGGA,092750.000,5321.6802,N,00630.3372,W,1,8,1.03,61.7,M,55.2,M,,",
                          "GPGNS,092750.000,5321.6802,N,00630.3372,W,AA,8,1.03,61.7,55.2,,",
                          "GPGSA,M,2,01,02,03,04,05,06,07,08,09,10,11,12,9.9,8.8,7.7"};
const QByteArrayList kFlarm{"PFLAU,1,1,1,1,1,1,1,1,1,1",
                            "PFLAA,3,10,20,30,0,ABCDEF,90,1,2,3,9",
                            "PFLAC,A,HWVER,HW-9999",
                            "PFLAC,A,SWVER,SW-9999",
                            "PFLAC,A,SER,SER-999999",
                            "PFLAC,A,PRIV,3",
                            "PFLAC,A,OBSTDB,1,2,OBSTACLES-0123456789,DB-0123456",
                            "PFLAC,A,OBSTEXP,EXPIRES-99",
                            "PFLAC,A,FREQ,33",
                            "PFLAC,A,RADIOID,2,ID-999",
                            "PFLAE,A,1,AB,An earlier error with a long message",
                            "PFLAL,An earlier log line that is long",
                            "PFLAQ,OPERATIONS,An earlier long info text,99"};
const QByteArrayList kLongPilot{"$LXDT,SET,PILOT,ABCDEFGHIJKLMNOPQRST,ABCDEFGHIJKLMNOPQRST"};

} // namespace

class TestProtocol : public QObject {
    Q_OBJECT

private slots:
    // Five hours and 45 minutes east of UTC, set before any clock first looks at the zone. Named, the zone
    // also keeps glibc's tzset() from copying the zone file's name on every call, which would allocate.
    void initTestCase() {
        setenv("TZ", "VNT-5:45", 1);
        QCOMPARE(QDateTime::currentDateTime().offsetFromUtc(), 5 * 3600 + 45 * 60);
    }
    void Frames_data() {
        const DataTable<QByteArray, QStringList, QByteArray> Row({"baInput", "asSentences", "baStderr"});
        const QByteArray baReq = Framed("VNREQ,0");
        const QByteArray baBody118 = "VNX" + QByteArray(115, 'a');
        const QByteArray baCommas23 = "VNX" + QByteArray(23, ',');

        Row("noise, then two sentences", "\r\nxyz\x01\xff" + baReq + Framed("!VNREQ,1"),
            {"$VNREQ|0", "!VNREQ|1"}, "");
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
    void Frames() {
        QFETCH(QByteArray, baInput);
        RecordingFramer framer;
        StderrCapture capture;
        int iCodes = 0;
        for (char c : baInput) {
            const int iSentences = framer.asSentences.size();
            framer.ProcessByte(static_cast<uint8_t>(c));
            // Only the byte that completes a taken sentence leaves its code.
            QCOMPARE(framer.uiLastCode != 0,
                     framer.asSentences.size() > iSentences && framer.uiLastCode != 0);
            iCodes += framer.uiLastCode != 0;
        }
        QTEST(capture.Text(), "baStderr");
        QTEST(framer.asSentences, "asSentences");
        QCOMPARE(iCodes, int(framer.asSentences.filter("VNREQ").size()));
        QCOMPARE(framer.uiState, uint32_t(BasicNMEA::Idle));
    }
    void Dispatch_data() {
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
    void Dispatch() {
        QFETCH(QByteArray, baText);
        QFETCH(uint, uiCode);
        BasicNMEA framer;
        StderrCapture capture;
        QCOMPARE(FeedSentence(framer, baText), uiCode);
        // A sentence that is not taken says why, or nothing.
        if (uiCode == 0)
            QTEST(capture.Text(), "baMessage");
    }
    void TraceAndStamps();
    void Units_data() {
        // The field converters: i: ParseInt with default iArg; h: ParseHex, with "0x" if iArg; t: ParseTime;
        // f: ParseFloat to nine digits, which tells every float apart; c: ParseCoordinate of iArg degree
        // digits, in degrees, "_" standing for the field's end. The display texts: F: FormatFixed with iArg
        // decimals; d: FormatDate of a day number, p: of a packed logbook time, in format iArg; T: FormatTime
        // of seconds, iArg 1 adding the leading zero and 2 the seconds; n: the IGC file name of 17 May 2024
        // for the serial and flight iArg, N: of the day number for serial 1000; k: the input with
        // AppendChecksum; C: the firmware chunks' CRC-16/XMODEM of the input.
        const DataTable<char, QByteArray, int, QByteArray> Row({"cUnit", "baInput", "iArg", "baExpected"});

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
        Row("packed month and day 0, two-digit year", 'p', "2073600", 0, "30.11.23");
        Row("h:mm", 'T', "3900", 0, "1:05");
        Row("hh:mm", 'T', "3900", 1, "01:05");
        Row("h:mm:ss", 'T', "3723", 2, "1:02:03");
        Row("hh:mm:ss", 'T', "3723", 3, "01:02:03");
        Row("largest duration", 'T', "4294967295", 2, "1193046:28:15");
        Row("IGC three-digit flight number", 'n', "35", 255, "2024-05-17-VNK-00Z-255.igc");
        Row("IGC five-digit year", 'N', QByteArray::number(QDate(10000, 1, 1).toJulianDay()), 7,
            "10000-01-01-VNK-0RS-07.igc");
        // The serial's last three base-36 digits name the instrument.
        Row("IGC largest serial of three digits", 'n', "46655", 1, "2024-05-17-VNK-ZZZ-01.igc");
        Row("IGC 32-bit serial", 'n', "4294967295", 1, "2024-05-17-VNK-1Z3-01.igc");
        Row("checksum of empty text: none", 'k', "", 0, "");
        Row("checksum skips the start character, whatever it is", 'k', "Xabc", 0, "Xabc*60\r\n");
        Row("checksum in upper-case digits", 'k', "$VNREQ,40,0", 0, "$VNREQ,40,0*6A\r\n");
        Row("CRC of nothing", 'C', "", 0, "0");
        Row("CRC check value", 'C', "123456789", 0, "12739");
        // A chunk's length, of bytes with the top bit set.
        Row("CRC of a chunk", 'C', QByteArray(512, '\xb7'), 0, "20205");
    }
    void Units() {
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
            baResult = QByteArray::number(
                double(ParseCoordinate(pszText, uint8_t(iArg))) / double(kfDegToRad), 'f', 5);
        else if (cUnit == 'F')
            baResult = FormatFixed(baInput.toFloat(), iArg);
        else if (cUnit == 'T')
            baResult = FormatTime(uiInput, iArg & 2, iArg & 1);
        else if (cUnit == 'n' || cUnit == 'N')
            baResult = FormatIGCFileName(cUnit == 'n' ? 2460448 : uiInput, uint8_t(iArg),
                                         cUnit == 'n' ? uiInput : 1000);
        else if (cUnit == 'C')
            baResult = QByteArray::number(CalcCrc16Xmodem(reinterpret_cast<const uint8_t*>(pszText),
                                                          static_cast<uint32_t>(baInput.size())));
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
    void ClockMatchesQTime() {
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
    void DaysAgreeWithQDate() {
        for (QDate dt(1900, 1, 1); dt.year() <= 2100; dt = dt.addDays(1)) {
            const JulianDate date(dt.year(), dt.month(), dt.day());
            QCOMPARE(qint64(date.uiDayNumber), dt.toJulianDay());
            QCOMPARE((QList<int>{date.Year(), date.Month(), date.Day()}),
                     (QList<int>{dt.year(), dt.month(), dt.day()}));
        }
        // Every 32-bit day number reads back as a real date, far beyond the range where 32-bit steps
        // overflow; 65537 divides 2^32 - 1, so the last step is the largest day number.
        for (uint64_t uiDay = 0; uiDay <= UINT32_MAX; uiDay += 65537) {
            const JulianDate date(static_cast<uint32_t>(uiDay));
            const QDate dt = QDate::fromJulianDay(qint64(uiDay));
            QCOMPARE((QList<int>{date.Year(), date.Month(), date.Day()}),
                     (QList<int>{dt.year(), dt.month(), dt.day()}));
        }
    }
    void Records_data();
    void Records() {
        QFETCH(QByteArrayList, aPreamble);
        QFETCH(QByteArray, baSentence);
        // Built over dirty memory: whatever it held, a fresh parser starts from its own values, and the LX
        // data record is empty in every byte of every variant.
        alignas(BasicNMEA) unsigned char abyMemory[sizeof(BasicNMEA)];
        memset(abyMemory, 0xAA, sizeof abyMemory);
        BasicNMEA& framer = *new (abyMemory) BasicNMEA;
        const LxdtPayload& payload = framer.parser.lxdt.payload;
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(&payload), sizeof payload).count('\0'),
                 qsizetype(sizeof payload));
        {
            StderrCapture quiet;
            for (const QByteArray& baEarlier : aPreamble)
                if (baEarlier.startsWith('+'))
                    framer.parser.flarmError.uiTimeMs -= baEarlier.toUInt();
                else
                    QVERIFY(FeedSentence(framer, baEarlier) != CodeNone);
        }
        framer.parser.flarmError.bErrorHandled = 1;
        StderrCapture capture;
        const SentenceCode uiCode = FeedSentence(framer, baSentence);
        const QByteArray baMessage = capture.Text();
        QTEST(baMessage, "baMessage");
        const facts::DispatchFact* pFact = facts::DispatchFactOf(
            baSentence.constData() + (baSentence.startsWith('$') || baSentence.startsWith('!')));
        QCOMPARE(uiCode, baMessage.contains("nvalid") ? CodeNone : pFact->uiCode);
        QTEST(facts::RecordText(framer.parser, pFact->uiCode), "baRecord");
        framer.~BasicNMEA();
    }
    // A million sentences go through the framer and parser: the fuzzer's seed corpus of every family, every
    // identifier with every field count, which brings every refusal message, and all of it damaged too.
    void ParsingAllocatesNothing() {
        QByteArray baGood;
        const QDir corpus(QFINDTESTDATA("../fuzz/corpus/protocol"));
        QVERIFY(corpus.exists());
        for (const QString& sName : corpus.entryList(QDir::Files)) {
            QFile file(corpus.filePath(sName));
            QVERIFY(file.open(QIODevice::ReadOnly));
            baGood += file.readAll();
        }
        for (int i = 0; i < facts::kDispatchCount; ++i)
            for (int iFields = 1; iFields <= BasicNMEA::kMaxFields; ++iFields)
                baGood += Framed(facts::kaDispatch[i].pszId + QByteArray(",1").repeated(iFields - 1));
        const long iStreamSentences = baGood.count('$') + baGood.count('!');
        // About one byte in a hundred changed: checksums fail, sentences run long or lose their end.
        QByteArray baDamaged = baGood;
        const quint32 uiSeed = 7;
        QRandomGenerator random(uiSeed);
        for (qsizetype i = 0; i < baDamaged.size(); i += random.bounded(1, 200))
            baDamaged[i] = static_cast<char>(random.bounded(256));

        BasicNMEA framer;
        StderrCapture capture;
        long iTaken = 0;
        bCounting = true;
        const int iPasses = 1000000 / int(iStreamSentences) + 1;
        for (int iPass = 0; iPass < iPasses; ++iPass) {
            // Every tenth pass goes through damaged, the last ones with the debug trace on.
            framer.parser.bDebug = iPass >= iPasses - 2;
            for (const char c : std::as_const(iPass % 10 == 9 ? baDamaged : baGood)) {
                framer.ProcessByte(static_cast<uint8_t>(c));
                iTaken += framer.uiLastCode != 0;
            }
        }
        const long iWhileParsing = iAllocations;
        // Without these the zero would prove nothing: the counters see operator new, and Qt's containers
        // calling malloc directly.
        void* volatile pNew = ::operator new(16);
        ::operator delete(pNew);
        const long iAfterNew = iAllocations;
        const QByteArray baQt(64, 'x');
        bCounting = false;
        const QByteArray baMessages = capture.Text();

        QVERIFY2(iWhileParsing == 0, qPrintable(QString("damage seed %1").arg(uiSeed)));
        QVERIFY(iAfterNew > iWhileParsing);
#ifdef VORNIK_COUNT_MALLOC
        QVERIFY(iAllocations > iAfterNew);
#endif
        // The stream did reach the handlers and their messages.
        QVERIFY(iTaken > iPasses * iStreamSentences / 2);
        QVERIFY(baMessages.contains("NMEA CRC error"));
        QVERIFY(baMessages.contains("Err: 17/0x11, Sev: 2, Msg:Obstacle database expired"));
        QVERIFY(baMessages.contains("ParseNMEA begin"));
    }
};

// The trace lists the fields with their offsets. Any sentence, taken or not, stamps the parse time, and
// FLARM's status and target take it too; the moment the GPS went missing stays until it is back.
void TestProtocol::TraceAndStamps() {
    BasicNMEA framer;
    FlarmStatus& status = framer.parser.flarmStatus;
    framer.parser.bDebug = true;
    StderrCapture capture;
    // Stamped between the start and now, however slow the machine, across midnight too.
    const uint32_t uiBeforeMs = TimeOfDayMs();
    const auto Since = [uiBeforeMs](uint32_t uiMs) { return (uiMs + 86400000 - uiBeforeMs) % 86400000; };
    const auto Stamped = [&Since](uint32_t uiStampMs) { return Since(uiStampMs) <= Since(TimeOfDayMs()); };
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

void TestProtocol::Records_data() {
    // The sentence's message, and the record of its identifier's code as text. Every sentence is taken
    // unless its message calls it invalid, and a refused one leaves its record as it was.
    const DataTable<QByteArrayList, QByteArray, QByteArray, QByteArray> Row(
        {"aPreamble", "baSentence", "baMessage", "baRecord"});

    Row("identity", kDevice, "VNINFO2,Tovak_2,P17,1234,1,7,12,1.5", "", "'Tovak_2' 'P17' 1234 1 7 12 1.5 1");
    Row("identity texts of 16 characters keep 15", kDevice, "VNINFO2,Tovak_2_ABCDEFGHI,0123456789ABCDEF,1",
        "", "'Tovak_2_ABCDEFG' '0123456789ABCDE' 1 0 0 0 0 1");
    Row("settings", kDevice, "VNSET2,-5,1.5,30,-1,123456,2", "", "-5 1.5 30 -1 123456 2 1");
    Row("settings of two fields", kDevice, "VNSET2,7", "", "7 0 0 0 0 0 1");
    // The argument after the last one sent reads as 0; those beyond keep their values.
    Row("chunk request", kDevice, "VNREQ,201,5", "", "201 | 5 0 3 4 5 6 7 8 9 10");
    Row("arguments beyond ten dropped", kDevice, "VNREQ,50,11,12,13,14,15,16,17,18,19,20,21,22,23", "",
        "50 | 11 12 13 14 15 16 17 18 19 20");
    Row("logbook row, count in 16 bits", {}, "VNLOGBOOK,70000,2,1,1954763110,77777,300", "",
        "4464 2 1 1954763110 77777 300");
    Row("logbook count only", {"VNLOGBOOK,70000,2,1,1954763110,77,300"}, "VNLOGBOOK,3", "", "3 0 0 0 0 0");

    Row("RMC fix", kFix, "GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", "",
        "45319 1 48.1173 11.5167 11.5236 84.4 2485960");
    Row("RMC 13 fields, lower-case hemispheres", kFix,
        "GNRMC,001031.50,A,3751.65,s,14507.36,w,10,,050320,,,A", "",
        "631.5 1 -37.8608 -145.123 5.14444 0 2458914");
    Row("RMC time and date one digit short", kFix, "GPRMC,12345,a,,,,,,,05032,,", "", "0 0 0 0 0 0 0");
    Row("RMC seven-digit date", kFix, "GPRMC,235959,A,,,,,,,0503201,,", "", "86399 1 0 0 0 0 0");
    Row("GGA differential fix", kFix, "GNGGA,123519,4807.038,N,01131.000,E,2,08,0.9,545.4,M,46.9,M,1.5,0136",
        "", "45319 48.1173 11.5167 2 8 0.9 545.4 46.9 1.5 136");
    Row("GGA without position keeps the last", kFix, "GPGGA,1234,,,,,0,00,99.99,,,,,,", "",
        "45240 53.3613 -6.50562 0 0 99.99 0 0 0 0");
    Row("GGA 14 fields", kFix, "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,M,",
        "GGA invalid field count 14.\n", "34070 53.3613 -6.50562 1 8 1.03 61.7 55.2 0 0");
    Row("GNS mode letters", kFix, "GNGNS,014035.00,4332.69262,S,17235.48549,E,RR,13,0.9,25.63,11.24,3.0,", "",
        "6035 -43.5449 172.591 0 13 0.9 25.63 3 0 0");
    Row("GNS without position stores zero", kFix, "GLGNS,120000,,,,,NN,00,,,,,", "",
        "43200 0 0 0 0 0 0 0 0 0");
    Row("GSA 3D fix", kFix, "GNGSA,A,3,21,22,23,24,25,26,27,28,29,30,31,32,1.72,1.03,1.38", "",
        "A 3 | 21 22 23 24 25 26 27 28 29 30 31 32 | 1.72 1.03 1.38");

    // The satellite tables: GPS | GLONASS | Galileo.
    const QByteArrayList aTwelve{Gsv("GPGSV", 3, 1, 12, 21, 4), Gsv("GPGSV", 3, 2, 12, 25, 4),
                                 Gsv("GPGSV", 3, 3, 12, 29, 4)};
    const QByteArray baNoSky = "0 0: | 0 0: | 0 0:";
    Row("shorter cycle clears the rest",
        aTwelve + QByteArrayList{Gsv("GPGSV", 3, 1, 11, 1, 4), Gsv("GPGSV", 3, 2, 11, 5, 4)},
        Gsv("GPGSV", 3, 3, 11, 9, 3), "", "11 11: " + Sky(1, 11) + " | 0 0: | 0 0:");
    Row("lost message 1 continues the fill",
        {Gsv("GPGSV", 2, 1, 8, 1, 4), Gsv("GPGSV", 2, 2, 8, 5, 4), Gsv("GPGSV", 3, 2, 11, 41, 4)},
        Gsv("GPGSV", 3, 3, 11, 45, 3), "", "11 15: " + Sky(1, 8) + " " + Sky(41, 4) + " | 0 0: | 0 0:");
    // Message 1 never arrives: the fill runs on, held at the table's end and below the 16-bit limit.
    Row("10000 messages without message 1", QByteArrayList(9999, Gsv("GPGSV", 9, 2, 36, 1, 4)),
        Gsv("GPGSV", 9, 2, 36, 1, 4), "",
        "36 32767: " + Sky(1, 4) + " " + Sky(1, 4) + " " + Sky(1, 4) + " | 0 0: | 0 0:");
    Row("no satellites clears the table", aTwelve, "GPGSV,1,1,00", "", baNoSky);
    Row("GLONASS, one message clears the rest", {Gsv("GLGSV", 1, 1, 4, 61, 4)}, Gsv("GLGSV", 1, 1, 3, 65, 3),
        "", "0 0: | 3 3: " + Sky(65, 3) + " | 0 0:");
    Row("Galileo, 24 fields", {}, Gsv("GAGSV", 1, 1, 5, 7, 5), "", "0 0: | 0 0: | 5 5: " + Sky(7, 5));
    Row("message beyond the total", {}, Gsv("GPGSV", 3, 4, 11, 1, 4), "Invalid GSV message: iMsg = 4.\n",
        baNoSky);
    Row("message 0", {}, Gsv("GPGSV", 3, 0, 11, 1, 4), "Invalid GSV message: iMsg = 0.\n", baNoSky);

    Row("PFLAU alarm", kFlarm, "PFLAU,3,1,2,4,5,-30,B,-32,755,DDA85C", "", "3 1 2 4 5 11 -30 -32 755 DDA85C");
    Row("PFLAU empty", kFlarm, "PFLAU", "", "0 0 0 0 0 0 999 0 0 0");
    Row("PFLAA ID with callsign", kFlarm, "PFLAA,0,-1234,1234,220,2,DDA85C!D-KABC,180,-4.5,30,-1.4,1", "",
        "0 2 1 -1234 1234 220 180 DDA85C -4.5 30 -1.4");
    Row("PFLAA without relative east", kFlarm, "PFLAA,1,-500,,100,1,4B1234,,,,,8", "",
        "1 1 20 -500 0 100 0 4B1234 0 0 0");
    // The configuration that kFlarm leaves, with one text replaced.
    const auto Config = [](const char* pszOld, const char* pszNew) {
        return QByteArray("'OBSTACLES-01234567' 'DB-0123456' 'SER-999999' 'SW-999' 'HW-999' 3 33 1 'ID-999' "
                          "'EXPIRES-99'")
            .replace(pszOld, pszNew);
    };
    Row("hardware version cut", kFlarm, "PFLAC,A,HWVER,HW-1.23", "Flarm HW: HW-1.23\n",
        Config("HW-999", "HW-1.2"));
    Row("software version cut", kFlarm, "PFLAC,A,SWVER,7.20beta", "", Config("SW-999", "7.20be"));
    Row("serial cut, longer key word", kFlarm, "PFLAC,A,SERIAL,1234567890123", "",
        Config("SER-999999", "1234567890"));
    Row("obstacle database", kFlarm, "PFLAC,A,OBSTDB,0,1,Switzerland-Alps-2024,2024-12", "",
        Config("OBSTACLES-01234567", "Switzerland-Alps-2").replace("DB-0123456", "2024-12"));
    Row("obstacle expiry", kFlarm, "PFLAC,A,OBSTEXP,2025-12-31", "", Config("EXPIRES-99", "2025-12-31"));
    Row("privacy set request", kFlarm, "PFLAC,S,PRIV,1", "Flarm privacy: 1\n",
        Config(" 3 33 1 ", " 1 33 0 "));
    Row("frequency", kFlarm, "PFLAC,A,FREQ,868", "Flarm frequency: 68\n", Config(" 3 33 1 ", " 3 68 1 "));
    Row("radio ID cut", kFlarm, "PFLAC,A,RADIOID,2,DDA85C12", "Flarm RadioID: DDA85C12\n",
        Config("ID-999", "DDA85C"));
    // Before the unit answers, privacy and frequency read -1.
    Row("unknown key", {}, "PFLAC,R,ACFT,8", "", "'' '' '' '' '' -1 -1 0 '' ''");
    const QByteArray ba40m(40, 'm');
    const QByteArray baEarlierError = "1 171 'An earlier error with a long message' 1";
    Row("new error code, message cut", kFlarm, "PFLAE,A,3,1F0042," + ba40m + "mmmmm",
        "PFLAE received\nErr: 66/0x1F0042, Sev: 3, Msg:" + ba40m + "\n", "3 66 '" + ba40m + "' 0");
    Row("severity 0 stores no error", {}, "PFLAE,A,0,11,No error", "PFLAE received\n", "-1 65535 '' 1");
    // The unit repeats an active error: the same code within 30 s is not new. "+ms": the earlier error
    // came this long ago (the holder has dealt with it).
    Row("same error within 30 s", kFlarm + QByteArrayList{"+29000"}, "PFLAE,A,3,AB,new", "PFLAE received\n",
        baEarlierError);
    Row("same error after 30 s", kFlarm + QByteArrayList{"+30001"}, "PFLAE,A,3,AB,new",
        "PFLAE received\nErr: 171/0xAB, Sev: 3, Msg:new\n", "3 171 'new' 0");
    Row("log line cut", kFlarm, "PFLAL," + QByteArray(100, 'L'), "PFLAL received\n",
        "'" + QByteArray(82, 'L') + "'");
    Row("progress only", kFlarm, "PFLAQ,IGCREADOUT,42", "PFLAQ received\n", "'IGCREADOUT' '' 42");
    Row("operation and info cut", kFlarm, "PFLAQ,FW-UPDATE-2,Flight-recorder-update-file,300",
        "PFLAQ received\n", "'FW-UPDATE-' 'Flight-recorder-upda' 44");

    Row("LXWP0 36 km/h", {}, "$LXWP0,Y,36,1717.6,0.02,0.02,0.02,0.02,0.02,0.02,,000,107.2", "",
        "10 1717.6 0.02");
    Row("LXWP0 empty", {"$LXWP0,Y,36,100,1"}, "$LXWP0", "", "0 0 0");
    // Wind 270 deg 5.5 m/s, component +1, 500 m, TAS 25.1, climb +1/-1/0 kt, MC 2 kt; extra fields ignored.
    Row("C302", {}, "!w,270,55,2,510,1500,1013,2510,210,190,200,20,100,10,0,0", "",
        "270 5.5 2 1 500 1013 25.1 0.514444 -0.514444 0 1.02889 100 10");
    // A field that wraps ParseInt to its lowest value must not overflow when the offset is taken off.
    Row("C302 altitude at the edge of 32 bits", {}, "!w,0,0,0,500,-2147483648,0,0,200,200,200,0,0,0", "",
        "0 0 0 0 -2.14748e+09 0 0 0 0 0 0 0 0");
    Row("PCAID logged", {}, "$PCAID,L,-12.7,0,24,,1500,1299", "", "1 -12 1500 12");
    Row("PCAID 4 fields", {"$PCAID,L,1,0,24,,1500,1299"}, "$PCAID,N,512,0", "", "0 512 0 0");
    Row("PCAID negative field 7 wraps", {}, "$PCAID,N,0,0,0,0,0,-150", "", "0 0 0 65535");
    Row("PGRMZ feet", {}, "$PGRMZ,1000,f,3", "", "304.8");
    // The flag 4 latches until the first field stops saying "1".
    const QByteArrayList aGrb = {"$LXGRB,1,0", "$LXGRB,1,1", "$LXGRB,1,0",
                                 "$LXGRB,0,0", "$LXGRB,0,1", "$LXGRB,1,0"};
    const char* const kGrbFlags[] = {"1", "5", "5", "0", "4", "4"};
    for (int i = 0; i < aGrb.size(); ++i)
        Row("LXGRB sequence step " + QByteArray::number(i + 1), aGrb.mid(0, i), aGrb[i], "", kGrbFlags[i]);
    Row("PFLX0 names two rates", {}, "$PFLX0,LXWP0,2,LXWP2,10,GPRMB,5", "", "2 60 10 59");
    Row("PFLX0 last name without rate", {}, "$PFLX0,LXWP3,1,LXWP1", "", "1 0 5 1");
    Row("PFLX2", {}, "$PFLX2,1.5,1.2,10,1.0,0,0,40", "", "1.5 10 1.2 40");
    Row("RPYL", {}, "$RPYL,125,-40,0,0,0,0,0", "", "12.5 -4");

    // Unrecognised requests change only the prefix flag.
    const QByteArray baPilotKept = "100 0 | 'ABCDEFGHIJKLMNOP' 'ABCDEFGHIJKLMNOP'";
    Row("pilot cut to 16", {}, kLongPilot[0], "", "100 1 | 'ABCDEFGHIJKLMNOP' 'ABCDEFGHIJKLMNOP'");
    Row("GET INFO starting with !", {}, "!LXDT,GET,INFO", "", "1 0 |");
    Row("GET NAVIGATE 5", {}, "$LXDT,GET,NAVIGATE,5", "", "10 1 | 5");
    // The keyword and the item are compared over their own length only.
    Row("keywords match as prefixes", {}, "$LXDT,GETX,TPX,3", "", "3 1 | 3");
    Row("SET PILOT shorter than before", kLongPilot, "$LXDT,SET,PILOT,Jan,Novak", "",
        "100 1 | 'Jan' 'Novak'");
    Row("SET GLIDER cut, field 3 unread", kLongPilot, "$LXDT,SET,GLIDER,1,Ventus 2cxT,D-KXYZ,Club class 18m",
        "", "101 1 | 'Ventus 2' 'D-KXYZ' 'Club class 1'");
    Row("SET TSK_PAR", kLongPilot, "$LXDT,SET,TSK_PAR,1,500,1:30:00", "", "102 1 | 1 500 5400");
    Row("SET TP", kLongPilot, "$LXDT,SET,TP,1,0,2940000,840000,ABCDEFGHIJKLMNOPQRST", "",
        "103 1 | 0 1 'ABCDEFGHIJKLMNOP' 0.855211 0.244346");
    Row("SET ZONE", kLongPilot, "$LXDT,SET,ZONE,2,3,1,0,90,45.5,180,500.7,1000,-3", "",
        "104 1 | 2 3 1 0 1.5708 0.794125 3.14159 500 1000 -3");
    Row("SET NAVIGATE", kLongPilot,
        "$VNDT,SET,NAVIGATE,4,Lesce airfield north gate,2971234,-1234567,7,1,2.5,300", "",
        "105 0 | 4 'Lesce airfield north gat' 0.864297 -0.359121 7 1 2.5 44");
    Row("SET MC_BAL", kLongPilot, "$LXDT,SET,MC_BAL,1.5,100,3,4,5,6,700", "",
        "106 1 | 1 1 1 1 1 1 1 1.5 100 3 4 5 6 700");
    Row("SET MC_BAL fields 3 and 5 only", kLongPilot + QByteArrayList{"$LXDT,SET,MC_BAL,2,100,1,2,3,4,500"},
        "$LXDT,SET,MC_BAL,1.5,,3", "", "106 1 | 1 0 1 0 0 0 0 1.5 0 3 0 0 0 0");
    Row("SET SC_VAR", kLongPilot, "$LXDT,SET,SC_VAR,1", "", "107 1 | 1");
    Row("GET after SET", kLongPilot + QByteArrayList{"$LXDT,SET,ZONE,2,3,1,0,90,45.5,180,500.7,1000,-3"},
        "$LXDT,GET,ZONE,7", "", "4 1 | 7");
    Row("SET SENS", kLongPilot, "$VNDT,SET,SENS,1", "", baPilotKept);
    Row("neither GET nor SET", kLongPilot, "!LXDT,ANSWER,INFO", "", baPilotKept);
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "test_protocol.moc"
