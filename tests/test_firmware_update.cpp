// The firmware update, clicked through a real window against the simulated instrument, which checks
// every chunk's CRC with its own code and rebuilds the image.
#include "SentenceFeed.h"
#include "testsupport/WindowRig.h"

#include <QProgressBar>
#include <QtTest> // and with it all of Qt Core

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

class TestFirmwareUpdate : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::WindowRig> pRig;

    bool ReadChunk(uint32_t uiOffset, uint16_t uiLength) {
        bool bReady = false;
        QMetaObject::invokeMethod(pRig->pWindow.get(), "ReadNewUpdateChunk", Qt::DirectConnection,
                                  Q_RETURN_ARG(bool, bReady), Q_ARG(uint32_t, uiOffset),
                                  Q_ARG(uint16_t, uiLength));
        return bReady;
    }
    // Chooses an update image of iSize bytes, whose header tells the instrument how many chunks follow;
    // its bytes are drawn from the size as seed, so that a failure comes again.
    QByteArray ChooseImage(int iSize) {
        QByteArray baImage = SimInstrument::MakeUpdateHeader(static_cast<uint32_t>(qMax(0, iSize - 128)));
        QRandomGenerator random(static_cast<quint32>(iSize));
        for (baImage.resize(iSize); iSize > 128;)
            baImage[--iSize] = static_cast<char>(random.bounded(256));
        pRig->ChooseFile(testsupport::WriteFile(QStringLiteral("image.vnu"), baImage));
        return baImage;
    }
    QString FileName() const { return pRig->Find("updateFileEdit")->property("text").toString(); }
    QString Identity() const { return pRig->Find("deviceInfoLabel")->property("text").toString(); }
    // Update mode is over when the watchdog has cleared the file name and the bar.
    bool UpdateEnded() const {
        return FileName().isEmpty() && pRig->Find<QProgressBar>("updateProgress")->value() == 0;
    }

