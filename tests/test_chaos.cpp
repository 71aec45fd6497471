// The whole window against an instrument on a bad line. For a bounded time (VORNIK_CHAOS_SECONDS, 60
// unless set) storms alternate with calm. In a storm the instrument mixes its replies with other
// equipment's sentences, noise, bad checksums and overlong lines, stalls and is unplugged, while the
// window's buttons are pressed in an order drawn from a seed (VORNIK_CHAOS_SEED, printed at the start;
// VORNIK_CHAOS_VERBOSE prints every step as it is taken).
// Checked all the time: the one-second timer keeps its pace, and the working directory holds nothing but
// complete flight files, byte for byte the instrument's. Checked in every calm: on a clean line the tool
// is connected again and reaches the identity and the settings.
#include "SimWindowRig.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHash>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QSpinBox>

namespace {

constexpr quint32 kDefaultSeed = 20240517;
constexpr quint32 kDefaultSeconds = 60;
// The poll timer runs once a second; a tick this late means that something held up the event loop.
constexpr qint64 kMaxTickGapMs = 1500;
// From a clean line to identity and settings: an update's watchdog and reopening fit well inside.
constexpr qint64 kRecoverMs = 30000;
constexpr uint32_t kSerial = 12345; // "9IX" in file names
const char kIdentityLine[] = "Device: Tovak_2 (12345), Produced: A7, FW: 1.4.B7, HW: 2.0";
constexpr int kMaxFlights = 6;
constexpr quint32 kMaxFlightSize = 16000;
// Lines of the window's debug log and actions kept for the message of a failure.
constexpr int kKeptLines = 25;

quint32 EnvNumber(const char* pszName, quint32 uiDefault) {
    bool bOk = false;
    const quint32 uiValue = qEnvironmentVariable(pszName).toUInt(&bOk);
    return bOk ? uiValue : uiDefault;
}

// The file name the tool must give a flight, worked out here from the logbook's packed time.
QString IgcName(const sim::SimFlight& flight) {
    const uint32_t uiDate = flight.uiPackedTime / 86400;
    return QString::asprintf("%04u-%02u-%02u-VNK-9IX-%02u.igc", 2000 + uiDate % 100, uiDate / 100 % 13,
                             uiDate / 1300, flight.uiDailyNr % 256);
}

// Answers the next file dialog with sPath, or cancels it when sPath is empty.
void AnswerFileDialog(const QString& sPath) {
    QTimer* pTimer = new QTimer;
    pTimer->setInterval(20);
    QObject::connect(pTimer, &QTimer::timeout, [pTimer, sPath] {
        QFileDialog* pDialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (pDialog == nullptr)
            return;
        pTimer->stop();
        pTimer->deleteLater();
        if (!sPath.isEmpty()) {
            pDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(sPath);
            QMetaObject::invokeMethod(pDialog, "accept");
        }
        if (pDialog->isVisible())
            pDialog->reject();
    });
    pTimer->start();
}

} // namespace

class TestChaos : public QObject {
    Q_OBJECT

    struct Action {
        int iWeight;
        void (TestChaos::*pfnDo)();
    };

    std::unique_ptr<SimWindowRig> pRig;
    quint32 uiSeed = kDefaultSeed;
    bool bVerbose = qEnvironmentVariableIsSet("VORNIK_CHAOS_VERBOSE");
    QRandomGenerator random;
    QElapsedTimer runClock;
    QTemporaryDir updateDir; // the update file lives away from the working directory
    QString sUpdateFile;

    qint64 iLastTickMs = 0;
    qint64 iWorstGapMs = 0;
    QString sFailure;
    QStringList asActions;
    int iScannedDebug = 0;
    bool bDownloadEnded = false;

    // Every flight the instrument has ever held, under the name its file must have.
    QHash<QString, QByteArray> expectedFiles;
    QHash<QString, QString> checkedFiles; // name: what the file looked like when it was compared
    int iFlightsMade = 0;
    qint64 iReplugAtMs = -1;
    qint64 iSpeakAtMs = -1;

