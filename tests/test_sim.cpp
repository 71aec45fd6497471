// The simulated instrument where the end-to-end tests would not notice it going wrong, driven through
// its pseudo-terminal with plain POSIX calls, the clock read as each piece arrives. The checksum and CRC
// here are this test's own.
#include "sim/SimInstrument.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray Frame(const QByteArray& baBody) {
    int iSum = 0;
    for (char c : baBody)
        iSum ^= static_cast<uint8_t>(c);
    return "$" + baBody + "*" + QByteArray::number(iSum, 16).rightJustified(2, '0').toUpper() + "\r\n";
}

// Shift-register form of CRC-16/XMODEM, one data bit at a time.
uint16_t Crc16(const QByteArray& baData) {
    uint16_t uiCrc = 0;
    for (char c : baData)
        for (int iBit = 7; iBit >= 0; --iBit) {
            const bool bFeedback = ((uiCrc >> 15) ^ (static_cast<uint8_t>(c) >> iBit)) & 1;
            uiCrc = static_cast<uint16_t>(uiCrc << 1) ^ (bFeedback ? 0x1021 : 0);
        }
    return uiCrc;
}

} // namespace

class TestSim : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    SimInstrument* pSim = nullptr;
    int iFd = -1; // the tool's end of the line, raw as the tool's port sets it
    int iError = 0;
    QElapsedTimer clock;
    QList<QPair<qsizetype, double>> aArrivals; // what Collect had gathered, and when, in ms on the clock

    bool OpenTool(const QString& sPath) {
        iFd = open(sPath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        return iFd >= 0;
    }
    void CloseTool() {
        if (iFd >= 0)
            close(iFd);
        iFd = -1;
    }
    bool Write(const QByteArray& baBytes) {
        return write(iFd, baBytes.constData(), baBytes.size()) == baBytes.size();
    }
    // One read of what is there now; iError keeps errno of a read that failed, 0 for end of file.
    QByteArray ReadNow() {
        char acBuf[4096];
        const ssize_t iRead = read(iFd, acBuf, sizeof(acBuf));
        iError = iRead < 0 ? errno : 0;
        return iRead > 0 ? QByteArray(acBuf, static_cast<int>(iRead)) : QByteArray();
    }
    double Now() const { return clock.nsecsElapsed() / 1e6; }
    // Runs the event loop for up to iMs, gathering what arrives until it ends with pszEnd.
    QByteArray Collect(int iMs, const char* pszEnd = nullptr) {
        QByteArray baAll;
        aArrivals.clear();
        for (const double fEndMs = Now() + iMs; Now() < fEndMs && !(pszEnd && baAll.endsWith(pszEnd));) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            const QByteArray baRead = ReadNow();
            if (!baRead.isEmpty())
                aArrivals.append({(baAll += baRead).size(), Now()});
        }
        return baAll;
    }
    QByteArray Ask(const QByteArray& baBody) {
        Write(Frame(baBody));
        return Collect(1000, "\r\n");
    }

