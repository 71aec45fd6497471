// The whole window against an instrument on a bad line. For a bounded time (VORNIK_CHAOS_SECONDS, 60
// unless set) storms alternate with calm. In a storm the instrument mixes its replies with other
// equipment's sentences, noise, bad checksums and overlong lines, stalls and is unplugged, while the
// window's buttons are pressed in an order drawn from a seed (VORNIK_CHAOS_SEED, printed at the start;
// VORNIK_CHAOS_VERBOSE prints every step as it is taken).
// Checked all the time: the one-second timer keeps its pace, and the working directory holds nothing but
// flight files under their flights' names; whenever a download ends and in every calm, each of them is
// byte for byte the instrument's flight. Checked in every calm: on a clean line the tool is connected
// again and reaches the identity and the settings.
#include "SimWindowRig.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHash>
#include <QRandomGenerator>

namespace {

constexpr quint32 kDefaultSeed = 20240517;
constexpr quint32 kDefaultSeconds = 60;
// The poll timer runs once a second; a tick this late means that something held up the event loop.
constexpr qint64 kMaxTickGapMs = 1500;
// From a clean line to identity and settings: an update's watchdog and reopening fit well inside.
constexpr qint64 kRecoverMs = 30000;
const char kIdentityLine[] = "Device: Tovak_2 (12345), Produced: A7, FW: 1.4.B7, HW: 2.0";
constexpr int kMaxFlights = 6;
// Lines of the window's debug log and actions kept for the message of a failure.
constexpr int kKeptLines = 25;

quint32 EnvNumber(const char* pszName, quint32 uiDefault) {
    bool bOk = false;
    const quint32 uiValue = qEnvironmentVariable(pszName).toUInt(&bOk);
    return bOk ? uiValue : uiDefault;
}

// What the user and the line do in a storm, and how often.
const std::pair<int, const char*> kaActions[] = {
    {2, "connectButton"},  {1, "refreshButton"},   {3, "saveButton"},
    {8, "downloadButton"}, {1, "emptyButton"},     {2, "selectFileButton"},
    {2, "updateButton"},   {1, "clearButton"},     {1, "enableOutputCheck"},
    {6, "line"},           {2, "silence"},         {3, "part fault"},
    {2, "lost request"},   {3, "late answers"},    {1, "double answers"},
    {1, "unplug"},         {1, "unplug at chunk"}, {2, "new flights"}};
// Requests whose answers come late or twice: identity, settings, logbook rows and flight parts.
const char* const kapszRequests[] = {"VNREQ,0", "VNREQ,1", "VNREQ,40,", "VNREQ,50,"};

} // namespace

class TestChaos : public QObject {
    Q_OBJECT

    std::unique_ptr<SimWindowRig> pRig;
    quint32 uiSeed = kDefaultSeed;
    QRandomGenerator random;
    QElapsedTimer runClock;
    QTemporaryDir updateDir; // the update file lives away from the working directory
    QString sFailure;
    QStringList asActions;
    qint64 iLastTickMs = 0, iWorstGapMs = 0, iReplugAtMs = -1, iSpeakAtMs = -1;
    int iScannedDebug = 0, iFlightsMade = 0, iDownloads = 0, iGivenUp = 0, iUpdates = 0, iUnplugs = 0,
        iCalms = 0;
    // Every flight the instrument has ever held, under the name its file must have.
    QHash<QString, QByteArray> expectedFiles;

    SimInstrument& Sim() { return pRig->sim; }
    qint64 Now() const { return runClock.elapsed(); }
    bool Idle() const { return pRig->Find<QPushButton>("connectButton")->text() == QLatin1String("Connect"); }
    template <class... Args> void Note(const char* pszFormat, Args... args) {
        asActions << QString::asprintf("%.3f s: ", Now() / 1000.0) + QString::asprintf(pszFormat, args...);
        if (qEnvironmentVariableIsSet("VORNIK_CHAOS_VERBOSE"))
            fprintf(stderr, "chaos %s\n", qPrintable(asActions.last()));
        if (asActions.size() > kKeptLines)
            asActions.removeFirst();
    }
    bool Fail(const QString& sWhat) {
        if (sFailure.isEmpty())
            sFailure = QStringLiteral("at %1 s: %2").arg(Now() / 1000.0, 0, 'f', 3).arg(sWhat);
        return false;
    }

