// The simulated instrument's line pace: at a baud rate every byte takes ten bit times on the wire in both
// directions, never less, and a burst keeps the pace on average. Driven through the pseudo-terminal with
// plain POSIX calls, the clock read as each piece arrives.
#include "sim/SimInstrument.h"

#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

double ByteMs(int iBaud) {
    return 10000.0 / iBaud;
}

QByteArray Pattern(int iBytes) {
    QByteArray baBytes;
    for (int i = 0; i < iBytes; ++i)
        baBytes += static_cast<char>('A' + i % 26);
    return baBytes;
}

} // namespace

class TestLinePace : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    SimInstrument* pSim = nullptr;
    int iFd = -1;
    QSocketNotifier* pNotifier = nullptr;
    QElapsedTimer clock;
    QByteArray baArrived;
    // Milliseconds on the clock at which baArrived had reached each size.
    QList<QPair<int, double>> aArrivals;

private slots:
    void init() {
        pSim = new SimInstrument;
        pSim->SetLinkPath(dir.filePath("vornik0"));
        QVERIFY(pSim->Open());
        iFd = open(pSim->DevicePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(iFd >= 0);
        baArrived.clear();
        aArrivals.clear();
        clock.start();
        pNotifier = new QSocketNotifier(iFd, QSocketNotifier::Read);
        connect(pNotifier, &QSocketNotifier::activated, this, [this] {
            char acBuf[4096];
            const ssize_t iRead = read(iFd, acBuf, sizeof(acBuf));
            if (iRead <= 0)
                return;
            baArrived.append(acBuf, static_cast<int>(iRead));
            aArrivals.append({static_cast<int>(baArrived.size()), clock.nsecsElapsed() / 1e6});
        });
    }
    void cleanup() {
        delete pNotifier;
        close(iFd);
        delete pSim;
    }

    // A burst of iBytes from the instrument: no byte before its wire time, the whole within a little of it.
    void toTheTool_data() {
        QTest::addColumn<int>("iBaud");
        QTest::addColumn<int>("iBytes");
        QTest::newRow("9600 baud") << 9600 << 96;
        QTest::newRow("19200 baud") << 19200 << 192;
        QTest::newRow("115200 baud") << 115200 << 1152;
    }
    void toTheTool() {
        QFETCH(int, iBaud);
        QFETCH(int, iBytes);
        QVERIFY(pSim->SetLineBaud(iBaud));
        const double fStartMs = clock.nsecsElapsed() / 1e6;
        pSim->SendTraffic(Pattern(iBytes));
        QTRY_COMPARE_WITH_TIMEOUT(baArrived.size(), iBytes, 2000);
        QCOMPARE(baArrived, Pattern(iBytes));
        for (const auto& arrival : std::as_const(aArrivals))
            QVERIFY2(arrival.second + 0.001 >= fStartMs + arrival.first * ByteMs(iBaud),
                     qPrintable(
                         QString("%1 bytes after %2 ms").arg(arrival.first).arg(arrival.second - fStartMs)));
        QVERIFY2(aArrivals.size() > 2, "the burst came in one piece");
        QVERIFY(aArrivals.last().second - fStartMs < iBytes * ByteMs(iBaud) + 150.0);
    }

    // The instrument reads a request no sooner than its last byte could have crossed, and answers after.
    void toTheInstrument() {
        QVERIFY(pSim->SetLineBaud(9600));
        double fReadMs = -1.0;
        connect(pSim, &SimInstrument::RequestReceived, this, [&] { fReadMs = clock.nsecsElapsed() / 1e6; });
        const QByteArray baRequest = "$VNREQ,0*42\r\n";
        const double fSentMs = clock.nsecsElapsed() / 1e6;
        QCOMPARE(write(iFd, baRequest.constData(), baRequest.size()), ssize_t(baRequest.size()));
        QTRY_VERIFY_WITH_TIMEOUT(baArrived.endsWith("\r\n"), 2000);
        QVERIFY(fReadMs >= fSentMs + baRequest.size() * ByteMs(9600));
        QVERIFY(baArrived.startsWith("$VNINFO2,"));
        QVERIFY(aArrivals.last().second >= fReadMs + baArrived.size() * ByteMs(9600));
    }

    // Unpaced, as every other test runs it, a burst is there at once.
    void offByDefault() {
        QCOMPARE(pSim->LineBaud(), 0);
        pSim->SendTraffic(Pattern(960));
        QTRY_COMPARE_WITH_TIMEOUT(baArrived.size(), 960, 2000);
        QVERIFY(aArrivals.last().second < 960 * ByteMs(9600) / 4);
    }

    // What still waits on the wire is handed over at once when the pace is taken off.
    void paceTakenOff() {
        QVERIFY(pSim->SetLineBaud(300));
        pSim->SendTraffic(Pattern(60));
        QTRY_VERIFY_WITH_TIMEOUT(!baArrived.isEmpty(), 2000);
        QVERIFY(baArrived.size() < 30);
        QVERIFY(pSim->SetLineBaud(0));
        const double fOffMs = clock.nsecsElapsed() / 1e6;
        QTRY_COMPARE_WITH_TIMEOUT(baArrived.size(), 60, 2000);
        QCOMPARE(baArrived, Pattern(60));
        QVERIFY(aArrivals.last().second - fOffMs < 500.0);
    }
};

QTEST_GUILESS_MAIN(TestLinePace)
#include "test_line_pace.moc"