private slots:
    void init() { pRig = std::make_unique<testsupport::WindowRig>(); }
    void cleanup() { pRig.reset(); }

    // A socket cannot be opened as a file: the message, and Update then asks nothing of the instrument. A
    // pipe opens, but cannot be positioned: three tries, then nothing is sent.
    void unusableFile() {
        QVERIFY(pRig->MakeWindow() && pRig->Connect());
        const sockaddr_un address = {AF_UNIX, "socket.vnu"};
        const int iSocket = socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(bind(iSocket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0);
        pRig->ChooseFile(pRig->workDir.filePath("socket.vnu"));
        close(iSocket);
        QVERIFY(pRig->Logged("Errror opening update file!"));
        QCOMPARE(FileName(), pRig->workDir.filePath("socket.vnu"));
        pRig->Click("updateButton");
        QCOMPARE(pRig->ReadSoFar().count("VNREQ,199"), 0);

        QVERIFY(mkfifo("pipe.vnu", 0600) == 0);
        // A writer, so that the window's read-only opening does not wait for one.
        const int iWriter = open("pipe.vnu", O_RDWR | O_NONBLOCK);
        QVERIFY(iWriter >= 0 && write(iWriter, "data", 4) == 4);
        pRig->ChooseFile(pRig->workDir.filePath("pipe.vnu"));
        QVERIFY(pRig->Logged("Update file is opened and ready to use"));
        for (int i = 0; i < 3; i++)
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("Cannot set file position 128")));
        QVERIFY(!ReadChunk(128, 512));
        close(iWriter);
        QVERIFY(pRig->Logged("Update file cannot be positioned at 128"));
    }

    // The image comes out rebuilt exactly, erased flash behind the file's end included; then the
    // instrument falls silent, the watchdog ends update mode and the poll asks who it is. At the line's
    // pace an update outlasts the watchdog's time-out many times over: each request restarts it. A second
    // file dialog, cancelled, leaves the file in use. Baud 0: unpaced; chunks: as the header says, when -1;
    // progress: every value the bar took, not compared when empty.
    void update_data() {
        const DataTable<int, int, int, QList<int>> row{"baud", "size", "chunks", "progress"};
        row("1000 bytes", 0, 1000, -1, {0, 12, 64, 0});
        // The chunk past the end would show 115, outside the bar's range.
        row("1000 bytes, a chunk past the end", 0, 1000, 3, {0, 12, 64, 0});
        row("60 bytes, header only", 0, 60, 0, {0});
        row("64 KB at 115200 baud", 115200, 65664, -1, {});
    }
    void update() {
        QFETCH(int, baud);
        QFETCH(int, size);
        QFETCH(int, chunks);
        QFETCH(QList<int>, progress);
        pRig->sim.SetUpdateChunkCount(chunks);
        QVERIFY(baud == 0 || pRig->sim.SetLineBaud(baud));
        QVERIFY(pRig->MakeWindow() && pRig->Connect());
        const QByteArray baImage = ChooseImage(size);
        pRig->ChooseFile(QString());
        QCOMPARE(FileName(), QString());
        QSignalSpy finished(&pRig->sim, &SimInstrument::UpdateFinished);
        QSignalSpy spy(pRig->Find<QProgressBar>("updateProgress"), &QProgressBar::valueChanged);
        pRig->Click("updateButton");
        QVERIFY(Identity().isEmpty());
        QVERIFY(pRig->Until([&finished] { return !finished.isEmpty(); }, 120000) && finished[0][0].toBool());
        const int iChunks = chunks >= 0 ? chunks : (size - 128 + 511) / 512;
        QCOMPARE(pRig->sim.UpdateCrcErrors(), 0);
        QCOMPARE(pRig->sim.UpdateImage(), baImage.leftJustified(128 + 512 * iChunks, '\xFF'));
        QVERIFY(pRig->Until([this] { return UpdateEnded() && !Identity().isEmpty(); }));
        QCOMPARE(pRig->sim.RequestCount("VNREQ,199"), 1);
        if (!progress.isEmpty())
            QCOMPARE(testsupport::FirstInts(spy), progress);
    }

    // The instrument falls silent at Update, or the cable is pulled mid-update. Meanwhile Download starts
    // nothing. Silent, update mode ends on the first tick two seconds after the click, not before; unplugged,
    // it ends too but leaves the line closed. Either way the file is closed.
    void updateCutShort_data() {
        QTest::addColumn<bool>("unplug");
        QTest::newRow("silent") << false;
        QTest::newRow("unplugged at chunk 1") << true;
    }
    void updateCutShort() {
        QFETCH(bool, unplug);
        pRig->sim.AddFlight(300);
        QVERIFY(pRig->MakeWindow() && pRig->Connect());
        QVERIFY(pRig->Until([this] { return pRig->Find("flightCombo")->property("count") == 1; }));
        ChooseImage(3000);
        pRig->sim.SetSilent(!unplug);
        pRig->sim.SetUnplugAtChunk(unplug ? 1 : -1);
        // Read before the window's clock starts and after: the window's reads between them.
        const qint64 iBeforeNs = pRig->NowNs();
        pRig->Click("updateButton");
        const qint64 iAfterNs = pRig->NowNs();
        pRig->Click("downloadButton");
        QVERIFY(pRig->Logged("Instrument not ready for a download"));
        if (unplug) {
            QVERIFY(pRig->Until([this] { return UpdateEnded(); }));
            QCOMPARE(pRig->Find<QAbstractButton>("connectButton")->text(), QStringLiteral("Connect"));
            QVERIFY(pRig->sim.Replug());
            const int iIdentityAsked = pRig->sim.RequestCount("VNREQ,0");
            for (int i = 0; i < 6; i++) // past the reopening after an update
                pRig->Tick();
            QCOMPARE(pRig->ReadSoFar().count("VNREQ,0"), iIdentityAsked);
        } else {
            // Each tick stamped before it runs: one that ends update mode came at least 2 s after the
            // click, one that does not came sooner. A stalled machine may skip the early ticks, never fail.
            for (bool bEnded = false; !bEnded;) {
                pRig->RunFor(50, false);
                const qint64 iTickNs = pRig->NowNs();
                pRig->Tick();
                bEnded = UpdateEnded();
                QVERIFY(bEnded ? iTickNs - iBeforeNs >= 2000000000 : iTickNs - iAfterNs < 2000000000);
            }
        }
        QVERIFY(!ReadChunk(0, 128));
        QVERIFY(pRig->Logged("Update file is not opened"));
    }
};

QTEST_MAIN(TestFirmwareUpdate)
#include "test_firmware_update.moc"
