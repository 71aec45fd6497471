// Receiver sentences into the fix, DOP and satellite records, with the field counts each one takes.
#include "SentenceFeed.h"
#include "StderrCapture.h"

#include <QtTest>

using namespace common;

namespace {

// The record that the sentence's kind fills, as text in member order; angles in degrees.
QString Dump(const common::ParserNMEA& p, const QByteArray& baBody) {
    const auto Deg = [](float fRadians) { return double(fRadians) / double(0.017453292f); };
    const QByteArray baKind = baBody.mid(2, 3);
    if (baKind == "RMC")
        return QString::asprintf("%g %u %g %g %g %g %u", p.rmc.fTime, p.rmc.bValid, Deg(p.rmc.fLatitude),
                                 Deg(p.rmc.fLongitude), p.rmc.fSpeed, Deg(p.rmc.fCourse),
                                 p.rmc.dtDate.uiDayNumber);
    if (baKind == "GSA") {
        QString sText = QString::asprintf("%c %u |", p.gsa.uiMode, p.gsa.uiFixType);
        for (uint8_t bySatellite : p.gsa.abySatellite)
            sText += " " + QString::number(bySatellite);
        return sText + QString::asprintf(" | %g %g %g", p.gsa.fPdop, p.gsa.fHdop, p.gsa.fVdop);
    }
    const common::FixData& f = baKind == "GNS" ? p.gns : p.gga;
    return QString::asprintf("%g %g %g %u %u %g %g %g %g %u", f.fTime, Deg(f.fLatitude), Deg(f.fLongitude),
                             f.uiQuality, f.uiSatellites, f.fHdop, f.fAltitude, f.fGeoidSeparation,
                             f.fDgpsAge, f.uiDgpsStation);
}

// GSV message with iCount satellites of the test sky from satellite k = iFirst on; satellite k is at
// elevation k * 7 % 90 and azimuth k * 37 % 360, and every fifth one comes without an SNR.
QByteArray Gsv(const char* pszId, int iTotal, int iMsg, int iInView, int iFirst, int iCount) {
    QByteArray baBody = QString::asprintf("%s,%d,%d,%02d", pszId, iTotal, iMsg, iInView).toLatin1();
    for (int k = iFirst; k < iFirst + iCount; ++k)
        baBody += QString::asprintf(",%02d,%02d,%03d,", k, k * 7 % 90, k * 37 % 360).toLatin1() +
                  (k % 5 == 0 ? QByteArray() : QByteArray::number(k % 50));
    return baBody;
}

// The three tables as "in view, fill: aSlots"; a slot that holds satellite k of the test sky shows as k,
// any other as all its values, and the empty aSlots at the end are left out.
QString Tables(const common::ParserNMEA& p) {
    QString sText;
    for (const SatelliteTable* pTable : {&p.gsvGps, &p.gsvGlonass, &p.gsvGalileo}) {
        QStringList aSlots;
        for (const common::SatelliteInView& sat : pTable->aSat) {
            const int k = sat.uiPrn;
            const bool bSky = sat.uiElevation == k * 7 % 90 && sat.uiAzimuth == k * 37 % 360 &&
                              sat.uiSnr == (k % 5 == 0 ? 0 : k % 50);
            aSlots << (bSky ? QString::number(k)
                            : QString::asprintf("<%d,%d,%d,%d>", k, sat.uiElevation, sat.uiAzimuth,
                                                sat.uiSnr));
        }
        while (!aSlots.isEmpty() && aSlots.last() == "0")
            aSlots.removeLast();
        sText +=
            QString::asprintf("%s%d %d:", sText.isEmpty() ? "" : " | ", pTable->uiInView, pTable->iFill) +
            (aSlots.isEmpty() ? "" : " ") + aSlots.join(' ');
    }
    return sText;
}

} // namespace

class TestGnssSentences : public QObject {
    Q_OBJECT

private slots:
    void Sentences_data();
    void Sentences();
    void GsvCycles_data();
    void GsvCycles();
};

void TestGnssSentences::Sentences_data() {
    // A refusal keeps the record as it was, and says why.
    const DataTable<QByteArray, uint, QString, QByteArray> Row({"baBody", "uiCode", "sRecord", "baMessage"});

    Row("RMC fix", "GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", CodeRmc,
        "45319 1 48.1173 11.5167 11.5236 84.4 2485960", "");
    Row("RMC 13 fields, lower-case hemispheres", "GNRMC,001031.50,A,3751.65,s,14507.36,w,10,,050320,,,A",
        CodeRmc, "631.5 1 -37.8608 -145.123 5.14444 0 2458914", "");
    Row("RMC time and date one digit short", "GPRMC,12345,a,,,,,,,05032,,", CodeRmc, "0 0 0 0 0 0 0", "");
    Row("RMC seven-digit date", "GPRMC,235959,A,,,,,,,0503201,,", CodeRmc, "86399 1 0 0 0 0 0", "");
    Row("GGA differential fix", "GNGGA,123519,4807.038,N,01131.000,E,2,08,0.9,545.4,M,46.9,M,1.5,0136",
        CodeGga, "45319 48.1173 11.5167 2 8 0.9 545.4 46.9 1.5 136", "");
    Row("GGA without position keeps the last", "GPGGA,1234,,,,,0,00,99.99,,,,,,", CodeGga,
        "45240 53.3613 -6.50562 0 0 99.99 0 0 0 0", "");
    // A refused sentence leaves the record as it was.
    Row("GGA 14 fields", "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,M,", CodeNone,
        "34070 53.3613 -6.50562 1 8 1.03 61.7 55.2 0 0", "GGA invalid field count 14.\n");
    Row("GNS mode letters", "GNGNS,014035.00,4332.69262,S,17235.48549,E,RR,13,0.9,25.63,11.24,3.0,", CodeGns,
        "6035 -43.5449 172.591 0 13 0.9 25.63 3 0 0", "");
    Row("GNS without position stores zero", "GLGNS,120000,,,,,NN,00,,,,,", CodeGns, "43200 0 0 0 0 0 0 0 0 0",
        "");
    Row("GSA 3D fix", "GNGSA,A,3,21,22,23,24,25,26,27,28,29,30,31,32,1.72,1.03,1.38", CodeGsa,
        "A 3 | 21 22 23 24 25 26 27 28 29 30 31 32 | 1.72 1.03 1.38", "");
}