    int iPresses = 0;
    int iDownloads = 0;
    int iGivenUp = 0;
    int iUpdates = 0;
    int iUnplugs = 0;
    int iCalms = 0;

    SimInstrument& Sim() { return pRig->sim; }
    qint64 Now() const { return runClock.elapsed(); }
    QString ButtonText(const char* pszName) const { return pRig->Find<QPushButton>(pszName)->text(); }

    void Note(const QString& sWhat) {
        asActions << QStringLiteral("%1 s: %2").arg(Now() / 1000.0, 0, 'f', 3).arg(sWhat);
        if (bVerbose)
            fprintf(stderr, "chaos %s\n", qPrintable(asActions.last()));
        if (asActions.size() > kKeptLines)
            asActions.removeFirst();
    }
    bool Fail(const QString& sWhat) {
        if (sFailure.isEmpty())
            sFailure = QStringLiteral("at %1 s: %2").arg(Now() / 1000.0, 0, 'f', 3).arg(sWhat);
        return false;
    }
    QByteArray Report() const {
        const QStringList asDebug = pRig->asDebug.mid(qMax(0, int(pRig->asDebug.size()) - kKeptLines));
        return QStringLiteral("seed %1: %2\nlast actions:\n  %3\nlast lines of the window's log:\n  %4")
            .arg(uiSeed)
            .arg(sFailure, asActions.join(QStringLiteral("\n  ")), asDebug.join(QStringLiteral("\n  ")))
            .toLocal8Bit();
    }

    // Settings as the first group shows them and as the instrument stores them, in VNSET2's order.
    QString Shown() const {
        return QStringLiteral("%1,%2,%3,%4,%5,%6")
            .arg(pRig->Find<QSpinBox>("teLevelSpin")->value())
            .arg(pRig->Find<QDoubleSpinBox>("varioFilterSpin")->value(), 0, 'f', 1)
            .arg(pRig->Find<QSpinBox>("servoTriggerSpin")->value())
            .arg(pRig->Find<QSpinBox>("servoChannelSpin")->value())
            .arg(pRig->Find<QSpinBox>("pairKeySpin")->value())
            .arg(pRig->Find<QComboBox>("telemetryCombo")->currentIndex());
    }
    QString Stored() {
        const SimSettings& s = Sim().Settings();
        return QStringLiteral("%1,%2.%3,%4,%5,%6,%7")
            .arg(s.iTELevel)
            .arg(s.iVarioFilterTenths / 10)
            .arg(s.iVarioFilterTenths % 10)
            .arg(s.iServoTrigger)
            .arg(s.iServoChannel)
            .arg(s.uiPairKey)
            .arg(s.iTelemetry);
    }

    void AddFlights(int iCount) {
        const quint32 auiSizes[] = {0, 1, 127, 128, 256, 1000};
        for (int i = 0; i < iCount && Sim().FlightCount() < kMaxFlights; ++i, ++iFlightsMade) {
            const quint32 uiSize =
                random.bounded(3) == 0 ? auiSizes[random.bounded(6)] : random.bounded(1u, kMaxFlightSize);
            const uint32_t uiPacked =
                sim::PackLogbookTime(2024 + iFlightsMade / 336, 1 + iFlightsMade / 28 % 12,
                                     1 + iFlightsMade % 28, 36000 + 37 * iFlightsMade);
            const int iIndex = Sim().AddFlight(uiSize, uiPacked, static_cast<uint16_t>(1 + iFlightsMade % 3));
            expectedFiles.insert(IgcName(Sim().Flight(iIndex)), Sim().Flight(iIndex).baData);
        }
    }

