// Day numbers against Qt's own calendar, the instrument's packed logbook time, and the display texts.
#include "common/Formats.h"
#include "common/JulianDate.h"

#include <QDate>
#include <QtTest>

#include <limits>

using namespace common;

class TestDatesFormats : public QObject {
    Q_OBJECT

private slots:
    void EveryDayOfTwoCenturies();
    void WholeDayNumberRange();
    void CalendarDate_data();
    void CalendarDate();
    void DayNumberZero();
    void PackedTime_data();
    void PackedTime();
    void Fixed_data();
    void Fixed();
    void Date_data();
    void Date();
    void Time_data();
    void Time();
};

void TestDatesFormats::EveryDayOfTwoCenturies() {
    const QDate dtLast(2100, 12, 31);
    for (QDate dt(1900, 1, 1); dt <= dtLast; dt = dt.addDays(1)) {
        const JulianDate date(dt.year(), dt.month(), dt.day());
        QCOMPARE(qint64(date.uiDayNumber), dt.toJulianDay());
        const JulianDate back(static_cast<uint32_t>(dt.toJulianDay()));
        QCOMPARE(back.Year(), dt.year());
        QCOMPARE(back.Month(), dt.month());
        QCOMPARE(back.Day(), dt.day());
    }
}

// Every 32-bit day number reads back as a real date, far beyond the range where 32-bit steps overflow.
void TestDatesFormats::WholeDayNumberRange() {
    const uint64_t uiLast = std::numeric_limits<uint32_t>::max();
    for (uint64_t uiDay = 0;; uiDay += 65521) {
        if (uiDay > uiLast)
            uiDay = uiLast;
        const JulianDate date(static_cast<uint32_t>(uiDay));
        const QDate dt = QDate::fromJulianDay(qint64(uiDay));
        QVERIFY(dt.isValid());
        QCOMPARE(date.Year(), dt.year());
        QCOMPARE(date.Month(), dt.month());
        QCOMPARE(date.Day(), dt.day());
        if (uiDay == uiLast)
            break;
    }
}

void TestDatesFormats::CalendarDate_data() {
    QTest::addColumn<int>("iYear");
    QTest::addColumn<int>("iMonth");
    QTest::addColumn<int>("iDay");
    QTest::addColumn<uint>("uiDayNumber");

    QTest::newRow("2000-01-01") << 2000 << 1 << 1 << 2451545u;
    QTest::newRow("leap day 2024") << 2024 << 2 << 29 << 2460370u;
    QTest::newRow("after leap day") << 2024 << 3 << 1 << 2460371u;
    QTest::newRow("2099-12-31") << 2099 << 12 << 31 << 2488069u;
    QTest::newRow("month 0 is December before") << 2024 << 0 << 15 << uint(QDate(2023, 12, 15).toJulianDay());
    QTest::newRow("day 0 is the last of February") << 2024 << 3 << 0 << 2460370u;
    QTest::newRow("month 13 is January after") << 2024 << 13 << 1 << uint(QDate(2025, 1, 1).toJulianDay());
}

void TestDatesFormats::CalendarDate() {
    QFETCH(int, iYear);
    QFETCH(int, iMonth);
    QFETCH(int, iDay);
    QFETCH(uint, uiDayNumber);
    QCOMPARE(JulianDate(iYear, iMonth, iDay).uiDayNumber, uiDayNumber);
}

void TestDatesFormats::DayNumberZero() {
    const JulianDate date;
    QCOMPARE(date.uiDayNumber, 0u);
    QCOMPARE(date.Day(), 24);
    QCOMPARE(date.Month(), 11);
    QCOMPARE(date.Year(), -4714);
}

void TestDatesFormats::PackedTime_data() {
    QTest::addColumn<uint>("uiPackedTime");
    QTest::addColumn<uint>("uiDayNumber");

    QTest::newRow("17 May 2024 13:45:10") << 1954763110u << 2460448u;
    QTest::newRow("last second of 31 Dec 2099") << 3594239999u << 2488069u;
    QTest::newRow("month and day 0 roll back") << 24u * 86400u << uint(QDate(2023, 11, 30).toJulianDay());
}

void TestDatesFormats::PackedTime() {
    QFETCH(uint, uiPackedTime);
    QFETCH(uint, uiDayNumber);
    QCOMPARE(PackedTimeToDate(uiPackedTime).uiDayNumber, uiDayNumber);
}