// Each row starts from records that hold a position, so that a kept or refused value shows.
void TestGnssSentences::Sentences() {
    QFETCH(QByteArray, baBody);
    BasicNMEA framer;
    QCOMPARE(FeedSentence(framer, "GPRMC,101010,A,5000.000,N,00800.000,E,5,90,010124,,"), CodeRmc);
    QCOMPARE(FeedSentence(framer, "GPGGA,092750.000,5321.6802,N,00630.3372,W,1,8,1.03,61.7,M,55.2,M,,"),
             CodeGga);
    QCOMPARE(FeedSentence(framer, "GPGNS,092750.000,5321.6802,N,00630.3372,W,AA,8,1.03,61.7,55.2,,"),
             CodeGns);
    QCOMPARE(FeedSentence(framer, "GPGSA,M,2,01,02,03,04,05,06,07,08,09,10,11,12,9.9,8.8,7.7"), CodeGsa);
    StderrCapture capture;
    QTEST(FeedSentence(framer, baBody), "uiCode");
    QTEST(capture.Text(), "baMessage");
    QTEST(Dump(framer.parser, baBody), "sRecord");
}

void TestGnssSentences::GsvCycles_data() {
    // The tables: GPS | GLONASS | Galileo.
    const DataTable<QByteArrayList, uint, QByteArray, QString> Row(
        {"aBodies", "uiLastCode", "baMessage", "sTables"});
    const QByteArrayList aTwelve{Gsv("GPGSV", 3, 1, 12, 21, 4), Gsv("GPGSV", 3, 2, 12, 25, 4),
                                 Gsv("GPGSV", 3, 3, 12, 29, 4)};
    const char* const kNone = "0 0: | 0 0: | 0 0:";

    Row("shorter cycle clears the rest",
        aTwelve + QByteArrayList{Gsv("GPGSV", 3, 1, 11, 1, 4), Gsv("GPGSV", 3, 2, 11, 5, 4),
                                 Gsv("GPGSV", 3, 3, 11, 9, 3)},
        CodeGsv, "", "11 11: 1 2 3 4 5 6 7 8 9 10 11 | 0 0: | 0 0:");
    Row("lost message 1 continues the fill",
        {Gsv("GPGSV", 2, 1, 8, 1, 4), Gsv("GPGSV", 2, 2, 8, 5, 4), Gsv("GPGSV", 3, 2, 11, 41, 4),
         Gsv("GPGSV", 3, 3, 11, 45, 3)},
        CodeGsv, "", "11 15: 1 2 3 4 5 6 7 8 41 42 43 44 | 0 0: | 0 0:");
    // Message 1 never arrives: the fill runs on, held at the table's end and below the 16-bit limit.
    Row("10000 messages without message 1", QByteArrayList(10000, Gsv("GPGSV", 9, 2, 36, 1, 4)), CodeGsv, "",
        "36 32767: 1 2 3 4 1 2 3 4 1 2 3 4 | 0 0: | 0 0:");
    Row("no satellites clears the table", aTwelve + QByteArrayList{"GPGSV,1,1,00"}, CodeGsv, "", kNone);
    Row("GLONASS", {Gsv("GLGSV", 1, 1, 3, 65, 3)}, CodeGsv, "", "0 0: | 3 3: 65 66 67 | 0 0:");
    Row("Galileo, 24 fields", {Gsv("GAGSV", 1, 1, 5, 7, 5)}, CodeGsv, "", "0 0: | 0 0: | 5 5: 7 8 9 10 11");
    Row("message beyond the total", {Gsv("GPGSV", 3, 4, 11, 1, 4)}, CodeNone,
        "Invalid GSV message: iMsg = 4.\n", kNone);
    Row("message 0", {Gsv("GPGSV", 3, 0, 11, 1, 4)}, CodeNone, "Invalid GSV message: iMsg = 0.\n", kNone);
    Row("NMEA 4.10 signal ID", {Gsv("GPGSV", 3, 1, 11, 1, 4) + ",1"}, CodeNone,
        "GSV invalid field count 21.\n", kNone);
    Row("mixed talker", {Gsv("GNGSV", 1, 1, 4, 1, 4)}, CodeNone, "", kNone);
    Row("empty", {"GPGSV"}, CodeNone, "GSV invalid field count 1.\n", kNone);
}

void TestGnssSentences::GsvCycles() {
    QFETCH(QByteArrayList, aBodies);
    BasicNMEA framer;
    for (int i = 0; i + 1 < aBodies.size(); ++i)
        QCOMPARE(FeedSentence(framer, aBodies[i]), CodeGsv);
    StderrCapture capture;
    QTEST(FeedSentence(framer, aBodies.last()), "uiLastCode");
    QTEST(capture.Text(), "baMessage");
    QTEST(Tables(framer.parser), "sTables");
}

QTEST_GUILESS_MAIN(TestGnssSentences)
#include "test_gnss_sentences.moc"
