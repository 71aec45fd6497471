// The firmware update, clicked through a real window against the simulated instrument, which checks
// every chunk's CRC with its own code and rebuilds the image.
#include "testsupport/WindowRig.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using testsupport::WindowRig;

namespace {

// An update image of iSize bytes whose header tells the instrument how many chunks follow; its bytes
// are drawn from a fixed seed, so that a failure comes again.
QByteArray MakeImage(int iSize) {
    QByteArray baImage = SimInstrument::MakeUpdateHeader(static_cast<uint32_t>(qMax(0, iSize - 128)));
    QRandomGenerator random(static_cast<quint32>(iSize));
    while (baImage.size() < iSize)
        baImage += static_cast<char>(random.bounded(256));
    return baImage.left(iSize);
}

} // namespace

class TestFirmwareUpdate : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowRig> pRig;

    bool ReadChunk(uint32_t uiOffset, uint16_t uiLength) {
        bool bReady = false;
        QMetaObject::invokeMethod(pRig->pWindow.get(), "ReadNewUpdateChunk", Qt::DirectConnection,
                                  Q_RETURN_ARG(bool, bReady), Q_ARG(uint32_t, uiOffset),
                                  Q_ARG(uint16_t, uiLength));
        return bReady;
    }
    // The chosen file as an absolute path, made in the working directory.
    void ChooseImage(const QByteArray& baImage) {
        pRig->ChooseFile(testsupport::WriteFile(QStringLiteral("image.vnu"), baImage));
    }
    QLineEdit* FileField() const { return pRig->Find<QLineEdit>("updateFileEdit"); }
    QProgressBar* Progress() const { return pRig->Find<QProgressBar>("updateProgress"); }
    // Update mode is over when the watchdog has cleared the file name and the bar.
    bool UpdateEnded() {
        return pRig->Until([this] { return FileField()->text().isEmpty() && Progress()->value() == 0; });
    }

