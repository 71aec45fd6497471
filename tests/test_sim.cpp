// The simulated instrument where the end-to-end tests would not notice it going wrong, driven through
// its pseudo-terminal with plain POSIX calls, the clock read as each piece arrives. Sentences and CRC
// come from the instrument's own wire code: the tool's framer and test_protocol check those.
#include "sim/SimInstrument.h"

#include <QSignalSpy>
#include <QSocketNotifier>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray Frame(const QByteArray& baBody) {
    char acFrame[256];
    return {acFrame, static_cast<qsizetype>(sim::FrameSentence(baBody.constData(), acFrame, sizeof acFrame))};
}

} // namespace

class TestSim : public QObject {
    Q_OBJECT

    SimInstrument* pSim = nullptr;
    int iFd = -1; // the tool's end of the line, raw as the tool's port sets it
    QElapsedTimer clock;
    QList<QPair<qsizetype, double>> aArrivals; // what Collect had gathered, and when, in ms on the clock

    bool OpenTool() {
        iFd = open(pSim->DevicePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        return iFd >= 0;
    }
    void CloseTool() {
        close(iFd);
        iFd = -1;
    }
    bool Write(const QByteArray& baBytes) {
        return write(iFd, baBytes.constData(), baBytes.size()) == baBytes.size();
    }
    QByteArray ReadNow() {
        char acBuf[4096];
        return {acBuf, static_cast<qsizetype>(qMax<ssize_t>(0, read(iFd, acBuf, sizeof(acBuf))))};
    }
    double Now() const { return clock.nsecsElapsed() / 1e6; }
    // Runs the event loop, gathering what arrives until it holds at least iBytes and contains baUntil, or
    // ten seconds have passed.
    QByteArray Collect(const QByteArray& baUntil, qsizetype iBytes = 0) {
        QByteArray baAll;
        aArrivals.clear();
        for (const double fEndMs = Now() + 10000; Now() < fEndMs;) {
            if (baAll.size() >= iBytes && baAll.contains(baUntil))
                break;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            const QByteArray baRead = ReadNow();
            if (!baRead.isEmpty())
                aArrivals.append({(baAll += baRead).size(), Now()});
        }
        return baAll;
    }
    QByteArray Ask(const QByteArray& baBody) {
        Write(Frame(baBody));
        return Collect("\r\n");
    }

private slots:
    void init() {
        pSim = new SimInstrument;
        QVERIFY(pSim->Open() && OpenTool());
        clock.start();
    }
    void cleanup() {
        CloseTool();
        delete pSim;
    }

    // Settings the tool's widgets never send, stored as the instrument brings them into its ranges, then
    // reported after VNREQ,1; stored before: 0,3.0,10,5,42,2.
    void settings_data() {
        QTest::addColumn<QByteArray>("baModel");
        QTest::addColumn<QByteArray>("baCommand");
        QTest::addColumn<QByteArray>("baReported");
        const char* const apszRows[][4] = {
            {"clamped high", "Tovak_2", "VNSET2,130,12.3,150,25,1234567,9",
             "VNSET2,120,10.0,100,24,999999,4"},
            {"clamped low", "Tovak_2", "VNSET2,-20,0.2,-5,4294967290,-1,-3", "VNSET2,-10,0.5,0,-1,0,0"},
            {"rounded, unreadable kept", "Ulmar_2", "VNSET2,x,2.35,7,,8,1", "VNSET2,0,2.4,7,5,8,1"},
            {"short form refused", "Tovak_2", "VNSET2,77,3", "VNSET2,0,3.0,10,5,42,2"},
            {"Pelko_2 clamped", "Pelko_2", "VNSET2,1234567,-1", "VNSET2,0,3.0,10,5,999999,0"},
            {"Pelko_2 long form refused", "Pelko_2", "VNSET2,1,1.0,1,1,1,1", "VNSET2,0,3.0,10,5,42,2"},
        };
        for (const auto& row : apszRows)
            QTest::newRow(row[0]) << QByteArray(row[1]) << QByteArray(row[2]) << QByteArray(row[3]);
    }
    void settings() {
        QFETCH(QByteArray, baModel);
        QFETCH(QByteArray, baCommand);
        QFETCH(QByteArray, baReported);
        pSim->SetIdentity({baModel});
        pSim->SetSettings({0, 30, 10, 5, 42, 2});
        QVERIFY(Write(Frame(baCommand)));
        QCOMPARE(Ask("VNREQ,1"), Frame(baReported));
    }

    // With the tool's side closed the instrument waits for it: a line taken for hung up would wake it on
    // every pass of the event loop.
    void toolClosedWakesNothing() {
        CloseTool();
        int iWakes = 0;
        for (QSocketNotifier* pNotifier : pSim->findChildren<QSocketNotifier*>())
            connect(pNotifier, &QSocketNotifier::activated, this, [&iWakes] { ++iWakes; });
        for (int iPass = 0; iPass < 100; ++iPass)
            QCoreApplication::processEvents();
        QVERIFY2(iWakes < 50, qPrintable(QString::number(iWakes)));
    }

    // Other equipment talks between replies and around them, but holds back while flight parts are asked
    // for: every part after the first request arrives as its 128 bytes alone, padded with erased flash.
    void foreignTraffic() {
        pSim->AddFlight(1000);
        pSim->SetForeignTraffic(true);
        QVERIFY(Collect("*").contains('*'));
        const QByteArray baInfo = Frame("VNINFO2,Tovak_2,A7,512,1,4,7,2.0");
        Write(Frame("VNREQ,0"));
        QVERIFY(Collect(baInfo).contains(baInfo));
        const QByteArray baFlight = pSim->Flight(0).baData + QByteArray(24, '\xFF');
        Write(Frame("VNREQ,50,0,0"));
        QVERIFY(Collect(baFlight.left(128)).endsWith(baFlight.left(128)));
        for (int iPart = 1; iPart < 8; ++iPart) {
            Write(Frame("VNREQ,50,0," + QByteArray::number(iPart)));
            QCOMPARE(Collect("", 128), baFlight.mid(128 * iPart, 128));
        }
    }

    // At a baud rate every byte takes ten bit times on the wire in both directions, never less, and a
    // burst of other equipment's bytes keeps the pace. Unpaced, as most other tests run it, a burst that
    // would take a second at 9600 baud is there at once.
    void linePace_data() {
        QTest::addColumn<int>("baud");
        for (const int iBaud : {9600, 115200, 0}) // 0: unpaced
            QTest::addRow("%d baud", iBaud) << iBaud;
    }
    void linePace() {
        QFETCH(int, baud);
        const double fByteMs = baud > 0 ? 10000.0 / baud : 0.0;
        QVERIFY(pSim->LineBaud() == 0 && (baud == 0 || pSim->SetLineBaud(baud)));
        // The instrument reads a request no sooner than its last byte could have crossed, and answers after.
        double fReadMs = -1.0;
        connect(pSim, &SimInstrument::RequestReceived, this, [&] { fReadMs = Now(); });
        const double fSentMs = Now();
        const QByteArray baReply = Ask("VNREQ,0");
        QVERIFY(baReply.startsWith("$VNINFO2,"));
        QVERIFY(fReadMs >= fSentMs + Frame("VNREQ,0").size() * fByteMs);
        QVERIFY(aArrivals.last().second >= fReadMs + baReply.size() * fByteMs);

        QByteArray baBurst;
        for (int i = 0; i < (baud > 0 ? baud / 100 : 960); ++i)
            baBurst += static_cast<char>('A' + i % 26);
        const double fStartMs = Now();
        pSim->SendTraffic(baBurst + "\r\n");
        QCOMPARE(Collect("\r\n"), baBurst + "\r\n");
        for (const auto& arrival : std::as_const(aArrivals))
            QVERIFY2(arrival.second + 0.001 >= fStartMs + arrival.first * fByteMs,
                     qPrintable(
                         QString("%1 bytes after %2 ms").arg(arrival.first).arg(arrival.second - fStartMs)));
        // Paced, the burst trickles in over many reads; unpaced, it is there in one or two.
        QVERIFY2(baud > 0 ? aArrivals.size() > 2 : aArrivals.size() <= 2,
                 qPrintable(QString::number(aArrivals.size())));
    }

    // The tool's port closed while the loader starts: the loader asks again and again, then gives up, and
    // only its last request waits on the line. Then the test plays the tool through a whole update with
    // one chunk's CRC spoilt on the way: the chunk is asked for again and the image comes out whole.
    void updateRebuildsImage() {
        QByteArray baFile = SimInstrument::MakeUpdateHeader(872);
        for (int i = 0; i < 872; ++i)
            baFile += static_cast<char>(i * 7);
        QSignalSpy spy(pSim, &SimInstrument::UpdateFinished);
        Write(Frame("VNREQ,199"));
        CloseTool();
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, 20000);
        QCOMPARE(spy.takeFirst().at(0).toBool(), false);
        QVERIFY(OpenTool());
        QCOMPARE(ReadNow(), Frame("VNREQ,200"));
        QCOMPARE(Ask("VNREQ,199"), Frame("VNREQ,200"));
        Write(baFile.left(128));
        for (int iStep = 0; iStep < 3; ++iStep) { // chunk 0, chunk 1 spoilt, chunk 1 again
            const int iChunk = iStep == 0 ? 0 : 1;
            QCOMPARE(Collect("\r\n"), Frame("VNREQ,201," + QByteArray::number(iChunk)));
            const QByteArray baChunk = baFile.mid(128 + 512 * iChunk, 512).leftJustified(512, '\xFF');
            const uint16_t uiCrc =
                sim::Crc16Xmodem(reinterpret_cast<const uint8_t*>(baChunk.constData()), 512) ^ (iStep == 1);
            Write(baChunk + char(uiCrc & 0xFF) + char(uiCrc >> 8));
        }
        QTRY_COMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).toBool(), true);
        QCOMPARE(pSim->UpdateCrcErrors(), 1);
        QCOMPARE(pSim->UpdateImage(), baFile + QByteArray(152, '\xFF'));
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "test_sim.moc"