    // The window's actions, as a user would take them.
    void Press(const char* pszButton) {
        QPushButton* pButton = pRig->Find<QPushButton>(pszButton);
        ++iPresses;
        if (pButton->isVisible() && pButton->isEnabled())
            QTest::mouseClick(pButton, Qt::LeftButton);
    }
    void SelectInstrumentPort() {
        QComboBox* pPorts = pRig->Find<QComboBox>("portCombo");
        pPorts->setCurrentIndex(pPorts->findText(Sim().DevicePath()));
    }
    void PressConnect() {
        if (ButtonText("connectButton") == QLatin1String("Connect"))
            SelectInstrumentPort();
        Note(ButtonText("connectButton"));
        Press("connectButton");
    }
    void PressRefresh() {
        Note(QStringLiteral("Refresh"));
        Press("refreshButton");
        SelectInstrumentPort();
    }
    // Values are typed only where they can be saved: typed and not saved, they would rightly differ from
    // the instrument's.
    void PressSave() {
        QPushButton* pSave = pRig->Find<QPushButton>("saveButton");
        if (!pSave->isVisible() || !pSave->isEnabled())
            return Note(QStringLiteral("Save: not offered"));
        pRig->Find<QSpinBox>("teLevelSpin")->setValue(random.bounded(-10, 121));
        pRig->Find<QDoubleSpinBox>("varioFilterSpin")->setValue(random.bounded(5, 101) / 10.0);
        pRig->Find<QSpinBox>("servoTriggerSpin")->setValue(random.bounded(0, 101));
        pRig->Find<QSpinBox>("servoChannelSpin")->setValue(random.bounded(-1, 25));
        pRig->Find<QSpinBox>("pairKeySpin")->setValue(random.bounded(0, 1000000));
        pRig->Find<QComboBox>("telemetryCombo")->setCurrentIndex(random.bounded(0, 5));
        Note(QStringLiteral("Save ") + Shown());
        Press("saveButton");
    }
    void PressDownload() {
        QComboBox* pFlights = pRig->Find<QComboBox>("flightCombo");
        if (pFlights->count() > 0)
            pFlights->setCurrentIndex(random.bounded(static_cast<int>(pFlights->count())));
        Note(QStringLiteral("Download flight %1 of %2").arg(pFlights->currentIndex()).arg(pFlights->count()));
        Press("downloadButton");
    }
    void PressEmpty() {
        Note(QStringLiteral("Empty"));
        Press("emptyButton");
    }
    void SelectFile() {
        const bool bCancel = random.bounded(4) == 0;
        Note(bCancel ? QStringLiteral("Select File, cancelled") : QStringLiteral("Select File"));
        AnswerFileDialog(bCancel ? QString() : sUpdateFile);
        Press("selectFileButton");
    }
    void PressUpdate() {
        Note(QStringLiteral("Update"));
        Press("updateButton");
    }
    void PressClear() {
        Note(QStringLiteral("Clear"));
        Press("clearButton");
    }
    void ToggleOutput() {
        Note(QStringLiteral("Enable Output"));
        ++iPresses;
        pRig->Find<QCheckBox>("enableOutputCheck")->click();
    }

