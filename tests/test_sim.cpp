// The simulated instrument where the end-to-end tests would not notice it going wrong, driven through
// its pseudo-terminal with plain POSIX calls, the clock read as each piece arrives. Sentences and CRC
// come from the instrument's own wire code: the tool's framer and test_protocol check those.
#include "SentenceFeed.h"
#include "sim/SimInstrument.h"

#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

class TestSim : public QObject {
    Q_OBJECT

    SimInstrument* pSim = nullptr;
    int iFd = -1; // the tool's end of the line, raw as the tool's port sets it
    QElapsedTimer clock;
    QList<QPair<qsizetype, double>> aArrivals; // what Collect had gathered, and when, in ms on the clock

    bool Write(const QByteArray& baBytes) {
        return write(iFd, baBytes.constData(), baBytes.size()) == baBytes.size();
    }
    double Now() const { return clock.nsecsElapsed() / 1e6; }
    // Runs the event loop, gathering what arrives until it contains baUntil or ten seconds have passed.
    QByteArray Collect(const QByteArray& baUntil) {
        QByteArray baAll;
        aArrivals.clear();
        for (const double fEndMs = Now() + 10000; Now() < fEndMs && !baAll.contains(baUntil);) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            char acBuf[4096];
            const ssize_t iRead = read(iFd, acBuf, sizeof acBuf);
            if (iRead > 0)
                aArrivals.append({(baAll += QByteArray(acBuf, iRead)).size(), Now()});
        }
        return baAll;
    }

private slots:
    void init() {
        pSim = new SimInstrument;
        QVERIFY(pSim->Open());
        iFd = open(pSim->DevicePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(iFd >= 0);
        clock.start();
    }
    void cleanup() {
        close(iFd);
        delete pSim;
    }

    // Settings the tool's widgets never send, stored as the instrument brings them into its ranges, then
    // reported after VNREQ,1; stored before: 0,3.0,10,5,42,2.
    void settings_data() {
        const DataTable<QByteArray, QByteArray, QByteArray> row{"baModel", "baCommand", "baReported"};
        row("clamped high", "Tovak_2", "VNSET2,130,12.3,150,25,1234567,9", "VNSET2,120,10.0,100,24,999999,4");
        row("clamped low", "Tovak_2", "VNSET2,-20,0.2,-5,4294967290,-1,-3", "VNSET2,-10,0.5,0,-1,0,0");
        row("rounded, unreadable kept", "Ulmar_2", "VNSET2,x,2.35,7,,8,1", "VNSET2,0,2.4,7,5,8,1");
        row("short form refused", "Tovak_2", "VNSET2,77,3", "VNSET2,0,3.0,10,5,42,2");
        row("Pelko_2 clamped", "Pelko_2", "VNSET2,1234567,-1", "VNSET2,0,3.0,10,5,999999,0");
        row("Pelko_2 long form refused", "Pelko_2", "VNSET2,1,1.0,1,1,1,1", "VNSET2,0,3.0,10,5,42,2");
    }
    void settings() {
        QFETCH(QByteArray, baModel);
        QFETCH(QByteArray, baCommand);
        QFETCH(QByteArray, baReported);
        pSim->SetIdentity({baModel});
        pSim->SetSettings({0, 30, 10, 5, 42, 2});
        QVERIFY(Write(Framed(baCommand) + Framed("VNREQ,1")));
        QCOMPARE(Collect("\r\n"), Framed(baReported));
    }

    // Other equipment talks between replies and around them.
    void foreignTraffic() {
        pSim->SetForeignTraffic(true);
        QVERIFY(Collect("*").contains('*'));
        const QByteArray baInfo = Framed("VNINFO2,Tovak_2,A7,512,1,4,7,2.0");
        Write(Framed("VNREQ,0"));
        QVERIFY(Collect(baInfo).contains(baInfo));
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
        QVERIFY(Write(Framed("VNREQ,0")));
        const QByteArray baReply = Collect("\r\n");
        QVERIFY(baReply.startsWith("$VNINFO2,"));
        QCOMPARE_GE(fReadMs, fSentMs + Framed("VNREQ,0").size() * fByteMs);
        QCOMPARE_GE(aArrivals.last().second, fReadMs + baReply.size() * fByteMs);

        // About a tenth of a second's bytes when paced, a second's at 9600 baud when not.
        const QByteArray baBurst =
            QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZ").repeated(baud > 0 ? baud / 2600 : 37);
        const double fStartMs = Now();
        pSim->SendTraffic(baBurst + "\r\n");
        QCOMPARE(Collect("\r\n"), baBurst + "\r\n");
        for (const auto& [iBytes, fMs] : std::as_const(aArrivals))
            QCOMPARE_GE(fMs + 0.001, fStartMs + iBytes * fByteMs);
        // Paced, the burst trickles in over many reads; unpaced, it is there in one or two.
        QCOMPARE(aArrivals.size() > 2, baud > 0);
    }

    // The tool not reading while the loader starts: the loader asks again and again, then gives up, and
    // only its last request waits on the line. Then the test plays the tool through a whole update with
    // the chunk's CRC spoilt at first: the chunk is asked for again and the image comes out whole.
    void updateRebuildsImage() {
        const QByteArray baFile =
            SimInstrument::MakeUpdateHeader(512) + QByteArray("\x01\x80\xFF wxyz").repeated(64);
        QSignalSpy spy(pSim, &SimInstrument::UpdateFinished);
        Write(Framed("VNREQ,199"));
        QTRY_COMPARE_WITH_TIMEOUT(spy.value(0).value(0), QVariant(false), 20000);
        QCOMPARE(Collect("\r\n"), Framed("VNREQ,200"));
        QVERIFY(Write(Framed("VNREQ,199")));
        QCOMPARE(Collect("\r\n"), Framed("VNREQ,200"));
        Write(baFile.left(128));
        const uint16_t uiCrc =
            sim::Crc16Xmodem(reinterpret_cast<const uint8_t*>(baFile.constData()) + 128, 512);
        for (const uint16_t uiSent : {uint16_t(uiCrc ^ 1), uiCrc}) {
            QCOMPARE(Collect("\r\n"), Framed("VNREQ,201,0"));
            Write(baFile.mid(128) + char(uiSent & 0xFF) + char(uiSent >> 8));
        }
        QTRY_COMPARE(spy.value(1).value(0), QVariant(true));
        QCOMPARE(pSim->UpdateCrcErrors(), 1);
        QCOMPARE(pSim->UpdateImage(), baFile);
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "test_sim.moc"
