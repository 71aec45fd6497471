// The simulated instrument driven through its pseudo-terminal with plain POSIX calls, as the tool's port
// would drive it. The checksum and CRC here are this test's own.
#include "sim/SimInstrument.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <termios.h>
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
    for (char c : baData) {
        for (int iBit = 7; iBit >= 0; --iBit) {
            const bool bFeedback = ((uiCrc >> 15) ^ (static_cast<uint8_t>(c) >> iBit)) & 1;
            uiCrc = static_cast<uint16_t>(uiCrc << 1) ^ (bFeedback ? 0x1021 : 0);
        }
    }
    return uiCrc;
}

double CpuSeconds() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The tool's end of the line.
class ToolEnd {
public:
    ~ToolEnd() { Close(); }
    bool Open(const QString& sPath) {
        iFd = open(sPath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio;
        if (iFd < 0 || tcgetattr(iFd, &tio) != 0)
            return false;
        cfmakeraw(&tio);
        return tcsetattr(iFd, TCSANOW, &tio) == 0;
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
        char acBuf[8192];
        const ssize_t iRead = read(iFd, acBuf, sizeof(acBuf));
        iError = iRead < 0 ? errno : 0;
        return iRead > 0 ? QByteArray(acBuf, static_cast<int>(iRead)) : QByteArray();
    }
    // Runs the event loop for up to iMs, gathering the bytes that arrive until bDone says enough.
    QByteArray Collect(int iMs, const std::function<bool(const QByteArray&)>& bDone = {},
                       QList<int>* paiReads = nullptr) {
        QByteArray baAll;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < iMs && !(bDone && bDone(baAll))) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            const QByteArray baRead = ReadNow();
            if (!baRead.isEmpty() && paiReads != nullptr)
                paiReads->append(baRead.size());
            baAll += baRead;
        }
        return baAll;
    }
    QByteArray Bytes(int iCount, int iMs = 1000) {
        return Collect(iMs, [iCount](const QByteArray& ba) { return ba.size() >= iCount; });
    }
    QByteArray Ask(const QByteArray& baBody, int iMs = 1000) {
        Send(baBody);
        return Collect(iMs, [](const QByteArray& ba) { return ba.endsWith("\r\n"); });
    }

    int iFd = -1;
    int iError = 0;
};

} // namespace

class TestSim : public QObject {
    Q_OBJECT

    SimInstrument* pSim = nullptr;
    ToolEnd tool;

private slots:
    void init() {
        pSim = new SimInstrument;
        QVERIFY(pSim->Open());
        QVERIFY(tool.Open(pSim->DevicePath()));
    }
    void cleanup() {
        tool.Close();
        delete pSim;
    }

    void checkValues() {
        const char acCheck[] = "123456789";
        QCOMPARE(sim::Crc16Xmodem(reinterpret_cast<const uint8_t*>(acCheck), 9), uint16_t(0x31C3));
        QCOMPARE(Crc16(acCheck), uint16_t(0x31C3));
        QCOMPARE(sim::PackLogbookTime(2024, 5, 17, 49510), 1954763110u);
    }

    void identity_data() {
        QTest::addColumn<QByteArray>("baModel");
        QTest::addColumn<QByteArray>("baExpected");
        QTest::newRow("Tovak_2") << QByteArray("Tovak_2") << QByteArray("VNINFO2,Tovak_2,A7,512,1,4,7,2.0");
        QTest::newRow("Pelko_2") << QByteArray("Pelko_2") << QByteArray("VNINFO2,Pelko_2,A7,512,1,4,7,2.0");
        QTest::newRow("markup") << QByteArray("<b>X</b>") << QByteArray("VNINFO2,<b>X</b>,A7,512,1,4,7,2.0");
    }
    void identity() {
        QFETCH(QByteArray, baModel);
        QFETCH(QByteArray, baExpected);
        SimIdentity identity;
        identity.baModel = baModel;
        pSim->SetIdentity(identity);
        QCOMPARE(tool.Ask("VNREQ,0"), Frame(baExpected));
    }

