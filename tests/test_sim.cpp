// The simulated instrument where the end-to-end tests would not notice it going wrong, driven through
// its pseudo-terminal with plain POSIX calls. The checksum and CRC here are this test's own.
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

// The tool's end of the line.
class ToolEnd {
public:
    // The instrument keeps its line raw, as the tool's port sets it.
    bool Open(const QString& sPath) {
        iFd = open(sPath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        return iFd >= 0;
    }
    void Close() {
        if (iFd >= 0)
            close(iFd);
        iFd = -1;
    }
    bool Write(const QByteArray& baBytes) {
        return write(iFd, baBytes.constData(), baBytes.size()) == baBytes.size();
    }
    bool Send(const QByteArray& baBody) { return Write(Frame(baBody)); }
    // One read of what is there now; iError keeps errno of a read that failed, 0 for end of file.
    QByteArray ReadNow() {
        char acBuf[4096];
        const ssize_t iRead = read(iFd, acBuf, sizeof(acBuf));
        iError = iRead < 0 ? errno : 0;
        return iRead > 0 ? QByteArray(acBuf, static_cast<int>(iRead)) : QByteArray();
    }
    // Runs the event loop for up to iMs, gathering what arrives until it ends with pszEnd.
    QByteArray Collect(int iMs, const char* pszEnd = nullptr) {
        QByteArray baAll;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < iMs && !(pszEnd && baAll.endsWith(pszEnd))) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            baAll += ReadNow();
        }
        return baAll;
    }
    QByteArray Ask(const QByteArray& baBody) {
        Send(baBody);
        return Collect(1000, "\r\n");
    }

    int iFd = -1;
    int iError = 0;
};

} // namespace

class TestSim : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    SimInstrument* pSim = nullptr;
    ToolEnd tool;

private slots:
    void init() {
        pSim = new SimInstrument;
        pSim->SetLinkPath(dir.filePath("vornik0"));
        QVERIFY(pSim->Open());
        QVERIFY(tool.Open(pSim->DevicePath()));
    }
    void cleanup() {
        tool.Close();
        delete pSim;
    }

    void crcCheckValue() {
        const char acCheck[] = "123456789";
        QCOMPARE(sim::Crc16Xmodem(reinterpret_cast<const uint8_t*>(acCheck), 9), uint16_t(0x31C3));
        QCOMPARE(Crc16(acCheck), uint16_t(0x31C3));
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
        QVERIFY(tool.Send(baCommand));
        QCOMPARE(tool.Ask("VNREQ,1"), Frame(baReported));
    }

    // A closed tool side must not make the instrument spin on a hung-up line.
    void toolClosesAndReopens() {
        tool.Close();
        const std::clock_t cpuBefore = std::clock();
        QTest::qWait(300);
        QVERIFY(std::clock() - cpuBefore < CLOCKS_PER_SEC * 15 / 100);
        QVERIFY(tool.Open(pSim->DevicePath()));
        QVERIFY(tool.Ask("VNREQ,0").startsWith("$VNINFO2,"));
    }

    // The link path goes with the line and comes back pointing at the new one.
    void unplugAndReplugByLinkPath() {
        const QString sLink = dir.filePath("vornik0");
        QVERIFY(pSim->SlavePath() != sLink && pSim->DevicePath() == sLink);
        QSignalSpy spy(pSim, &SimInstrument::LineClosed);
        pSim->Unplug();
        QCOMPARE(spy.count(), 1);
        QVERIFY(tool.ReadNow().isEmpty());
        QVERIFY(tool.iError == EIO || tool.iError == 0);
        QVERIFY(!QFileInfo::exists(sLink));
        tool.Close();
        QVERIFY(pSim->Replug());
        QVERIFY(tool.Open(sLink));
        QVERIFY(tool.Ask("VNREQ,0").startsWith("$VNINFO2,"));
    }

    // Other equipment talks between replies and around them, but holds back while flight parts are asked
    // for: every part after the first request arrives as its 128 bytes alone.
    void foreignTraffic() {
        pSim->AddFlight(1000);
        pSim->SetForeignTraffic(true);
        QVERIFY(tool.Collect(1500).contains("*"));
        tool.Send("VNREQ,0");
        QVERIFY(tool.Collect(1500).contains(Frame("VNINFO2,Tovak_2,A7,512,1,4,7,2.0")));
        tool.Send("VNREQ,50,0,0");
        tool.Collect(300);
        const QByteArray baFlight = pSim->Flight(0).baData + QByteArray(24, '\xFF');
        for (int iPart = 1; iPart < 8; ++iPart) {
            tool.Send("VNREQ,50,0," + QByteArray::number(iPart));
            QCOMPARE(tool.Collect(300), baFlight.mid(128 * iPart, 128));
        }
    }

    // The test plays the tool through a whole update, its port closed while the loader starts and one
    // chunk's CRC spoilt on the way: the chunk is asked for again and the image comes out whole.
    void updateRebuildsImage() {
        QByteArray baFile = SimInstrument::MakeUpdateHeader(872);
        for (int i = 0; i < 872; ++i)
            baFile += static_cast<char>(i * 7);
        QSignalSpy spy(pSim, &SimInstrument::UpdateFinished);
        tool.Send("VNREQ,199");
        tool.Close();
        QTest::qWait(1200);
        QVERIFY(tool.Open(pSim->DevicePath()));
        QCOMPARE(tool.ReadNow(), Frame("VNREQ,200"));
        tool.Write(baFile.left(128));
        for (int iStep = 0; iStep < 3; ++iStep) { // chunk 0, chunk 1 spoilt, chunk 1 again
            const int iChunk = iStep == 0 ? 0 : 1;
            QCOMPARE(tool.Collect(1000, "\r\n"), Frame("VNREQ,201," + QByteArray::number(iChunk)));
            QByteArray baChunk = baFile.mid(128 + 512 * iChunk, 512);
            baChunk.append(512 - baChunk.size(), '\xFF');
            const uint16_t uiCrc = Crc16(baChunk) ^ (iStep == 1 ? 1 : 0);
            tool.Write(baChunk + char(uiCrc & 0xFF) + char(uiCrc >> 8));
        }
        QVERIFY(spy.wait(1000));
        QCOMPARE(spy.at(0).at(0).toBool(), true);
        QCOMPARE(pSim->UpdateCrcErrors(), 1);
        QCOMPARE(pSim->UpdateImage(), baFile + QByteArray(152, '\xFF'));
        QVERIFY(tool.Collect(700).isEmpty()); // no request repeated after the end
        QVERIFY(tool.Ask("VNREQ,0").startsWith("$VNINFO2,"));
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "test_sim.moc"