    // The instrument's and the line's misbehaviour.
    void ChangeLine() {
        const bool bNoise = random.bounded(2) == 0;
        const bool bBad = random.bounded(2) == 0;
        const bool bForeign = random.bounded(5) < 3;
        // Pieces and delays hold up every flight part: often the line is quick, so that flights come down.
        const int iPieces = random.bounded(2) == 0 ? 1 : 2 + random.bounded(7);
        // Within the quarter second that the tool lets the line fall quiet before it asks for a flight
        // part: a reply later than that cannot be told from a part.
        const int aiDelayMs[] = {0, 0, 0, random.bounded(50), random.bounded(200)};
        const int iDelayMs = aiDelayMs[random.bounded(5)];
        Sim().SetNoise(bNoise);
        Sim().SetBadChecksums(bBad);
        Sim().SetForeignTraffic(bForeign);
        Sim().SetSplitWrites(iPieces, 1 + random.bounded(10));
        Sim().SetReplyDelayMs(iDelayMs);
        Note(QStringLiteral("line: noise %1, bad checksums %2, foreign %3, %4 pieces, delay %5 ms")
                 .arg(bNoise)
                 .arg(bBad)
                 .arg(bForeign)
                 .arg(iPieces)
                 .arg(iDelayMs));
    }
    void Stall() {
        const int iMs = random.bounded(500, 4000);
        Note(QStringLiteral("instrument silent for %1 ms").arg(iMs));
        Sim().SetSilent(true);
        iSpeakAtMs = Now() + iMs;
    }
    void PartFault() {
        const int iKind = random.bounded(5);
        const auto eFault = iKind < 2   ? SimInstrument::PartFault::Stall
                            : iKind < 4 ? SimInstrument::PartFault::StrayByte
                                        : SimInstrument::PartFault::Unplug;
        const int iPart = random.bounded(5);
        const int iTimes = 1 + random.bounded(4);
        Note(QStringLiteral("part %1: %2, %3 times")
                 .arg(iPart)
                 .arg(iKind < 2   ? "stall"
                      : iKind < 4 ? "stray byte"
                                  : "unplug")
                 .arg(iTimes));
        Sim().SetPartFault(eFault, iPart, iTimes);
    }
    void LoseRequest() {
        const QByteArray aBodies[] = {"VNREQ,0", "VNREQ,1", "VNREQ,40,0",
                                      "VNREQ,50," + QByteArray::number(random.bounded(kMaxFlights)) + "," +
                                          QByteArray::number(random.bounded(4))};
        const QByteArray& baBody = aBodies[random.bounded(4)];
        Note(QStringLiteral("lose ") + QString::fromLatin1(baBody));
        Sim().LoseRequest(baBody, 1 + random.bounded(3));
    }
    void Unplug() {
        Note(QStringLiteral("unplug"));
        Sim().Unplug();
    }
    void UnplugAtChunk() {
        const int iChunk = random.bounded(5);
        Note(QStringLiteral("unplug at update chunk %1").arg(iChunk));
        Sim().SetUnplugAtChunk(iChunk);
    }
    // The pilot flies again while the tool is not connected.
    void NewFlights() {
        if (ButtonText("connectButton") != QLatin1String("Connect"))
            return;
        Note(QStringLiteral("new flights"));
        AddFlights(1 + random.bounded(3));
    }

    void Act() {
        // How often each comes up: downloads and changes of the line most.
        static const Action kaActions[] = {
            {2, &TestChaos::PressConnect},  {1, &TestChaos::PressRefresh}, {3, &TestChaos::PressSave},
            {8, &TestChaos::PressDownload}, {1, &TestChaos::PressEmpty},   {2, &TestChaos::SelectFile},
            {2, &TestChaos::PressUpdate},   {1, &TestChaos::PressClear},   {1, &TestChaos::ToggleOutput},
            {6, &TestChaos::ChangeLine},    {2, &TestChaos::Stall},        {3, &TestChaos::PartFault},
            {2, &TestChaos::LoseRequest},   {1, &TestChaos::Unplug},       {1, &TestChaos::UnplugAtChunk},
            {2, &TestChaos::NewFlights},
        };
        int iTotal = 0;
        for (const Action& action : kaActions)
            iTotal += action.iWeight;
        int iPick = random.bounded(iTotal);
        for (const Action& action : kaActions) {
            if ((iPick -= action.iWeight) < 0)
                return (this->*action.pfnDo)();
        }
    }