    // Flights of awkward and of random sizes, each on a day of its own, under the file name that the tool
    // must give it for the serial 12345.
    void AddFlights(int iCount) {
        const quint32 auiSizes[] = {0, 1, 127, 128, 256, 1000};
        for (int i = 0; i < iCount && Sim().FlightCount() < kMaxFlights; ++i, ++iFlightsMade) {
            const quint32 uiSize =
                random.bounded(3) == 0 ? auiSizes[random.bounded(6)] : random.bounded(1u, 16000u);
            const int iYear = 2024 + iFlightsMade / 336, iMonth = 1 + iFlightsMade / 28 % 12,
                      iDay = 1 + iFlightsMade % 28;
            const uint32_t uiPacked = sim::PackLogbookTime(iYear, iMonth, iDay, 36000 + 37 * iFlightsMade);
            const int iIndex = Sim().AddFlight(uiSize, uiPacked, static_cast<uint16_t>(1 + iFlightsMade % 3));
            expectedFiles.insert(QString::asprintf("%04d-%02d-%02d-VNK-9IX-%02d.igc", iYear, iMonth, iDay,
                                                   1 + iFlightsMade % 3),
                                 Sim().Flight(iIndex).baData);
        }
    }
    // A press as a user makes it: only on a button that is there to press.
    void Press(const char* pszButton) {
        QAbstractButton* pButton = pRig->Find<QAbstractButton>(pszButton);
        const bool bOffered = pButton->isVisible() && pButton->isEnabled();
        Note("%s%s", pszButton, bOffered ? "" : " (not offered)");
        if (bOffered)
            QTest::mouseClick(pButton, Qt::LeftButton);
    }
    void SelectInstrumentPort() {
        QComboBox* pPorts = pRig->Find<QComboBox>("portCombo");
        pPorts->setCurrentIndex(pPorts->findText(Sim().DevicePath()));
    }
    void PressConnect() {
        if (Idle())
            SelectInstrumentPort();
        Press("connectButton");
    }

    // One step of a storm, drawn by weight.
    void Act() {
        int iPick =
            random.bounded(std::accumulate(std::begin(kaActions), std::end(kaActions), 0,
                                           [](int iSum, const auto& action) { return iSum + action.first; }));
        int iAction = 0;
        while ((iPick -= kaActions[iAction].first) >= 0)
            ++iAction;
        const QByteArray baWhat = kaActions[iAction].second;
        QPushButton* pSave = pRig->Find<QPushButton>("saveButton");
        QComboBox* pFlights = pRig->Find<QComboBox>("flightCombo");
        if (baWhat == "connectButton") {
            PressConnect();
        } else if (baWhat == "saveButton" && pSave->isVisible() && pSave->isEnabled()) {
            // Typed only where it can be saved: typed and not saved, it would rightly differ from the
            // instrument's settings.
            const int aiLows[] = {-10, 5, 0, -1, 0, 0}, aiEnds[] = {121, 101, 101, 25, 1000000, 5};
            QStringList asValues;
            for (int i = 0; i < 6; i++)
                asValues << QString::number(random.bounded(aiLows[i], aiEnds[i]) / (i == 1 ? 10.0 : 1.0));
            pRig->Type(asValues.join(QLatin1Char(',')));
            Press("saveButton");
        } else if (baWhat == "selectFileButton") {
            const bool bCancel = random.bounded(4) == 0;
            Note("Select File%s", bCancel ? ", cancelled" : "");
            pRig->ChooseFile(bCancel ? QString() : updateDir.filePath(QStringLiteral("image.vnu")));
        } else if (baWhat.endsWith("Button") || baWhat.endsWith("Check")) {
            if (baWhat == "downloadButton" && pFlights->count() > 0)
                pFlights->setCurrentIndex(random.bounded(static_cast<int>(pFlights->count())));
            Press(baWhat.constData());
            if (baWhat == "refreshButton")
                SelectInstrumentPort();
        } else if (baWhat == "line") {
            const bool bNoise = random.bounded(2) == 0, bBad = random.bounded(2) == 0,
                       bForeign = random.bounded(5) < 3;
            // Pieces and delays hold up every flight part: often the line is quick, so that flights come
            // down.
            const int iPieces = random.bounded(2) == 0 ? 1 : 2 + random.bounded(7),
                      iGapMs = 1 + random.bounded(10);
            // Now and then every reply seconds late, beyond the time the tool waits for a part.
            const int aiDelayMs[] = {0, 0, 0, random.bounded(50), random.bounded(200), random.bounded(5000)};
            const int iDelayMs = aiDelayMs[random.bounded(6)];
            Sim().SetNoise(bNoise);
            Sim().SetBadChecksums(bBad);
            Sim().SetForeignTraffic(bForeign);
            Sim().SetSplitWrites(iPieces, iGapMs);
            Sim().SetReplyDelayMs(iDelayMs);
            Note("line: noise %d, bad checksums %d, foreign %d, %d pieces, delay %d ms", bNoise, bBad,
                 bForeign, iPieces, iDelayMs);
        } else if (baWhat == "silence") {
            iSpeakAtMs = Now() + random.bounded(500, 4000);
            Note("instrument silent until %.3f s", iSpeakAtMs / 1000.0);
            Sim().SetSilent(true);
        } else if (baWhat == "part fault") {
            const int iKind = random.bounded(5) / 2, iPart = random.bounded(5),
                      iTimes = 1 + random.bounded(4);
            Note("part %d: %s, %d times", iPart,
                 iKind == 0   ? "stall"
                 : iKind == 1 ? "stray byte"
                              : "unplug",
                 iTimes);
            Sim().SetPartFault(static_cast<SimInstrument::PartFault>(iKind), iPart, iTimes);
        } else if (baWhat == "lost request") {
            const int iFlight = random.bounded(kMaxFlights), iPart = random.bounded(4);
            const QByteArray aBodies[] = {"VNREQ,0", "VNREQ,1", "VNREQ,40,0",
                                          "VNREQ,50," + QByteArray::number(iFlight) + "," +
                                              QByteArray::number(iPart)};
            const QByteArray& baBody = aBodies[random.bounded(4)];
            Note("lose %s", baBody.constData());
            Sim().LoseRequest(baBody, 1 + random.bounded(3));
        } else if (baWhat == "late answers") {
            const char* pszStart = kapszRequests[random.bounded(4)];
            const int iMs = random.bounded(500, 9000), iTimes = random.bounded(4);
            Note("%s answered %d ms late, %d times (0: always)", pszStart, iMs, iTimes);
            Sim().SetLateAnswers(pszStart, iMs, iTimes == 0 ? -1 : iTimes);
        } else if (baWhat == "double answers") {
            const char* pszStart = kapszRequests[random.bounded(4)];
            Note("%s answered twice", pszStart);
            Sim().SetDoubleAnswers(pszStart);
        } else if (baWhat == "unplug") {
            Note("unplug");
            Sim().Unplug();
        } else if (baWhat == "unplug at chunk") {
            const int iChunk = random.bounded(5);
            Note("unplug at update chunk %d", iChunk);
            Sim().SetUnplugAtChunk(iChunk);
        } else if (baWhat == "new flights" && Idle()) {
            // The pilot flies again while the tool is not connected.
            Note("new flights");
            AddFlights(1 + random.bounded(3));
        }
    }

