// The lenient field converters: defaults for unreadable text, wrap-around where the instrument wraps,
// and no reading beyond a field's end.
#include "common/FieldParsers.h"
#include "common/ParserNMEA.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

using namespace common;

class TestFieldParsers : public QObject {
    Q_OBJECT

private slots:
    void Integers_data();
    void Integers();
    void Reals_data();
    void Reals();
};

void TestFieldParsers::Integers_data() {
    QTest::addColumn<char>("cParser"); // i: ParseInt with default 5, h: ParseHex, x: with "0x", t: ParseTime
    QTest::addColumn<QByteArray>("baText");
    QTest::addColumn<qint64>("iExpected");
    const auto Row = [](const char* pszName, char cParser, const char* pszText, qint64 iExpected) {
        QTest::newRow(pszName) << cParser << QByteArray(pszText) << iExpected;
    };

    Row("int: lone minus", 'i', "-", 5);
    Row("int: spaces, sign and tail", 'i', "  -12x", -12);
    Row("int: all six white spaces, plus", 'i', " \t\n\v\f\r+42", 42);
    Row("int: top-bit byte is no digit", 'i', "\xb5", 5);
    Row("int: lowest", 'i', "-2147483648", std::numeric_limits<int>::min());
    Row("int: wraps past 2^32", 'i', "4294967297", 1);

    Row("hex: mixed case, stops at G", 'h', "1A2bG3", 6699);
    Row("hex: no digit", 'h', "-1", 0);
    Row("hex: prefix not expected", 'h', "0x10", 0);
    Row("hex: wraps past 32 bits", 'h', "123456789", 0x23456789);
    Row("hex: capital prefix", 'x', "0X1f", 31);
    Row("hex: prefix missing", 'x', "10", 0);

    Row("time: h:m:s", 't', "1:02:03", 3723);
    Row("time: sixty minutes accepted", 't', "0:60:00", 3600);
    Row("time: 61 minutes", 't', "0:61:00", -1);
    Row("time: 60 seconds", 't', "0:00:60", -1);
    Row("time: h:m", 't', "1:30", 5400);
    Row("time: h:m with 61 minutes", 't', "1:61", -1);
    Row("time: no colon", 't', "12", -1);
    Row("time: three colons", 't', "1:2:3:4", -1);
    Row("time: leading space", 't', " 1:02:03", -1);
    Row("time: largest", 't', "596523:14:07", 2147483647);
    Row("time: one second too many", 't', "596523:14:08", -1);
    Row("time: hours overflow", 't', "99999999999:00:00", -1);
    // 2^64 + 5 seconds: a number read on past 64 bits would come back as 5.
    Row("time: seconds past 64 bits", 't', "0:00:18446744073709551621", -1);
}

void TestFieldParsers::Integers() {
    QFETCH(char, cParser);
    QFETCH(QByteArray, baText);
    const char* pszText = baText.constData();
    if (cParser == 'i')
        QTEST(qint64(ParseInt(pszText, 5)), "iExpected");
    else if (cParser == 't')
        QTEST(qint64(ParseTime(pszText)), "iExpected");
    else
        QTEST(qint64(ParseHex(pszText, cParser == 'x')), "iExpected");
}

void TestFieldParsers::Reals_data() {
    QTest::addColumn<int>("iDegDigits"); // 0: ParseFloat; 2 or 3: ParseCoordinate, expected in degrees
    QTest::addColumn<QByteArray>("baText");
    QTest::addColumn<double>("dExpected");
    const auto Row = [](const char* pszName, int iDegDigits, const QByteArray& baText, double dExpected) {
        QTest::newRow(pszName) << iDegDigits << baText << dExpected;
    };

    Row("negative", 0, "-0.25", -0.25f);
    Row("decimal comma", 0, ",5", 0.5f);
    Row("exponent", 0, "1.5E2", 150.0f);
    Row("negative exponent", 0, "2e-1", 0.2f);
    Row("space after exponent letter", 0, "1e 2", 100.0f);
    Row("exponent without digits", 0, "3E", 3.0f);
    Row("spaces, sign and tail", 0, "  +4.75xyz", 4.75f);
    Row("integer part above 2^31", 0, "4294967295", 4294967296.0f);
    Row("long fraction", 0, "0.1234567890123456789012345", 0.12345679f);
    Row("fraction longer than 64 digits", 0, "1." + QByteArray(70, '0') + "5", 1.0f);
    Row("zero with huge exponent", 0, "0e99", 0.0f);
    Row("exponent does not wrap", 0, "1e4294967297", std::numeric_limits<float>::infinity());
    Row("latitude", 2, "4807.038", 48.0 + 7.038 / 60.0);
    Row("longitude", 3, "01131.000", 11.0 + 31.0 / 60.0);
    Row("degrees only", 2, "48", 48.0);
    // "_" stands for the field's terminator: digits after it must not be taken for the minutes.
    Row("cut inside the degrees", 2, "4_30.0", 4.0);
    Row("longitude cut short", 3, "12_9.5", 12.0);
}

void TestFieldParsers::Reals() {
    QFETCH(int, iDegDigits);
    QFETCH(QByteArray, baText);
    QFETCH(double, dExpected);
    if (iDegDigits == 0) {
        const float fResult = ParseFloat(baText.constData());
        const float fExpected = static_cast<float>(dExpected);
        // Bit-exact, so that a result one rounding step off still fails.
        QVERIFY2(memcmp(&fResult, &fExpected, sizeof fResult) == 0 || (fResult == 0.0f && fExpected == 0.0f),
                 qPrintable(QString::number(fResult, 'g', 10)));
        return;
    }
    baText.replace('_', '\0');
    const float fResult = ParserNMEA().ParseCoordinate(baText.constData(), static_cast<uint8_t>(iDegDigits));
    const double dRadians = dExpected * 3.14159265358979323846 / 180.0;
    QVERIFY2(std::fabs(fResult - dRadians) < 1e-6, qPrintable(QString::number(fResult, 'g', 9)));
}

QTEST_APPLESS_MAIN(TestFieldParsers)
#include "test_field_parsers.moc"
