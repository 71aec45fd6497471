// IGC flight file names, asked of a real window through its meta-object: the operation is a private slot.
#include "app/MainWindow.h"

#include <QtTest>

class TestIGCNames : public QObject {
    Q_OBJECT

private slots:
    void FileName_data();
    void FileName();

private:
    MainWindow window;
};

void TestIGCNames::FileName_data() {
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

void TestIGCNames::FileName() {
    QFETCH(uint, uiDt);
    QFETCH(int, iDailyNr);
    QFETCH(uint, uiSerial);
    const char* pcName = nullptr;
    QVERIFY(QMetaObject::invokeMethod(
        &window, "GetIGCFileName", Qt::DirectConnection, Q_RETURN_ARG(const char*, pcName),
        Q_ARG(uint32_t, uiDt), Q_ARG(uint8_t, static_cast<uint8_t>(iDailyNr)), Q_ARG(uint32_t, uiSerial)));
    QTEST(QByteArray(pcName), "baName");
}

QTEST_MAIN(TestIGCNames)
#include "test_igc_names.moc"