private slots:
    void init() {
        pSim = new SimInstrument;
        pSim->SetLinkPath(dir.filePath("vornik0"));
        QVERIFY(pSim->Open());
        QVERIFY(OpenTool(pSim->DevicePath()));
        clock.start();
    }
    void cleanup() {
        CloseTool();
        delete pSim;
    }

    // What the instrument reports after the tool's VNSET2, stored settings 0,3.0,10,5,42,2 before.
    void settings_data() {
        QTest::addColumn<QByteArray>("baModel");
        QTest::addColumn<QByteArray>("baCommand");
        QTest::addColumn<QByteArray>("baReported");
        const char* const apszRows[][4] = {
            {"long form", "Tovak_2", "VNSET2,-5,2.5,30,3,4711,4", "VNSET2,-5,2.5,30,3,4711,4"},
            {"channel -1 as unsigned", "Ulmar", "VNSET2,0,3.0,10,4294967295,42,2", "VNSET2,0,3.0,10,-1,42,2"},
            {"clamped high", "Tovak_2", "VNSET2,130,12.3,150,25,1234567,9",
             "VNSET2,120,10.0,100,24,999999,4"},
            {"clamped low", "Tovak_2", "VNSET2,-20,0.2,-5,4294967290,-1,-3", "VNSET2,-10,0.5,0,-1,0,0"},
            {"rounded, unreadable kept", "Ulmar_2", "VNSET2,x,2.35,7,,8,1", "VNSET2,0,2.4,7,5,8,1"},
            {"short form refused", "Tovak_2", "VNSET2,77,3", "VNSET2,0,3.0,10,5,42,2"},
            {"Pelko_2 short form", "Pelko_2", "VNSET2,123456,4", "VNSET2,0,3.0,10,5,123456,3"},
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

    // A closed tool side must not make the instrument spin on a hung-up line.
    void toolClosesAndReopens() {
        CloseTool();
        const std::clock_t cpuBefore = std::clock();
        QTest::qWait(300);
        QVERIFY(std::clock() - cpuBefore < CLOCKS_PER_SEC * 15 / 100);
        QVERIFY(OpenTool(pSim->DevicePath()));
        QVERIFY(Ask("VNREQ,0").startsWith("$VNINFO2,"));
    }

    // The link path goes with the line and comes back pointing at the new one.
    void unplugAndReplugByLinkPath() {
        const QString sLink = dir.filePath("vornik0");
        QVERIFY(pSim->SlavePath() != sLink && pSim->DevicePath() == sLink);
        QSignalSpy spy(pSim, &SimInstrument::LineClosed);
        pSim->Unplug();
        QCOMPARE(spy.count(), 1);
        QVERIFY(ReadNow().isEmpty() && (iError == EIO || iError == 0));
        QVERIFY(!QFileInfo(sLink).isSymLink() && !QFileInfo::exists(sLink));
        CloseTool();
        QVERIFY(pSim->Replug() && OpenTool(sLink));
        QVERIFY(Ask("VNREQ,0").startsWith("$VNINFO2,"));
    }

    // Other equipment talks between replies and around them, but holds back while flight parts are asked
    // for: every part after the first request arrives as its 128 bytes alone, padded with erased flash.
    void foreignTraffic() {
        pSim->AddFlight(1000);
        pSim->SetForeignTraffic(true);
        QVERIFY(Collect(1500).contains("*"));
        Write(Frame("VNREQ,0"));
        QVERIFY(Collect(1500).contains(Frame("VNINFO2,Tovak_2,A7,512,1,4,7,2.0")));
        Write(Frame("VNREQ,50,0,0"));
        Collect(300);
        const QByteArray baFlight = pSim->Flight(0).baData + QByteArray(24, '\xFF');
        for (int iPart = 1; iPart < 8; ++iPart) {
            Write(Frame("VNREQ,50,0," + QByteArray::number(iPart)));
            QCOMPARE(Collect(300), baFlight.mid(128 * iPart, 128));
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
        QCOMPARE(Collect(2000, "\r\n"), baBurst + "\r\n");
        for (const auto& arrival : std::as_const(aArrivals))
            QVERIFY2(arrival.second + 0.001 >= fStartMs + arrival.first * fByteMs,
                     qPrintable(
                         QString("%1 bytes after %2 ms").arg(arrival.first).arg(arrival.second - fStartMs)));
        // Paced, the burst trickles in over many reads; unpaced, it is there in one or two.
        QVERIFY2(baud > 0 ? aArrivals.size() > 2 : aArrivals.size() <= 2,
                 qPrintable(QString::number(aArrivals.size())));
    }

    // The test plays the tool through a whole update, its port closed while the loader starts and one
    // chunk's CRC spoilt on the way: the chunk is asked for again and the image comes out whole.
    void updateRebuildsImage() {
        QByteArray baFile = SimInstrument::MakeUpdateHeader(872);
        for (int i = 0; i < 872; ++i)
            baFile += static_cast<char>(i * 7);
        QSignalSpy spy(pSim, &SimInstrument::UpdateFinished);
        Write(Frame("VNREQ,199"));
        CloseTool();
        QTest::qWait(1200);
        QVERIFY(OpenTool(pSim->DevicePath()));
        QCOMPARE(ReadNow(), Frame("VNREQ,200"));
        Write(baFile.left(128));
        for (int iStep = 0; iStep < 3; ++iStep) { // chunk 0, chunk 1 spoilt, chunk 1 again
            const int iChunk = iStep == 0 ? 0 : 1;
            QCOMPARE(Collect(1000, "\r\n"), Frame("VNREQ,201," + QByteArray::number(iChunk)));
            const QByteArray baChunk = baFile.mid(128 + 512 * iChunk, 512).leftJustified(512, '\xFF');
            const uint16_t uiCrc = Crc16(baChunk) ^ (iStep == 1 ? 1 : 0);
            Write(baChunk + char(uiCrc & 0xFF) + char(uiCrc >> 8));
        }
        QVERIFY(spy.wait(1000));
        QCOMPARE(spy.at(0).at(0).toBool(), true);
        QCOMPARE(pSim->UpdateCrcErrors(), 1);
        QCOMPARE(pSim->UpdateImage(), baFile + QByteArray(152, '\xFF'));
        QVERIFY(!pSim->IsUpdating()); // the loader asks nothing more
        QVERIFY(Ask("VNREQ,0").startsWith("$VNINFO2,"));
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "test_sim.moc"