    // Unplugged lines come back, stalls end; the window's log is read for downloads that ended.
    void Housekeeping() {
        if (!Sim().IsPlugged() && iReplugAtMs < 0) {
            ++iUnplugs;
            iReplugAtMs = Now() + random.bounded(300, 4000);
        }
        if (iReplugAtMs >= 0 && Now() >= iReplugAtMs) {
            iReplugAtMs = -1;
            Note("%s", Sim().Replug() ? "replugged" : "replug failed");
        }
        if (iSpeakAtMs >= 0 && Now() >= iSpeakAtMs) {
            iSpeakAtMs = -1;
            Sim().SetSilent(false);
        }
        QStringList& asDebug = pRig->asDebug;
        for (; iScannedDebug < asDebug.size(); ++iScannedDebug) {
            iDownloads += asDebug[iScannedDebug] == QLatin1String("Flight download finished!");
            iGivenUp += asDebug[iScannedDebug].startsWith(QLatin1String("Flight download given up"));
        }
        if (asDebug.size() > 1000) {
            asDebug.remove(0, asDebug.size() - kKeptLines);
            iScannedDebug = asDebug.size();
        }
    }

    // Nothing in the working directory but flight files under their flights' names; with bRead, each
    // holds the whole of its flight.
    bool FilesSound(bool bRead) {
        const QDir::Filters eAll = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        for (const QFileInfo& info : QDir(pRig->workDir.path()).entryInfoList(eAll)) {
            const QString sName = info.fileName();
            if (!expectedFiles.contains(sName))
                return Fail(QStringLiteral("unexpected file ") + sName);
            const QByteArray baData = bRead ? SimWindowRig::ReadFile(info.filePath()) : expectedFiles[sName];
            if (baData != expectedFiles[sName])
                return Fail(QStringLiteral("%1 holds %2 bytes, not the flight's %3")
                                .arg(sName)
                                .arg(baData.size())
                                .arg(expectedFiles[sName].size()));
        }
        return true;
    }

    // Runs the event loop for iMs, checking the invariants as it goes.
    bool Wait(qint64 iMs) {
        const qint64 iEndMs = Now() + iMs;
        do {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            const int iEnded = iDownloads + iGivenUp;
            Housekeeping();
            if (Now() - iLastTickMs > kMaxTickGapMs)
                Fail(QStringLiteral("no tick for %1 ms").arg(Now() - iLastTickMs));
            if (!sFailure.isEmpty() || !FilesSound(iDownloads + iGivenUp != iEnded))
                return false;
        } while (Now() < iEndMs);
        return true;
    }