    // What the instrument reports after the tool's VNSET2, from settings 0,3.0,10,5,42,2.
    void settings_data() {
        QTest::addColumn<QByteArray>("baModel");
        QTest::addColumn<QByteArray>("baCommand");
        QTest::addColumn<QByteArray>("baReported");
        QTest::newRow("long form") << QByteArray("Tovak_2") << QByteArray("VNSET2,-5,2.5,30,3,4711,4")
                                   << QByteArray("VNSET2,-5,2.5,30,3,4711,4");
        QTest::newRow("channel -1 as unsigned")
            << QByteArray("Ulmar") << QByteArray("VNSET2,0,3.0,10,4294967295,42,2")
            << QByteArray("VNSET2,0,3.0,10,-1,42,2");
        QTest::newRow("bounds") << QByteArray("Tovak_2") << QByteArray("VNSET2,120,10.0,100,24,999999,4")
                                << QByteArray("VNSET2,120,10.0,100,24,999999,4");
        QTest::newRow("clamped high")
            << QByteArray("Tovak_2") << QByteArray("VNSET2,130,12.3,150,25,1234567,9")
            << QByteArray("VNSET2,120,10.0,100,24,999999,4");
        QTest::newRow("clamped low") << QByteArray("Tovak_2")
                                     << QByteArray("VNSET2,-20,0.2,-5,4294967290,-1,-3")
                                     << QByteArray("VNSET2,-10,0.5,0,-1,0,0");
        QTest::newRow("rounded, unreadable kept")
            << QByteArray("Ulmar_2") << QByteArray("VNSET2,x,2.35,7,,8,1")
            << QByteArray("VNSET2,0,2.4,7,5,8,1");
        QTest::newRow("short form refused")
            << QByteArray("Tovak_2") << QByteArray("VNSET2,77,3") << QByteArray("VNSET2,0,3.0,10,5,42,2");
        QTest::newRow("Pelko_2 short form") << QByteArray("Pelko_2") << QByteArray("VNSET2,123456,4")
                                            << QByteArray("VNSET2,0,3.0,10,5,123456,3");
        QTest::newRow("Pelko_2 long form refused")
            << QByteArray("Pelko_2") << QByteArray("VNSET2,1,1.0,1,1,1,1")
            << QByteArray("VNSET2,0,3.0,10,5,42,2");
    }
    void settings() {
        QFETCH(QByteArray, baModel);
        QFETCH(QByteArray, baCommand);
        QFETCH(QByteArray, baReported);
        SimIdentity identity;
        identity.baModel = baModel;
        pSim->SetIdentity(identity);
        pSim->SetSettings({0, 30, 10, 5, 42, 2});
        QVERIFY(tool.Send(baCommand));
        QCOMPARE(tool.Ask("VNREQ,1"), Frame(baReported));
    }

    void splitWrites() {
        pSim->SetSplitWrites(4, 40);
        QList<int> aiReads;
        tool.Send("VNREQ,1");
        const QByteArray baReply = tool.Collect(
            1000, [](const QByteArray& ba) { return ba.endsWith("\r\n"); }, &aiReads);
        QCOMPARE(baReply, Frame("VNSET2,80,1.5,50,-1,0,1"));
        QVERIFY2(aiReads.size() >= 2, "the pieces did not arrive apart");
    }

    void delayAndSilence() {
        pSim->SetReplyDelayMs(300);
        QVERIFY(tool.Send("VNREQ,0"));
        QVERIFY(tool.Collect(200).isEmpty());
        QVERIFY(
            tool.Collect(500, [](const QByteArray& ba) { return !ba.isEmpty(); }).startsWith("$VNINFO2,"));

        pSim->SetReplyDelayMs(0);
        pSim->SetSilent(true);
        pSim->ClearLog();
        QSignalSpy spy(pSim, &SimInstrument::RequestReceived);
        QVERIFY(tool.Write(Frame("VNREQ,0") + Frame("VNREQ,0") + "$VNREQ,0*00\r\n" + Frame("VNREQ,0")));
        QVERIFY(tool.Collect(300).isEmpty());
        QCOMPARE(pSim->RequestCount("VNREQ,0"), 3);
        QCOMPARE(spy.count(), 3);
        QCOMPARE(pSim->BadSentenceCount(), 1);
    }

