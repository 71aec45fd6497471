#include "StderrCapture.h"
#include "framing/AppendChecksum.h"
#include "framing/BasicNMEA.h"

#include <QtTest>

#include <cstring>

using common::FixData;
using common::SatelliteTable;

namespace {

constexpr float kfDegToRad = 0.017453292f;

double Rad(int iDegrees, float fMinutes) {
    return (fMinutes / 60.0f + static_cast<float>(iDegrees)) * kfDegToRad;
}

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
QByteArray Longest(const char* pszId) {
    return QByteArray(pszId) + QByteArray(",9").repeated(23);
}

// The record that the sentence's kind fills, as numbers in member order.
QList<double> Record(const common::ParserNMEA& parser, const QByteArray& baBody) {
    const QByteArray baKind = baBody.mid(2, 3);
    if (baKind == "RMC") {
        const common::RmcData& rmc = parser.rmc;
        return {rmc.fTime,
                double(rmc.bValid),
                rmc.fLatitude,
                rmc.fLongitude,
                rmc.fSpeed,
                rmc.fCourse,
                double(rmc.dtDate.uiDayNumber)};
    }
    if (baKind == "GSA") {
        QList<double> aValues{double(parser.gsa.uiMode), double(parser.gsa.uiFixType)};
        for (uint8_t bySatellite : parser.gsa.abySatellite)
            aValues.append(bySatellite);
        return aValues << parser.gsa.fPdop << parser.gsa.fHdop << parser.gsa.fVdop;
    }
    const FixData& fix = baKind == "GNS" ? parser.gns : parser.gga;
    return {fix.fTime, fix.fLatitude, fix.fLongitude,       double(fix.uiQuality), double(fix.uiSatellites),
            fix.fHdop, fix.fAltitude, fix.fGeoidSeparation, fix.fDgpsAge,          double(fix.uiDgpsStation)};
}

// Satellite k of the test sky; every fifth one is not tracked and comes without an SNR.
QByteArray Group(int k) {
    const QByteArray baSnr = k % 5 == 0 ? QByteArray() : QByteArray::number(k % 50);
    return QString::asprintf(",%02d,%02d,%03d,", k, (k * 7) % 90, (k * 37) % 360).toLatin1() + baSnr;
}

QByteArray Gsv(const char* pszId, int iTotal, int iMsg, int iInView, int iFirst, int iCount) {
    QByteArray baBody = QString::asprintf("%s,%d,%d,%02d", pszId, iTotal, iMsg, iInView).toLatin1();
    for (int k = iFirst; k < iFirst + iCount; ++k)
        baBody += Group(k);
    return baBody;
}

// Slot i holds satellite aPrn[i] of the test sky; the rest of the table is all zero (satellite 0).
void CheckTable(const SatelliteTable& table, const QList<int>& aPrn) {
    for (int i = 0; i < SatelliteTable::kSlots; ++i) {
        const common::SatelliteInView& sat = table.aSat[i];
        const int k = i < aPrn.size() ? aPrn[i] : 0;
        const QList<int> aExpected{k, (k * 7) % 90, (k * 37) % 360, k % 5 == 0 ? 0 : k % 50};
        QCOMPARE((QList<int>{sat.uiPrn, sat.uiElevation, sat.uiAzimuth, sat.uiSnr}), aExpected);
    }
}

// The parser's bytes with the GPS table and the clock stamp blanked: GPS GSV may change nothing else.
QByteArray Outside(const common::ParserNMEA& parser) {
    const char* pcParser = reinterpret_cast<const char*>(&parser);
    QByteArray baImage(pcParser, sizeof parser);
    const auto Blank = [&](const void* pMember, size_t uiSize) {
        memset(baImage.data() + (static_cast<const char*>(pMember) - pcParser), 0, uiSize);
    };
    Blank(&parser.gsvGps, sizeof parser.gsvGps);
    Blank(&parser.uiLastSentenceMs, sizeof parser.uiLastSentenceMs);
    return baImage;
}

} // namespace

class TestGnssSentences : public QObject {
    Q_OBJECT

private slots:
    void Sentences_data();
    void Sentences();
    void GsvCycles_data();
    void GsvCycles();
    void GsvWithoutFirstMessage();
};