    // Unplugged lines come back, stalls end; the window's log is read for finished downloads.
    void Housekeeping() {
        if (!Sim().IsPlugged() && iReplugAtMs < 0) {
            ++iUnplugs;
            iReplugAtMs = Now() + random.bounded(300, 4000);
        }
        if (iReplugAtMs >= 0 && Now() >= iReplugAtMs) {
            iReplugAtMs = -1;
            Note(Sim().Replug() ? QStringLiteral("replugged") : QStringLiteral("replug failed"));
        }
        if (iSpeakAtMs >= 0 && Now() >= iSpeakAtMs) {
            iSpeakAtMs = -1;
            Sim().SetSilent(false);
        }
        QStringList& asDebug = pRig->asDebug;
        for (; iScannedDebug < asDebug.size(); ++iScannedDebug) {
            const QString& sLine = asDebug[iScannedDebug];
            if (sLine == QLatin1String("Flight download finished!"))
                ++iDownloads;
            else if (sLine.startsWith(QLatin1String("Flight download given up")))
                ++iGivenUp;
            else
                continue;
            bDownloadEnded = true;
        }
        if (asDebug.size() > 1000) {
            asDebug.remove(0, asDebug.size() - kKeptLines);
            iScannedDebug = asDebug.size();
        }
    }

    // Nothing in the working directory but flight files, each the whole of the instrument's flight.
    bool FilesSound() {
        const QFileInfoList entries =
            QDir(pRig->workDir.path())
                .entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo& info : entries) {
            const QString sName = info.fileName();
            if (!expectedFiles.contains(sName))
                return Fail(QStringLiteral("unexpected file ") + sName);
            const QString sLook =
                QStringLiteral("%1 %2").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch());
            if (!bDownloadEnded && checkedFiles.value(sName) == sLook)
                continue;
            QFile file(info.filePath());
            if (!file.open(QIODevice::ReadOnly))
                return Fail(QStringLiteral("cannot read ") + sName);
            const QByteArray baData = file.readAll();
            const QByteArray& baExpected = expectedFiles[sName];
            if (baData != baExpected) {
                qsizetype iAt = 0;
                while (iAt < qMin(baData.size(), baExpected.size()) && baData[iAt] == baExpected[iAt])
                    ++iAt;
                return Fail(QStringLiteral("%1 holds %2 bytes, the flight %3; they differ from byte %4")
                                .arg(sName)
                                .arg(baData.size())
                                .arg(baExpected.size())
                                .arg(iAt));
            }
            checkedFiles.insert(sName, sLook);
        }
        bDownloadEnded = false;
        return true;
    }

    // Runs the event loop for iMs, checking the invariants as it goes.
    bool Wait(qint64 iMs) {
        const qint64 iEndMs = Now() + iMs;
        do {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            Housekeeping();
            if (!sFailure.isEmpty())
                return false;
            if (Now() - iLastTickMs > kMaxTickGapMs)
                return Fail(QStringLiteral("no tick for %1 ms").arg(Now() - iLastTickMs));
            if (!FilesSound())
                return false;
        } while (Now() < iEndMs);
        return true;
    }

    bool Storm(qint64 iUntilMs) {
        Note(QStringLiteral("storm"));
        while (Now() < iUntilMs) {
            Act();
            if (!Wait(random.bounded(150, 1200)))
                return false;
        }
        return true;
    }

    bool Recovered() {
        return pRig->Find<QLabel>("deviceInfoLabel")->text() == QLatin1String(kIdentityLine) &&
               !pRig->Find<QGroupBox>("settingsGroup")->isHidden() && Shown() == Stored();
    }

    // The line made clean: the tool, pressed to connect whenever it is idle, must find its instrument.
    bool Calm() {
        Note(QStringLiteral("calm"));
        Sim().ClearFaults();
        iSpeakAtMs = -1;
        iReplugAtMs = -1;
        if (!Sim().IsPlugged() && !Sim().Replug())
            return Fail(QStringLiteral("cannot replug"));
        const qint64 iStartMs = Now();
        while (!Recovered()) {
            if (Now() - iStartMs > kRecoverMs)
                return Fail(QStringLiteral("no identity and settings %1 ms after the line was made clean: "
                                           "\"%2\", settings %3 shown %4, stored %5")
                                .arg(kRecoverMs)
                                .arg(pRig->Find<QLabel>("deviceInfoLabel")->text())
                                .arg(pRig->Find<QGroupBox>("settingsGroup")->isHidden() ? "hidden" : "seen")
                                .arg(Shown(), Stored()));
            if (ButtonText("connectButton") == QLatin1String("Connect"))
                PressConnect();
            if (!Wait(100))
                return false;
        }
        ++iCalms;
        Note(QStringLiteral("recovered"));
        // A listing under way is given a moment, so that the next storm finds flights to download.
        return Wait(1500);
    }

    // The pilot comes back with new flights when Empty has left few: disconnected, flights added, and
    // connected again.
    bool FlyAgain() {
        if (Sim().FlightCount() >= 2)
            return true;
        PressConnect();
        NewFlights();
        return Calm();
    }