    // The good sentence comes once, after noise and before a garbled copy whose checksum fails.
    void noiseAndBadChecksums() {
        pSim->SetNoise(true);
        pSim->SetBadChecksums(true);
        tool.Send("VNREQ,0");
        const QByteArray baStream = tool.Collect(300);
        const QByteArray baGood = Frame("VNINFO2,Tovak_2,A7,512,1,4,7,2.0");
        QVERIFY(baStream.indexOf(baGood) > 0);
        QCOMPARE(baStream.count(baGood), 1);
        const QByteArray baGarbled = baStream.mid(baStream.indexOf(baGood) + baGood.size());
        QVERIFY(baGarbled.startsWith("$VNINFO2,Tovak_3,A8,623,") && baGarbled.endsWith("\r\n"));
        const int iStar = baGarbled.indexOf('*');
        QVERIFY(Frame(baGarbled.mid(1, iStar - 1)) != baGarbled);
    }

    // The tool closes its port: no busy loop, and the line answers again when it reopens.
    void toolClosesAndReopens() {
        tool.Close();
        const double fCpuBefore = CpuSeconds();
        QTest::qWait(300);
        QVERIFY(CpuSeconds() - fCpuBefore < 0.15);
        QVERIFY(tool.Open(pSim->DevicePath()));
        QVERIFY(tool.Ask("VNREQ,0").startsWith("$VNINFO2,"));
    }

