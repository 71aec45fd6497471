// Day numbers against Qt's own calendar, the display texts of numbers, dates, logbook times and
// durations, and the IGC flight file names.
#include "common/Formats.h"
#include "common/JulianDate.h"

#include <QDate>
#include <QtTest>

#include <cstdint>
#include <limits>

using namespace common;

class TestDatesFormats : public QObject {
    Q_OBJECT

private slots:
    void AgreesWithQDate();
    void Texts_data();
    void Texts();
    void IGCFileName_data();
    void IGCFileName();
};

void TestDatesFormats::AgreesWithQDate() {
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

void TestDatesFormats::Texts_data() {
    QTest::addColumn<char>("cFrom"); // f: number, d: day number, p: packed logbook time, t: seconds
    QTest::addColumn<double>("dValue");
    // Decimals of a number; format of a date; for a time, 1 adds the leading zero and 2 the seconds.
    QTest::addColumn<int>("iStyle");
    QTest::addColumn<QByteArray>("baText");
    const auto Row = [](const char* pszName, char cFrom, double dValue, int iStyle, const char* pszText) {
        QTest::newRow(pszName) << cFrom << dValue << iStyle << QByteArray(pszText);
    };
    const float fInf = std::numeric_limits<float>::infinity();

    Row("rounds up into the integer", 'f', 9.96f, 1, "10.0");
    Row("zero has no sign", 'f', 0.0f, 1, "0.0");
    Row("negative below one", 'f', -0.05f, 2, "-0.05");
    Row("zero-padded fraction", 'f', 1.05f, 3, "1.050");
    Row("half up", 'f', 2.5f, 0, "3");
    Row("negative half toward plus", 'f', -2.5f, 0, "-2");
    Row("negative rounds down", 'f', -2.6f, 0, "-3");
    Row("hundreds", 'f', 1234.5f, -2, "1200");
    Row("negative half away from zero", 'f', -1250.0f, -2, "-1300");
    // Out of range of "%d": saturated instead of an undefined conversion.
    Row("huge with decimals", 'f', 1e10f, 1, "2147483647.0");
    Row("huge negative, no decimals", 'f', -1e10f, 0, "-2147483647");
    Row("infinity in hundreds", 'f', fInf, -2, "2147483647");
    Row("NaN", 'f', std::numeric_limits<float>::quiet_NaN(), 2, "0.00");
    Row("power beyond float", 'f', 5.0f, std::numeric_limits<int>::min(), "0");
    Row("decimals capped at nine", 'f', 0.5f, 12, "0.500000000");
    Row("full year", 'd', 2460448, 1, "17.05.2024");
    Row("format 2", 'd', 2460448, 2, "Inv. fmt");
    Row("padded two-digit year", 'd', QDate(2005, 1, 1).toJulianDay(), 0, "01.01.05");
    Row("before the common era", 'd', 0, 1, "24.11.-4714");
    Row("packed 17 May 2024 13:45:10", 'p', 1954763110, 1, "17.05.2024");
    Row("packed last second of 2099", 'p', 3594239999u, 1, "31.12.2099");
    // The packing allows month 0 and day 0; they roll back into the month and year before.
    Row("packed month and day 0", 'p', 24 * 86400, 1, "30.11.2023");
    Row("h:mm", 't', 3900, 0, "1:05");
    Row("hh:mm", 't', 3900, 1, "01:05");
    Row("h:mm:ss", 't', 3723, 2, "1:02:03");
    Row("hh:mm:ss", 't', 3723, 3, "01:02:03");
    Row("duration past a day", 't', 90000, 1, "25:00");
    Row("largest duration", 't', 4294967295u, 2, "1193046:28:15");
}

// Every value of the table is exact as a double: a float, or an unsigned 32-bit number.
void TestDatesFormats::Texts() {
    QFETCH(char, cFrom);
    QFETCH(double, dValue);
    QFETCH(int, iStyle);
    const uint32_t uiValue = cFrom == 'f' ? 0 : static_cast<uint32_t>(dValue);
    if (cFrom == 'f')
        QTEST(QByteArray(FormatFixed(static_cast<float>(dValue), iStyle)), "baText");
    else if (cFrom == 't')
        QTEST(QByteArray(FormatTime(uiValue, iStyle & 2, iStyle & 1)), "baText");
    else
        QTEST(QByteArray(FormatDate(cFrom == 'p' ? PackedTimeToDate(uiValue) : JulianDate(uiValue), iStyle)),
              "baText");
}

void TestDatesFormats::IGCFileName_data() {
    QTest::addColumn<uint>("uiDt");
    QTest::addColumn<int>("iDailyNr");
    QTest::addColumn<uint>("uiSerial"); // its last three base-36 digits name the instrument
    QTest::addColumn<QByteArray>("baName");
    const auto Row = [](const char* pszName, uint uiDt, int iDailyNr, uint uiSerial,
                        const char* pszFileName) {
        QTest::newRow(pszName) << uiDt << iDailyNr << uiSerial << QByteArray(pszFileName);
    };

    Row("17 May 2024", 2460448, 1, 12345, "2024-05-17-VNK-9IX-01.igc");
    Row("three-digit flight number", 2460370, 255, 35, "2024-02-29-VNK-00Z-255.igc");
    Row("five-digit year", uint(QDate(10000, 1, 1).toJulianDay()), 7, 1000, "10000-01-01-VNK-0RS-07.igc");
    Row("serial digit carry", 2460448, 1, 36, "2024-05-17-VNK-010-01.igc");
    Row("largest serial of three digits", 2460448, 1, 46655, "2024-05-17-VNK-ZZZ-01.igc");
    Row("serial wraps", 2460448, 1, 46656, "2024-05-17-VNK-000-01.igc");
    Row("32-bit serial", 2460448, 1, 4294967295u, "2024-05-17-VNK-1Z3-01.igc");
}

void TestDatesFormats::IGCFileName() {
    QFETCH(uint, uiDt);
    QFETCH(int, iDailyNr);
    QFETCH(uint, uiSerial);
    QTEST(QByteArray(FormatIGCFileName(uiDt, static_cast<uint8_t>(iDailyNr), uiSerial)), "baName");
}

QTEST_APPLESS_MAIN(TestDatesFormats)
#include "test_dates_formats.moc"