    bool Storm(qint64 iUntilMs) {
        Note("storm");
        while (Now() < iUntilMs) {
            Act();
            if (!Wait(random.bounded(150, 1200)))
                return false;
        }
        return true;
    }

    // Runs the event loop until bDone holds; on a clean line that must not take long.
    bool WaitUntil(const std::function<bool()>& bDone, const char* pszWhat) {
        const qint64 iStartMs = Now();
        while (!bDone()) {
            if (Now() - iStartMs > kRecoverMs)
                return Fail(QStringLiteral("%1 ms after the line was made clean: %2")
                                .arg(QString::number(kRecoverMs), QLatin1String(pszWhat)));
            if (Idle())
                PressConnect();
            if (!Wait(100))
                return false;
        }
        return true;
    }

    // The line made clean: the tool, pressed to connect whenever it is idle, must find its instrument.
    bool Recover() {
        const QLabel* pInfo = pRig->Find<QLabel>("deviceInfoLabel");
        const QGroupBox* pSettings = pRig->Find<QGroupBox>("settingsGroup");
        const bool bShown = WaitUntil(
            [&] {
                return pInfo->text() == QLatin1String(kIdentityLine) && !pSettings->isHidden() &&
                       pRig->Shown() == pRig->Stored();
            },
            "identity and settings not shown");
        if (!bShown)
            sFailure += QStringLiteral(": \"%1\", settings %2, shown %3, stored %4")
                            .arg(pInfo->text(), QLatin1String(pSettings->isHidden() ? "hidden" : "seen"),
                                 pRig->Shown(), pRig->Stored());
        return bShown;
    }

    // Until a flight has come down and the firmware has been updated once, a calm does both, which must
    // complete on a clean line, answers that are still late from the storm notwithstanding.
    bool ProveTransfers() {
        QComboBox* pFlights = pRig->Find<QComboBox>("flightCombo");
        if (iDownloads == 0 && Sim().FlightCount() > 0) {
            if (!WaitUntil([&] { return pFlights->count() > 0; }, "no flight listed"))
                return false;
            Press("downloadButton");
            if (!WaitUntil([this] { return iDownloads > 0; }, "no flight downloaded"))
                return false;
        }
        if (iUpdates > 0)
            return true;
        pRig->ChooseFile(updateDir.filePath(QStringLiteral("image.vnu")));
        Press("updateButton");
        return WaitUntil([this] { return iUpdates > 0; }, "no update completed") && Recover();
    }

    bool Calm() {
        Note("calm");
        Sim().ClearFaults();
        iSpeakAtMs = iReplugAtMs = -1;
        if (!Sim().IsPlugged() && !Sim().Replug())
            return Fail(QStringLiteral("cannot replug"));
        if (!Recover() || !ProveTransfers())
            return false;
        ++iCalms;
        Note("recovered");
        // A listing under way is given a moment, so that the next storm finds flights to download.
        return FilesSound(true) && Wait(1500);
    }

    // The pilot comes back with new flights when Empty has left few: disconnected, flights added, and
    // connected again.
    bool FlyAgain() {
        if (Sim().FlightCount() >= 2)
            return true;
        PressConnect();
        Note("new flights");
        AddFlights(3);
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
        Sim().SetIdentity({"Tovak_2", "A7", 12345});
        AddFlights(3);
        QByteArray baImage = SimInstrument::MakeUpdateHeader(2000);
        while (baImage.size() < 128 + 2000)
            baImage += static_cast<char>(random.bounded(256));
        QVERIFY(!SimWindowRig::WriteFile(updateDir.filePath(QStringLiteral("image.vnu")), baImage).isEmpty());
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
        if (!bSound) {
            const QStringList asDebug = pRig->asDebug.mid(qMax(0, int(pRig->asDebug.size()) - kKeptLines));
            fprintf(stderr, "seed %u: %s\nlast actions:\n  %s\nlast lines of the window's log:\n  %s\n",
                    uiSeed, qPrintable(sFailure), qPrintable(asActions.join(QStringLiteral("\n  "))),
                    qPrintable(asDebug.join(QStringLiteral("\n  "))));
        }
        QVERIFY2(bSound, qPrintable(sFailure));
        QVERIFY2(iDownloads > 0 && iUpdates > 0, "no flight downloaded or no update completed");
        qInfo("%d flights downloaded, %d downloads given up, %d updates, %d unplugs, %d calms; ticks at most "
              "%lld ms apart",
              iDownloads, iGivenUp, iUpdates, iUnplugs, iCalms, iWorstGapMs);
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