    void unplugAndReplug() {
        QTemporaryDir dir;
        const QString sLink = dir.filePath("vornik0");
        tool.Close();
        delete pSim;
        pSim = new SimInstrument;
        pSim->SetLinkPath(sLink);
        QVERIFY(pSim->Open());
        QCOMPARE(pSim->DevicePath(), sLink);
        QVERIFY(tool.Open(sLink));
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

    void logbook() {
        QCOMPARE(tool.Ask("VNREQ,40,0"), Frame("VNLOGBOOK,0,0,0,0,0,0"));
        for (uint32_t uiSize : {300u, 256u, 1000u})
            pSim->AddFlight(uiSize);
        pSim->AddFlight(90, sim::PackLogbookTime(2024, 5, 17, 49510), 2);
        QCOMPARE(tool.Ask("VNREQ,40,3"), Frame("VNLOGBOOK,4,3,2,1954763110,0,90"));
        QVERIFY(tool.Ask("VNREQ,40,1").startsWith("$VNLOGBOOK,4,1,1,"));
        QVERIFY(tool.Ask("VNREQ,40,4", 300).isEmpty());
        tool.Send("VNREQ,39");
        QCOMPARE(tool.Ask("VNREQ,40,0"), Frame("VNLOGBOOK,0,0,0,0,0,0"));
    }

    void flightParts_data() {
        QTest::addColumn<uint>("uiSize");
        QTest::newRow("300") << 300u;
        QTest::newRow("multiple of 128") << 256u;
        QTest::newRow("tiny") << 40u;
        QTest::newRow("400 kB") << 400000u;
    }
    void flightParts() {
        QFETCH(uint, uiSize);
        pSim->AddFlight(5);
        pSim->AddFlight(uiSize);
        const QByteArray& baFlight = pSim->Flight(1).baData;
        QCOMPARE(uint(baFlight.size()), uiSize);
        QByteArray baReceived;
        for (uint uiPart = 0; uiPart <= uiSize / 128; ++uiPart) {
            tool.Send("VNREQ,50,1," + QByteArray::number(uiPart));
            baReceived += tool.Bytes(128);
            QCOMPARE(uint(baReceived.size()), (uiPart + 1) * 128);
        }
        QCOMPARE(baReceived.left(int(uiSize)), baFlight);
        QCOMPARE(baReceived.mid(int(uiSize)), QByteArray(baReceived.size() - int(uiSize), '\xFF'));
        // Every record a whole line of a known kind.
        if (uiSize < 1000)
            return;
        QVERIFY(baFlight.startsWith("AVNK0E8") && baFlight.endsWith("\r\n"));
        for (const QByteArray& baLine : baFlight.chopped(1).split('\n'))
            QVERIFY2(baLine.endsWith('\r') && QByteArray("AHBL").contains(baLine.at(0)), baLine.constData());
    }

    void partFaults() {
        pSim->AddFlight(1000);
        pSim->SetPartFault(SimInstrument::PartFault::Stall, 1);
        pSim->SetPartFault(SimInstrument::PartFault::StrayByte, 2);
        pSim->LoseRequest("VNREQ,50,0,3");
        pSim->SetPartFault(SimInstrument::PartFault::Unplug, 4);
        const QByteArray baPart1 = pSim->Flight(0).baData.mid(128, 128);
        tool.Send("VNREQ,50,0,1");
        QCOMPARE(tool.Collect(200), baPart1.left(64));
        tool.Send("VNREQ,50,0,1");
        QCOMPARE(tool.Bytes(128), baPart1);
        tool.Send("VNREQ,50,0,2");
        QCOMPARE(tool.Collect(200), "\n" + pSim->Flight(0).baData.mid(256, 128));
        tool.Send("VNREQ,50,0,3");
        QVERIFY(tool.Collect(200).isEmpty());
        tool.Send("VNREQ,50,0,3");
        QCOMPARE(tool.Bytes(128).size(), 128);
        QSignalSpy spy(pSim, &SimInstrument::LineClosed);
        tool.Send("VNREQ,50,0,4");
        QVERIFY(spy.wait(1000));
        QVERIFY(!pSim->IsPlugged());
    }

    // The test plays the tool through a whole update, with its port closed while the instrument starts
    // its loader and one chunk's CRC spoilt on the way.
    void update() {
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
        bool bSpoilt = false;
        for (int iChunk : {0, 1, 1}) {
            const QByteArray baRequest = Frame("VNREQ,201," + QByteArray::number(iChunk));
            QCOMPARE(tool.Collect(1000, [&](const QByteArray& ba) { return ba.size() >= baRequest.size(); }),
                     baRequest);
            QByteArray baChunk = baFile.mid(128 + 512 * iChunk, 512);
            baChunk.append(512 - baChunk.size(), '\xFF');
            const uint16_t uiCrc = Crc16(baChunk) ^ (iChunk == 1 && !bSpoilt ? 1 : 0);
            bSpoilt = iChunk == 1;
            tool.Write(baChunk + char(uiCrc & 0xFF) + char(uiCrc >> 8));
        }
        QVERIFY(spy.wait(1000));
        QCOMPARE(spy.at(0).at(0).toBool(), true);
        QCOMPARE(pSim->UpdateCrcErrors(), 1);
        QCOMPARE(pSim->UpdateImage(), baFile + QByteArray(152, '\xFF'));
        QVERIFY(tool.Collect(700).isEmpty());
        QVERIFY(tool.Ask("VNREQ,0").startsWith("$VNINFO2,"));
    }

    void updateUnplugged() {
        pSim->SetUpdateChunkCount(3);
        pSim->SetUnplugAtChunk(1);
        QSignalSpy spyEnd(pSim, &SimInstrument::UpdateFinished);
        QSignalSpy spyLine(pSim, &SimInstrument::LineClosed);
        tool.Send("VNREQ,199");
        QCOMPARE(tool.Collect(1000, [](const QByteArray& ba) { return ba.endsWith("\r\n"); }),
                 Frame("VNREQ,200"));
        tool.Write(QByteArray(128, 'h'));
        QVERIFY(tool.Collect(1000, [](const QByteArray& ba) { return ba.endsWith("\r\n"); }) ==
                Frame("VNREQ,201,0"));
        const QByteArray baChunk(512, '\0');
        tool.Write(baChunk + QByteArray(2, '\0'));
        QVERIFY(spyLine.wait(1000));
        QCOMPARE(spyEnd.count(), 1);
        QCOMPARE(spyEnd.at(0).at(0).toBool(), false);
        QCOMPARE(pSim->UpdateImage().size(), 128 + 512);
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "test_sim.moc"
