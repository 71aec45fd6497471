// The lenient field converters: defaults for unreadable text, wrap-around where the instrument wraps,
// and no reading beyond a field's end.
#include "common/FieldParsers.h"
#include "common/ParserNMEA.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

using namespace common;

namespace {

// Bit-exact, so that a result one rounding step off still fails.
bool SameFloat(float fA, float fB) {
    return std::memcmp(&fA, &fB, sizeof fA) == 0 || (fA == 0.0f && fB == 0.0f);
}

} // namespace

class TestFieldParsers : public QObject {
    Q_OBJECT

private slots:
    void Int_data();
    void Int();
    void Float_data();
    void Float();
    void Hex_data();
    void Hex();
    void Time_data();
    void Time();
    void Coordinate_data();
    void Coordinate();
};

void TestFieldParsers::Int_data() {
    QTest::addColumn<QByteArray>("baText");
    QTest::addColumn<int>("iDefault");
    QTest::addColumn<int>("iExpected");

    QTest::newRow("empty") << QByteArray("") << 7 << 7;
    QTest::newRow("letters") << QByteArray("abc") << 5 << 5;
    QTest::newRow("lone minus") << QByteArray("-") << 5 << 5;
    QTest::newRow("sign then space") << QByteArray("- 5") << 9 << 9;
    QTest::newRow("spaces and tail") << QByteArray("  -12x") << 0 << -12;
    QTest::newRow("all six white spaces") << QByteArray(" \t\n\v\f\r42") << 0 << 42;
    QTest::newRow("fraction ignored") << QByteArray("1.9") << 0 << 1;
    QTest::newRow("plus") << QByteArray("+7") << 0 << 7;
    QTest::newRow("top-bit byte is no digit") << QByteArray("\xb5") << 3 << 3;
    QTest::newRow("int min") << QByteArray("-2147483648") << 0 << std::numeric_limits<int>::min();
    QTest::newRow("wraps past 2^31") << QByteArray("2147483648") << 0 << std::numeric_limits<int>::min();
    QTest::newRow("wraps past 2^32") << QByteArray("4294967297") << 0 << 1;
}

void TestFieldParsers::Int() {
    QFETCH(QByteArray, baText);
    QFETCH(int, iDefault);
    QFETCH(int, iExpected);
    QCOMPARE(ParseInt(baText.constData(), iDefault), iExpected);
}

void TestFieldParsers::Float_data() {
    QTest::addColumn<QByteArray>("baText");
    QTest::addColumn<float>("fExpected");

    const float fInf = std::numeric_limits<float>::infinity();
    QTest::newRow("empty") << QByteArray("") << 0.0f;
    QTest::newRow("letters") << QByteArray("abc") << 0.0f;
    QTest::newRow("decimal") << QByteArray("12.5") << 12.5f;
    QTest::newRow("negative") << QByteArray("-0.25") << -0.25f;
    QTest::newRow("decimal comma") << QByteArray(",5") << 0.5f;
    QTest::newRow("exponent") << QByteArray("1.5E2") << 150.0f;
    QTest::newRow("negative exponent") << QByteArray("2e-1") << 0.2f;
    QTest::newRow("plus exponent") << QByteArray("12.5e+1") << 125.0f;
    QTest::newRow("space after exponent letter") << QByteArray("1e 2") << 100.0f;
    QTest::newRow("exponent without digits") << QByteArray("3E") << 3.0f;
    QTest::newRow("spaces, sign and tail") << QByteArray("  +4.75xyz") << 4.75f;
    QTest::newRow("integer part above 2^31") << QByteArray("4294967295") << 4294967296.0f;
    QTest::newRow("long fraction") << QByteArray("0.1234567890123456789012345") << 0.12345679f;
    QTest::newRow("fraction longer than 64 digits") << QByteArray("1." + QByteArray(70, '0') + "5") << 1.0f;
    QTest::newRow("zero with huge exponent") << QByteArray("0e99") << 0.0f;
    QTest::newRow("exponent does not wrap") << QByteArray("1e4294967297") << fInf;
}

void TestFieldParsers::Float() {
    QFETCH(QByteArray, baText);
    QFETCH(float, fExpected);
    const float fResult = ParseFloat(baText.constData());
    QVERIFY2(SameFloat(fResult, fExpected), qPrintable(QString::number(fResult, 'g', 10)));
}