void TestGnssSentences::Sentences_data() {
    QTest::addColumn<QByteArray>("baBody");
    QTest::addColumn<uint>("uiCode");
    QTest::addColumn<QByteArray>("baMessage");
    QTest::addColumn<QList<double>>("aExpected"); // the record in member order; a refusal keeps it
    const double dKnots = 1.852f / 3.6f;
    const auto Row = [](const char* pszName, const QByteArray& baBody, uint uiCode, const char* pszMessage,
                        const QList<double>& aExpected) {
        QTest::newRow(pszName) << baBody << uiCode << QByteArray(pszMessage) << aExpected;
    };

    Row("RMC fix", "GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", 1, "",
        {45319, 1, Rad(48, 7.038f), Rad(11, 31), 22.4 * dKnots, 84.4 * kfDegToRad, 2485960});
    Row("RMC mode field, lower-case hemispheres", "GNRMC,001031.50,A,3751.65,s,14507.36,w,10,,050320,,,A", 1,
        "", {631.5, 1, -Rad(37, 51.65f), -Rad(145, 7.36f), 10 * dKnots, 0, 2458914});
    Row("RMC no fix, empty fields", "GPRMC,,V,,,,,,,,,", 1, "", {0, 0, 0, 0, 0, 0, 0});
    Row("RMC short time and date", "GPRMC,1234,a,,,,,,,05032,,", 1, "", {0, 0, 0, 0, 0, 0, 0});
    Row("RMC seven-digit date", "GPRMC,235959,A,,,,,,,0503201,,", 1, "", {86399, 1, 0, 0, 0, 0, 0});
    Row("RMC NMEA 4.10 status", "GNRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W,A,V", 0, "",
        {});
    Row("RMC 11 fields", "GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1", 0, "", {});
    Row("RMC empty", "GPRMC", 0, "", {});
    Row("RMC 24 fields", Longest("GPRMC"), 0, "", {});

    Row("GGA differential fix", "GNGGA,123519,4807.038,N,01131.000,E,2,08,0.9,545.4,M,46.9,M,1.5,0136", 2, "",
        {45319, Rad(48, 7.038f), Rad(11, 31), 2, 8, 0.9, 545.4, 46.9, 1.5, 136});
    Row("GGA without position keeps the last", "GPGGA,1234,,,,,0,00,99.99,,,,,,", 2, "",
        {45240, Rad(53, 21.6802f), -Rad(6, 30.3372f), 0, 0, 99.99, 0, 0, 0, 0});
    Row("GGA 16 fields", "GPGGA,000001.5,0100.000,s,00100.000,w,1,4,1,2,m,3,m,,,X", 2, "",
        {1.5, -Rad(1, 0), -Rad(1, 0), 1, 4, 1, 2, 3, 0, 0});
    Row("GGA 14 fields", "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,M,", 0,
        "GGA invalid field count 14.\n", {});
    Row("GGA empty", "GPGGA", 0, "GGA invalid field count 1.\n", {});
    Row("GGA 24 fields", Longest("GNGGA"), 0, "GGA invalid field count 24.\n", {});

    Row("GNS mode letters", "GNGNS,014035.00,4332.69262,S,17235.48549,E,RR,13,0.9,25.63,11.24,3.0,", 5, "",
        {6035, -Rad(43, 32.69262f), Rad(172, 35.48549f), 0, 13, 0.9, 25.63, 3, 0, 0});
    Row("GNS without position stores zero", "GLGNS,120000,,,,,NN,00,,,,,", 5, "",
        {43200, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    Row("GNS NMEA 4.10 status", "GBGNS,014035.00,4332.69262,S,17235.48549,E,RR,13,0.9,25.63,11.24,,,V", 0,
        "GNS invalid field count 14.\n", {});
    Row("GNS empty", "GPGNS", 0, "GNS invalid field count 1.\n", {});
    Row("GNS 24 fields", Longest("GNGNS"), 0, "GNS invalid field count 24.\n", {});

    Row("GSA 3D fix", "GNGSA,A,3,10,07,05,02,29,04,08,13,,,,,1.72,1.03,1.38", 3, "",
        {65, 3, 10, 7, 5, 2, 29, 4, 8, 13, 0, 0, 0, 0, 1.72, 1.03, 1.38});
    Row("GSA no mode, number cut to 8 bits", "GPGSA,,1,300,,,,,,,,,,,,,,", 3, "",
        {0, 1, 44, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    Row("GSA NMEA 4.10 system ID", "GNGSA,A,3,10,07,05,02,29,04,08,13,,,,,1.72,1.03,1.38,1", 0,
        "GSA invalid field count 19.\n", {});
    Row("GSA empty", "GPGSA", 0, "GSA invalid field count 1.\n", {});
    Row("GSA 24 fields", Longest("GPGSA"), 0, "GSA invalid field count 24.\n", {});
}

// Each row starts from records that hold a position, so that a kept or refused value shows.
void TestGnssSentences::Sentences() {
    QFETCH(QByteArray, baBody);
    QFETCH(uint, uiCode);
    QFETCH(QByteArray, baMessage);
    QFETCH(QList<double>, aExpected);
    BasicNMEA framer;
    QCOMPARE(Feed(framer, "GPRMC,101010,A,5000.000,N,00800.000,E,5,90,010124,,"), 1u);
    QCOMPARE(Feed(framer, "GPGGA,092750.000,5321.6802,N,00630.3372,W,1,8,1.03,61.7,M,55.2,M,,"), 2u);
    QCOMPARE(Feed(framer, "GPGNS,092750.000,5321.6802,N,00630.3372,W,AA,8,1.03,61.7,55.2,,"), 5u);
    QCOMPARE(Feed(framer, "GPGSA,M,2,01,02,03,04,05,06,07,08,09,10,11,12,9.9,8.8,7.7"), 3u);
    if (uiCode == 0)
        aExpected = Record(framer.parser, baBody);

    StderrCapture capture;
    QCOMPARE(Feed(framer, baBody), uiCode);
    QCOMPARE(capture.Text(), baMessage);
    const QList<double> aActual = Record(framer.parser, baBody);
    QCOMPARE(aActual.size(), aExpected.size());
    for (int i = 0; i < aActual.size(); ++i)
        QVERIFY2(qAbs(aActual[i] - aExpected[i]) <= 1e-5 * qMax(1.0, qAbs(aExpected[i])),
                 qPrintable(QString("member %1: %2, expected %3").arg(i).arg(aActual[i]).arg(aExpected[i])));
}

void TestGnssSentences::GsvCycles_data() {
    QTest::addColumn<QByteArrayList>("aBodies");
    QTest::addColumn<uint>("uiLastCode");
    QTest::addColumn<QByteArray>("baMessage");
    QTest::addColumn<QByteArray>("baTalker");  // the one table that may change
    QTest::addColumn<QList<int>>("aExpected"); // uiInView, iFill, then the PRNs of the filled slots
    const auto Row = [](const char* pszName, const QByteArrayList& aBodies, uint uiCode,
                        const char* pszMessage, const char* pszTalker, const QList<int>& aExpected) {
        QTest::newRow(pszName) << aBodies << uiCode << QByteArray(pszMessage) << QByteArray(pszTalker)
                               << aExpected;
    };
    const QByteArrayList aTwelve{Gsv("GPGSV", 3, 1, 12, 21, 4), Gsv("GPGSV", 3, 2, 12, 25, 4),
                                 Gsv("GPGSV", 3, 3, 12, 29, 4)};

    Row("shorter cycle clears the rest",
        aTwelve + QByteArrayList{Gsv("GPGSV", 3, 1, 11, 1, 4), Gsv("GPGSV", 3, 2, 11, 5, 4),
                                 Gsv("GPGSV", 3, 3, 11, 9, 3)},
        4, "", "GP", {11, 11, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    Row("sixteen satellites",
        {Gsv("GPGSV", 4, 1, 16, 1, 4), Gsv("GPGSV", 4, 2, 16, 5, 4), Gsv("GPGSV", 4, 3, 16, 9, 4),
         Gsv("GPGSV", 4, 4, 16, 13, 4)},
        4, "", "GP", {16, 16, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    Row("lost message 1 continues the fill",
        {Gsv("GPGSV", 2, 1, 8, 1, 4), Gsv("GPGSV", 2, 2, 8, 5, 4), Gsv("GPGSV", 3, 2, 11, 41, 4),
         Gsv("GPGSV", 3, 3, 11, 45, 3)},
        4, "", "GP", {11, 15, 1, 2, 3, 4, 5, 6, 7, 8, 41, 42, 43, 44});
    Row("no satellites clears the table", aTwelve + QByteArrayList{"GPGSV,1,1,00"}, 4, "", "GP", {0, 0});
    Row("GLONASS", {Gsv("GLGSV", 1, 1, 3, 65, 3)}, 4, "", "GL", {3, 3, 65, 66, 67});
    Row("Galileo", {Gsv("GAGSV", 1, 1, 2, 7, 2)}, 4, "", "GA", {2, 2, 7, 8});
    Row("24 fields", {Gsv("GPGSV", 1, 1, 5, 1, 5)}, 4, "", "GP", {5, 5, 1, 2, 3, 4, 5});
    Row("message beyond the total", {Gsv("GPGSV", 3, 4, 11, 1, 4)}, 0, "Invalid GSV message: iMsg = 4.\n", "",
        {});
    Row("message 0", {Gsv("GPGSV", 3, 0, 11, 1, 4)}, 0, "Invalid GSV message: iMsg = 0.\n", "", {});
    Row("NMEA 4.10 signal ID", {Gsv("GPGSV", 3, 1, 11, 1, 4) + ",1"}, 0, "GSV invalid field count 21.\n", "",
        {});
    Row("mixed talker", {Gsv("GNGSV", 1, 1, 4, 1, 4)}, 0, "", "", {});
    Row("empty", {"GPGSV"}, 0, "GSV invalid field count 1.\n", "", {});
}

void TestGnssSentences::GsvCycles() {
    QFETCH(QByteArrayList, aBodies);
    QFETCH(uint, uiLastCode);
    QFETCH(QByteArray, baMessage);
    QFETCH(QByteArray, baTalker);
    QFETCH(QList<int>, aExpected);
    BasicNMEA framer;
    for (int i = 0; i + 1 < aBodies.size(); ++i)
        QCOMPARE(Feed(framer, aBodies[i]), 4u);

    StderrCapture capture;
    QCOMPARE(Feed(framer, aBodies.last()), uiLastCode);
    QCOMPARE(capture.Text(), baMessage);
    const common::ParserNMEA& parser = framer.parser;
    const QList<std::pair<QByteArray, const SatelliteTable*>> aTables{
        {"GP", &parser.gsvGps}, {"GL", &parser.gsvGlonass}, {"GA", &parser.gsvGalileo}};
    const SatelliteTable empty;
    for (const auto& [baName, pTable] : aTables) {
        if (baName != baTalker) {
            QVERIFY2(memcmp(pTable, &empty, sizeof empty) == 0, baName.constData());
            continue;
        }
        QCOMPARE((QList<int>{pTable->uiInView, pTable->iFill}), aExpected.mid(0, 2));
        CheckTable(*pTable, aExpected.mid(2));
    }
}

// A receiver whose message 1 never arrives must not write outside the GPS table, however long it runs.
void TestGnssSentences::GsvWithoutFirstMessage() {
    BasicNMEA framer;
    const common::ParserNMEA& parser = framer.parser;
    QCOMPARE(Feed(framer, "GPGSA,A,3,01,02,03,04,05,06,07,08,09,10,11,12,1.0,1.0,1.0"), 3u);
    QCOMPARE(Feed(framer, Gsv("GLGSV", 1, 1, 4, 65, 4)), 4u);
    QCOMPARE(Feed(framer, Gsv("GAGSV", 1, 1, 4, 1, 4)), 4u);
    const QByteArray baBefore = Outside(parser);

    for (int i = 0; i < 30; ++i)
        QCOMPARE(Feed(framer, Gsv("GPGSV", 9, 2, 36, 1 + (i * 4) % 48, 4)), 4u);
    QCOMPARE(int(parser.gsvGps.iFill), 120);
    CheckTable(parser.gsvGps, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    QVERIFY(Outside(parser) == baBefore);

    // Far enough for a 16-bit fill counter to wrap negative if it were not held.
    for (int i = 30; i < 10000; ++i)
        Feed(framer, Gsv("GPGSV", 9, 2, 36, 1 + (i * 4) % 48, 4));
    QCOMPARE(int(parser.gsvGps.iFill), INT16_MAX);
    CheckTable(parser.gsvGps, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    QVERIFY(Outside(parser) == baBefore);

    QCOMPARE(Feed(framer, Gsv("GPGSV", 1, 1, 2, 31, 2)), 4u);
    QCOMPARE(int(parser.gsvGps.iFill), 2);
    CheckTable(parser.gsvGps, {31, 32});
}

QTEST_GUILESS_MAIN(TestGnssSentences)
#include "test_gnss_sentences.moc"