private slots:
    void chaos() {
        uiSeed = EnvNumber("VORNIK_CHAOS_SEED", kDefaultSeed);
        const qint64 iRunMs = qint64{EnvNumber("VORNIK_CHAOS_SECONDS", kDefaultSeconds)} * 1000;
        qInfo("Chaos seed %u for %lld s; VORNIK_CHAOS_SEED and VORNIK_CHAOS_SECONDS change them", uiSeed,
              iRunMs / 1000);
        random.seed(uiSeed);

        pRig = std::make_unique<SimWindowRig>();
        SimIdentity identity;
        identity.uiSerial = kSerial;
        Sim().SetIdentity(identity);
        AddFlights(3);
        sUpdateFile = updateDir.filePath(QStringLiteral("image.vnu"));
        QFile update(sUpdateFile);
        QByteArray baImage = SimInstrument::MakeUpdateHeader(2000);
        while (baImage.size() < 128 + 2000)
            baImage += static_cast<char>(random.bounded(256));
        QVERIFY(update.open(QIODevice::WriteOnly) && update.write(baImage) == baImage.size());
        update.close();
        connect(&Sim(), &SimInstrument::UpdateFinished, this,
                [this](bool bComplete) { iUpdates += bComplete; });

        QVERIFY(pRig->MakeWindow());
        QTimer* pPollTimer = pRig->Find<QTimer>("pollTimer");
        runClock.start();
        connect(pPollTimer, &QTimer::timeout, this, [this] {
            iWorstGapMs = qMax(iWorstGapMs, Now() - iLastTickMs);
            if (Now() - iLastTickMs > kMaxTickGapMs)
                Fail(QStringLiteral("a tick %1 ms after the one before").arg(Now() - iLastTickMs));
            iLastTickMs = Now();
        });
        pPollTimer->start();

        // Connected first, so that the first storm finds something to break.
        bool bSound = Calm();
        while (bSound && Now() < iRunMs)
            bSound = Storm(qMin(iRunMs, Now() + random.bounded(5000, 15000))) && Calm() && FlyAgain();
        // Qt Test cuts long messages short.
        if (!bSound)
            fprintf(stderr, "%s\n", Report().constData());
        QVERIFY2(bSound, qPrintable(sFailure));
        qInfo("%d presses, %d flights downloaded, %d downloads given up, %d updates, %d unplugs, %d calms; "
              "ticks at most %lld ms apart",
              iPresses, iDownloads, iGivenUp, iUpdates, iUnplugs, iCalms, iWorstGapMs);
    }
    void cleanup() { pRig.reset(); }
};

// Qt Test's own limit of five minutes per test function would cut a long run by hand short.
int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT")) {
        const qint64 iLimitMs = (qint64{EnvNumber("VORNIK_CHAOS_SECONDS", kDefaultSeconds)} + 300) * 1000;
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number(iLimitMs));
    }
    QApplication app(argc, argv);
    TestChaos test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_chaos.moc"
