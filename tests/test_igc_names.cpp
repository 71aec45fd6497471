// IGC flight file names, asked of a real window through its meta-object: the operations are private slots.
#include "app/MainWindow.h"

#include <QtTest>

#include <memory>

namespace {

const char* IGCSerial(MainWindow& window, uint32_t uiSerial) {
    const char* pcText = nullptr;
    const bool bCalled =
        QMetaObject::invokeMethod(&window, "GetIGCSerial", Qt::DirectConnection,
                                  Q_RETURN_ARG(const char*, pcText), Q_ARG(uint32_t, uiSerial));
    return bCalled ? pcText : nullptr;
}

const char* IGCFileName(MainWindow& window, uint32_t uiDt, uint8_t byDailyNr, uint32_t uiSerial) {
    const char* pcText = nullptr;
    const bool bCalled = QMetaObject::invokeMethod(&window, "GetIGCFileName", Qt::DirectConnection,
                                                   Q_RETURN_ARG(const char*, pcText), Q_ARG(uint32_t, uiDt),
                                                   Q_ARG(uint8_t, byDailyNr), Q_ARG(uint32_t, uiSerial));
    return bCalled ? pcText : nullptr;
}

} // namespace

class TestIGCNames : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void Serial_data();
    void Serial();
    void FileName_data();
    void FileName();
    void FileNameLeavesItsSerial();

private:
    std::unique_ptr<MainWindow> pWindow;
};

void TestIGCNames::initTestCase() {
    pWindow = std::make_unique<MainWindow>();
}

void TestIGCNames::cleanupTestCase() {
    pWindow.reset();
}

void TestIGCNames::Serial_data() {
    QTest::addColumn<uint>("uiSerial");
    QTest::addColumn<QByteArray>("baText");

    QTest::newRow("zero") << 0u << QByteArray("000");
    QTest::newRow("last digit") << 35u << QByteArray("00Z");
    QTest::newRow("carry") << 36u << QByteArray("010");
    QTest::newRow("1000") << 1000u << QByteArray("0RS");
    QTest::newRow("12345") << 12345u << QByteArray("9IX");
    QTest::newRow("largest") << 46655u << QByteArray("ZZZ");
    QTest::newRow("wraps") << 46656u << QByteArray("000");
    QTest::newRow("32-bit maximum") << 4294967295u << QByteArray("1Z3");
}

void TestIGCNames::Serial() {
    QFETCH(uint, uiSerial);
    QFETCH(QByteArray, baText);
    const char* pcText = IGCSerial(*pWindow, uiSerial);
    QVERIFY(pcText != nullptr);
    QCOMPARE(QByteArray(pcText), baText);
}

void TestIGCNames::FileName_data() {
    QTest::addColumn<uint>("uiDt");
    QTest::addColumn<int>("iDailyNr");
    QTest::addColumn<uint>("uiSerial");
    QTest::addColumn<QByteArray>("baName");

    QTest::newRow("17 May 2024") << 2460448u << 1 << 12345u << QByteArray("2024-05-17-VNK-9IX-01.igc");
    QTest::newRow("first day of 2000") << 2451545u << 12 << 46656u << QByteArray("2000-01-01-VNK-000-12.igc");
    QTest::newRow("three-digit flight number")
        << 2460370u << 255 << 35u << QByteArray("2024-02-29-VNK-00Z-255.igc");
    QTest::newRow("five-digit year") << uint(QDate(10000, 1, 1).toJulianDay()) << 7 << 1000u
                                     << QByteArray("10000-01-01-VNK-0RS-07.igc");
}

void TestIGCNames::FileName() {
    QFETCH(uint, uiDt);
    QFETCH(int, iDailyNr);
    QFETCH(uint, uiSerial);
    QFETCH(QByteArray, baName);
    const char* pcName = IGCFileName(*pWindow, uiDt, static_cast<uint8_t>(iDailyNr), uiSerial);
    QVERIFY(pcName != nullptr);
    QCOMPARE(QByteArray(pcName), baName);
}

// The name is formed with the serial operation's own buffer, so an earlier serial text is replaced.
void TestIGCNames::FileNameLeavesItsSerial() {
    const char* pcSerial = IGCSerial(*pWindow, 0);
    QVERIFY(pcSerial != nullptr);
    QVERIFY(IGCFileName(*pWindow, 2460448u, 1, 12345u) != nullptr);
    QCOMPARE(QByteArray(pcSerial), QByteArray("9IX"));
}

QTEST_MAIN(TestIGCNames)
#include "test_igc_names.moc"
