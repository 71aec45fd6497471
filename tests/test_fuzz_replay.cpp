// The fuzzer's seed corpus and every input it ever found a fault with, replayed through the same checks
// as in the fuzzer: a broken rule aborts this program. Each input must also give the same records twice.
#include "StderrCapture.h"
#include "fuzz/ProtocolHarness.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <unistd.h>

class TestFuzzReplay : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void Replays_data();
    void Replays();
};

void TestFuzzReplay::initTestCase() {
    // The parser's messages are captured below; a broken rule still reaches the real standard error.
    fuzz::SetFailureStream(fdopen(dup(STDERR_FILENO), "w"));
}

void TestFuzzReplay::Replays_data() {
    QTest::addColumn<QString>("sPath");
    const QString sFuzzDir = QFINDTESTDATA("../fuzz");
    QVERIFY(!sFuzzDir.isEmpty());
    for (const char* pszSet : {"corpus/protocol", "regressions/protocol"}) {
        const QDir dir(sFuzzDir + "/" + pszSet);
        for (const QString& sName : dir.entryList(QDir::Files, QDir::Name))
            QTest::newRow(qPrintable(QStringLiteral("%1/%2").arg(pszSet, sName))) << dir.filePath(sName);
    }
}

void TestFuzzReplay::Replays() {
    QFETCH(QString, sPath);
    QFile file(sPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray baInput = file.readAll();
    const uint8_t* pbyInput = reinterpret_cast<const uint8_t*>(baInput.constData());
    StderrCapture capture;
    const uint64_t uiFirst = fuzz::RunProtocolInput(pbyInput, static_cast<size_t>(baInput.size()));
    const uint64_t uiSecond = fuzz::RunProtocolInput(pbyInput, static_cast<size_t>(baInput.size()));
    capture.Text();
    QCOMPARE(uiSecond, uiFirst);
}

QTEST_APPLESS_MAIN(TestFuzzReplay)

#include "test_fuzz_replay.moc"