void TestFieldParsers::Hex_data() {
    QTest::addColumn<QByteArray>("baText");
    QTest::addColumn<bool>("bPrefix");
    QTest::addColumn<uint>("uiExpected");

    QTest::newRow("mixed case") << QByteArray("1A2b") << false << 6699u;
    QTest::newRow("stops at G") << QByteArray("FFG") << false << 255u;
    QTest::newRow("empty") << QByteArray("") << false << 0u;
    QTest::newRow("no digit") << QByteArray("-1") << false << 0u;
    QTest::newRow("prefix") << QByteArray("0x10") << true << 16u;
    QTest::newRow("capital prefix") << QByteArray("0X1f") << true << 31u;
    QTest::newRow("prefix missing") << QByteArray("10") << true << 0u;
    QTest::newRow("prefix only") << QByteArray("0x") << true << 0u;
    QTest::newRow("prefix not expected") << QByteArray("0x10") << false << 0u;
    QTest::newRow("full 32 bits") << QByteArray("FFFFFFFF") << false << 4294967295u;
    QTest::newRow("wraps past 32 bits") << QByteArray("123456789") << false << 0x23456789u;
}

void TestFieldParsers::Hex() {
    QFETCH(QByteArray, baText);
    QFETCH(bool, bPrefix);
    QFETCH(uint, uiExpected);
    QCOMPARE(ParseHex(baText.constData(), bPrefix), uiExpected);
}

void TestFieldParsers::Time_data() {
    QTest::addColumn<QByteArray>("baText");
    QTest::addColumn<int>("iExpected");

    QTest::newRow("h:m:s") << QByteArray("1:02:03") << 3723;
    QTest::newRow("sixty minutes accepted") << QByteArray("0:60:00") << 3600;
    QTest::newRow("61 minutes") << QByteArray("0:61:00") << -1;
    QTest::newRow("60 seconds") << QByteArray("0:00:60") << -1;
    QTest::newRow("no colon") << QByteArray("12") << -1;
    QTest::newRow("three colons") << QByteArray("1:2:3:4") << -1;
    QTest::newRow("other separator") << QByteArray("1-2") << -1;
    QTest::newRow("leading space") << QByteArray(" 1:02:03") << -1;
    QTest::newRow("empty") << QByteArray("") << -1;
    QTest::newRow("empty numbers") << QByteArray("::5") << 5;
    QTest::newRow("hours beyond a day") << QByteArray("100:00:00") << 360000;
    QTest::newRow("h:m") << QByteArray("1:30") << 5400;
    QTest::newRow("h:m with 61 minutes") << QByteArray("1:61") << -1;
    QTest::newRow("largest") << QByteArray("596523:14:07") << 2147483647;
    QTest::newRow("one second too many") << QByteArray("596523:14:08") << -1;
    QTest::newRow("hours overflow") << QByteArray("99999999999:00:00") << -1;
}

void TestFieldParsers::Time() {
    QFETCH(QByteArray, baText);
    QFETCH(int, iExpected);
    QCOMPARE(ParseTime(baText.constData()), iExpected);
}

void TestFieldParsers::Coordinate_data() {
    QTest::addColumn<QByteArray>("baText");
    QTest::addColumn<int>("iDegDigits");
    QTest::addColumn<double>("dExpected");

    const double dRad = 3.14159265358979323846 / 180.0;
    QTest::newRow("latitude") << QByteArray("4807.038") << 2 << (48.0 + 7.038 / 60.0) * dRad;
    QTest::newRow("longitude") << QByteArray("01131.000") << 3 << (11.0 + 31.0 / 60.0) * dRad;
    QTest::newRow("pole") << QByteArray("9000.000") << 2 << 90.0 * dRad;
    QTest::newRow("empty") << QByteArray("") << 2 << 0.0;
    QTest::newRow("degrees only") << QByteArray("48") << 2 << 48.0 * dRad;
    // Digits after the terminator must not be taken for the field's minutes.
    QTest::newRow("cut inside the degrees") << QByteArray("4\0"
                                                          "30.0",
                                                          6)
                                            << 2 << 4.0 * dRad;
    QTest::newRow("longitude cut short") << QByteArray("12\0"
                                                       "9.5",
                                                       6)
                                         << 3 << 12.0 * dRad;
}

void TestFieldParsers::Coordinate() {
    QFETCH(QByteArray, baText);
    QFETCH(int, iDegDigits);
    QFETCH(double, dExpected);
    const ParserNMEA parser;
    const float fResult = parser.ParseCoordinate(baText.constData(), static_cast<uint8_t>(iDegDigits));
    QVERIFY2(std::fabs(fResult - dExpected) < 1e-6, qPrintable(QString::number(fResult, 'g', 9)));
}

QTEST_APPLESS_MAIN(TestFieldParsers)
#include "test_field_parsers.moc"