private slots:
    void init() { pRig = std::make_unique<WindowRig>(); }
    void cleanup() { pRig.reset(); }

    // A pipe cannot be positioned: three tries, then nothing is sent.
    void unseekableFile() {
        QVERIFY(pRig->MakeWindow());
        const QByteArray baFifo = QDir::current().absoluteFilePath(QStringLiteral("pipe.vnu")).toLocal8Bit();
        QVERIFY(mkfifo(baFifo.constData(), 0600) == 0);
        // A writer, so that the window's read-only opening does not wait for one.
        const int iWriter = open(baFifo.constData(), O_RDWR | O_NONBLOCK);
        QVERIFY(iWriter >= 0 && write(iWriter, "data", 4) == 4);
        pRig->ChooseFile(QString::fromLocal8Bit(baFifo));
        QVERIFY(pRig->Logged("Update file is opened and ready to use"));
        for (int i = 0; i < 3; i++)
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("Cannot set file position 128")));
        QVERIFY(!ReadChunk(128, 512));
        close(iWriter);
        QVERIFY(pRig->Logged("Update file cannot be positioned at 128"));
    }

    // A socket cannot be opened as a file: the message, and Update then asks nothing of the instrument.
    void unopenableFile() {
        QVERIFY(pRig->MakeWindow() && pRig->Connect());
        const QByteArray baPath =
            QDir::current().absoluteFilePath(QStringLiteral("socket.vnu")).toLocal8Bit();
        const int iSocket = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        QVERIFY(baPath.size() < static_cast<int>(sizeof(address.sun_path)));
        memcpy(address.sun_path, baPath.constData(), static_cast<size_t>(baPath.size()));
        QVERIFY(bind(iSocket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0);
        pRig->ChooseFile(QString::fromLocal8Bit(baPath));
        close(iSocket);
        QVERIFY(pRig->Logged("Errror opening update file!"));
        QCOMPARE(FileField()->text(), QString::fromLocal8Bit(baPath));
        pRig->Click("updateButton");
        QCOMPARE(pRig->ReadSoFar().count("VNREQ,199"), 0);
    }

    // The image comes out rebuilt exactly, erased flash behind the file's end included; then the
    // instrument falls silent, the watchdog ends update mode and the poll asks who it is. At the line's
    // pace an update outlasts the watchdog's time-out many times over: each request restarts it.
    void update_data() {
        QTest::addColumn<int>("baud"); // 0: unpaced
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("chunks");          // -1: as the header says
        QTest::addColumn<bool>("cancelAfter");    // a second dialog cancelled: the file stays in use
        QTest::addColumn<QList<int>>("progress"); // every value the bar took; empty: not compared
        // A chunk read before the update: only 1 to 1023 bytes fit the working buffer, and offsets past
        // the end read as erased flash.
        QTest::addColumn<QList<int>>("read"); // offset, length
        const QList<int> aiProgress{0, 12, 64, 0};
        QTest::newRow("1000 bytes") << 0 << 1000 << -1 << false << aiProgress << QList<int>{0, 1023};
        // The chunk past the end would show 115, outside the bar's range.
        QTest::newRow("1000 bytes, a chunk past the end")
            << 0 << 1000 << 3 << false << aiProgress << QList<int>{100000, 512};
        QTest::newRow("60 bytes, header only") << 0 << 60 << 0 << false << QList<int>{0} << QList<int>{0, 0};
        QTest::newRow("64 KB at 115200 baud")
            << 115200 << 65664 << -1 << false << QList<int>{} << QList<int>{0, 512};
        QTest::newRow("dialog cancelled after")
            << 0 << 1000 << -1 << true << aiProgress << QList<int>{0, 1024};
    }
    void update() {
        QFETCH(int, baud);
        QFETCH(int, size);
        QFETCH(int, chunks);
        QFETCH(bool, cancelAfter);
        QFETCH(QList<int>, progress);
        QFETCH(QList<int>, read);
        pRig->sim.SetUpdateChunkCount(chunks);
        QVERIFY(baud == 0 || pRig->sim.SetLineBaud(baud));
        const QByteArray baImage = MakeImage(size);
        QVERIFY(pRig->MakeWindow() && pRig->Connect());
        ChooseImage(baImage);
        QVERIFY(pRig->Logged("Update file is opened and ready to use"));
        if (cancelAfter) {
            pRig->ChooseFile(QString());
            QCOMPARE(FileField()->text(), QString());
        }
        const qsizetype iLogged = pRig->asDebug.size();
        const bool bFits = read[1] >= 1 && read[1] <= 1023;
        QCOMPARE(ReadChunk(static_cast<uint32_t>(read[0]), static_cast<uint16_t>(read[1])), bFits);
        QCOMPARE(pRig->asDebug.mid(iLogged),
                 bFits ? QStringList()
                       : QStringList{"Update working buffer is not as big as requested chunk!"});
        QSignalSpy finished(&pRig->sim, &SimInstrument::UpdateFinished);
        QSignalSpy spy(Progress(), &QProgressBar::valueChanged);
        const int iIdentityAsked = pRig->sim.RequestCount("VNREQ,0");
        pRig->Click("updateButton");
        QVERIFY(pRig->Find<QLabel>("deviceInfoLabel")->text().isEmpty());
        QVERIFY(pRig->Until([&finished] { return finished.size() == 1; }, 120000));
        QVERIFY(finished.at(0).at(0).toBool());

        const int iChunks = chunks >= 0 ? chunks : (size - 128 + 511) / 512;
        QCOMPARE(pRig->sim.UpdateCrcErrors(), 0);
        QCOMPARE(pRig->sim.UpdateImage(), baImage.leftJustified(128 + 512 * iChunks, '\xFF'));
        QVERIFY(pRig->Logged("Sending update file header."));
        QCOMPARE(pRig->Logged("Sending content of update file ID:  0"), iChunks > 0);

        QVERIFY(UpdateEnded());
        QVERIFY(pRig->Identified());
        QVERIFY(pRig->sim.RequestCount("VNREQ,0") > iIdentityAsked);
        QCOMPARE(pRig->sim.RequestCount("VNREQ,199"), 1);
        if (!progress.isEmpty())
            QCOMPARE(testsupport::FirstInts(spy), progress);
    }

    // No request after Update: update mode ends on the first tick after two seconds, not before, and the
    // file is closed. Meanwhile Download starts nothing.
    void watchdogAfterSilence() {
        pRig->sim.AddFlight(300);
        QVERIFY(pRig->MakeWindow() && pRig->Connect());
        QVERIFY(pRig->Until([this] { return pRig->Find<QComboBox>("flightCombo")->count() == 1; }));
        ChooseImage(MakeImage(1000));
        pRig->sim.SetSilent(true);
        // One clock started before the window's, one after: the window's reads between them.
        QElapsedTimer before;
        before.start();
        pRig->Click("updateButton");
        QElapsedTimer after;
        after.start();
        pRig->Click("downloadButton");
        QVERIFY(pRig->Logged("Instrument not ready for a download"));
        QVERIFY(pRig->Until([&before] { return before.elapsed() >= 1900; }));
        QVERIFY(!FileField()->text().isEmpty());
        QVERIFY(pRig->Until([&after] { return after.elapsed() > 2000; }, WindowRig::kWaitMs, false));
        pRig->Tick();
        QVERIFY(FileField()->text().isEmpty() && Progress()->value() == 0);
        QVERIFY(!ReadChunk(0, 128));
        QVERIFY(pRig->Logged("Update file is not opened"));
    }

    // The cable is pulled mid-update: the watchdog still ends update mode but leaves the line closed; the
    // next connection asks for the identity again.
    void unplugMidUpdate() {
        pRig->sim.SetUnplugAtChunk(1);
        QVERIFY(pRig->MakeWindow() && pRig->Connect());
        ChooseImage(MakeImage(3000));
        pRig->Click("updateButton");
        QVERIFY(pRig->Until([this] { return !pRig->sim.IsPlugged(); }));
        QVERIFY(UpdateEnded());
        QCOMPARE(pRig->Find<QPushButton>("connectButton")->text(), QStringLiteral("Connect"));
        QVERIFY(pRig->sim.Replug());
        const int iIdentityAsked = pRig->sim.RequestCount("VNREQ,0");
        for (int i = 0; i < 6; i++) // past the reopening after an update
            pRig->Tick();
        QCOMPARE(pRig->ReadSoFar().count("VNREQ,0"), iIdentityAsked);
        QVERIFY(pRig->Connect());
    }
};

QTEST_MAIN(TestFirmwareUpdate)
#include "test_firmware_update.moc"