void TestDatesFormats::Fixed_data() {
    QTest::addColumn<float>("fValue");
    QTest::addColumn<int>("iDecimals");
    QTest::addColumn<QByteArray>("baText");

    QTest::newRow("negative, one decimal") << -2.5f << 1 << QByteArray("-2.5");
    QTest::newRow("rounds up into the integer") << 9.96f << 1 << QByteArray("10.0");
    QTest::newRow("zero has no sign") << 0.0f << 1 << QByteArray("0.0");
    QTest::newRow("two decimals") << 3.14159f << 2 << QByteArray("3.14");
    QTest::newRow("negative below one") << -0.05f << 2 << QByteArray("-0.05");
    QTest::newRow("zero-padded fraction") << 1.05f << 3 << QByteArray("1.050");
    QTest::newRow("half up") << 2.5f << 0 << QByteArray("3");
    QTest::newRow("negative half toward plus") << -2.5f << 0 << QByteArray("-2");
    QTest::newRow("negative rounds down") << -2.6f << 0 << QByteArray("-3");
    QTest::newRow("hundreds") << 1234.5f << -2 << QByteArray("1200");
    QTest::newRow("negative half away from zero") << -1250.0f << -2 << QByteArray("-1300");
    // Out of range of "%d": saturated instead of an undefined conversion.
    QTest::newRow("huge with decimals") << 1e10f << 1 << QByteArray("2147483647.0");
    QTest::newRow("huge negative, no decimals") << -1e10f << 0 << QByteArray("-2147483647");
    QTest::newRow("infinity in hundreds")
        << std::numeric_limits<float>::infinity() << -2 << QByteArray("2147483647");
    QTest::newRow("NaN") << std::numeric_limits<float>::quiet_NaN() << 2 << QByteArray("0.00");
    QTest::newRow("power beyond float") << 5.0f << std::numeric_limits<int>::min() << QByteArray("0");
    QTest::newRow("decimals capped at nine") << 0.5f << 12 << QByteArray("0.500000000");
}

void TestDatesFormats::Fixed() {
    QFETCH(float, fValue);
    QFETCH(int, iDecimals);
    QFETCH(QByteArray, baText);
    QCOMPARE(QByteArray(FormatFixed(fValue, iDecimals)), baText);
}

void TestDatesFormats::Date_data() {
    QTest::addColumn<uint>("uiDayNumber");
    QTest::addColumn<int>("iFormat");
    QTest::addColumn<QByteArray>("baText");

    QTest::newRow("two-digit year") << 2460448u << 0 << QByteArray("17.05.24");
    QTest::newRow("full year") << 2460448u << 1 << QByteArray("17.05.2024");
    QTest::newRow("format 2") << 2460448u << 2 << QByteArray("Inv. fmt");
    QTest::newRow("padded two-digit year")
        << uint(QDate(2005, 1, 1).toJulianDay()) << 0 << QByteArray("01.01.05");
    QTest::newRow("before the common era") << 0u << 1 << QByteArray("24.11.-4714");
}

void TestDatesFormats::Date() {
    QFETCH(uint, uiDayNumber);
    QFETCH(int, iFormat);
    QFETCH(QByteArray, baText);
    QCOMPARE(QByteArray(FormatDate(JulianDate(uiDayNumber), iFormat)), baText);
}

void TestDatesFormats::Time_data() {
    QTest::addColumn<uint>("uiSeconds");
    QTest::addColumn<bool>("bWithSeconds");
    QTest::addColumn<bool>("bLeadingZero");
    QTest::addColumn<QByteArray>("baText");

    QTest::newRow("hh:mm") << 49510u << false << true << QByteArray("13:45");
    QTest::newRow("h:mm:ss") << 49510u << true << false << QByteArray("13:45:10");
    QTest::newRow("no leading zero") << 3900u << false << false << QByteArray("1:05");
    QTest::newRow("leading zero with seconds") << 3723u << true << true << QByteArray("01:02:03");
    QTest::newRow("duration past a day") << 90000u << false << true << QByteArray("25:00");
    QTest::newRow("largest") << 4294967295u << true << false << QByteArray("1193046:28:15");
}

void TestDatesFormats::Time() {
    QFETCH(uint, uiSeconds);
    QFETCH(bool, bWithSeconds);
    QFETCH(bool, bLeadingZero);
    QFETCH(QByteArray, baText);
    QCOMPARE(QByteArray(FormatTime(uiSeconds, bWithSeconds, bLeadingZero)), baText);
}

QTEST_APPLESS_MAIN(TestDatesFormats)
#include "test_dates_formats.moc"
