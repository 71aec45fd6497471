// The whole window, its own one-second timer running, against an instrument on a bad line for
// VORNIK_CHAOS_SECONDS (60 unless set). Storms alternate with calm: in a storm the line is spoilt and the
// buttons are pressed in an order drawn from VORNIK_CHAOS_SEED (printed; VORNIK_CHAOS_VERBOSE prints every
// step). Always: the timer ticks once a second, never more than 1.5 s apart, and the working directory
// holds only flight files under their flights' names, each its flight's bytes whenever a download ends.
// In every calm the tool finds identity and settings again, and until one has, a flight comes down and an
// update goes in.
#include "testsupport/WindowRig.h"

#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTimer>
#include <QtTest>

#include <numeric>

using testsupport::WindowRig;

namespace {

constexpr quint32 kDefaultSeed = 20240517;
constexpr quint32 kDefaultSeconds = 60;
constexpr qint64 kMaxTickGapMs = 1500; // a tick this late means that something held up the event loop
// From a clean line to identity and settings: an update's watchdog and reopening fit well inside.
constexpr int kRecoverMs = 30000;
const char kIdentityLine[] = "Device: Tovak_2 (12345), Produced: A7, FW: 1.4.B7, HW: 2.0";
constexpr int kMaxFlights = 6;
constexpr int kKeptLines = 25; // of the window's log and of the actions, for a failure's message
// Requests whose answers come late, twice or not at all: identity, settings, logbook rows, flight parts.
const char* const kapszRequests[] = {"VNREQ,0", "VNREQ,1", "VNREQ,40,", "VNREQ,50,"};

// What one step of a storm does: a button pressed, or the line spoilt; its number is drawn from
// [iLow, iEnd) and written down with what it is.
enum class Kind { Press, Save, Download, Image, Spoil, Silence, PartFault, Lose, Late, Twice, Unplug, Fly };
struct Step {
    int iWeight; // how often, against the others
    Kind eKind;
    const char* pszWhat = "";
    int iLow = 0, iEnd = 1;
};
const Step kaSteps[] = {
    {2, Kind::Press, "connectButton"},
    {1, Kind::Press, "refreshButton"},
    {3, Kind::Save},
    {8, Kind::Download},
    {1, Kind::Press, "emptyButton"},
    {2, Kind::Image, "Select File (0: cancelled)", 0, 4},
    {2, Kind::Press, "updateButton"},
    {1, Kind::Press, "clearButton"},
    {1, Kind::Press, "enableOutputCheck"},
    {6, Kind::Spoil},
    {2, Kind::Silence, "silent for ms", 500, 4000},
    {3, Kind::PartFault, "part fault (tens: stall, stray byte, unplug; units: part)", 0, 50},
    {2, Kind::Lose, "request lost (number: flight)", 0, kMaxFlights},
    {3, Kind::Late, "answered late by ms (4 times: always)", 500, 9000},
    {1, Kind::Twice, "answered twice"},
    {1, Kind::Unplug, "unplugged"},
    {1, Kind::Unplug, "unplugged at update chunk", 0, 5},
    {2, Kind::Fly, "new flights when idle", 1, 4}};

quint32 EnvNumber(const char* pszName, quint32 uiDefault) {
    bool bOk = false;
    const quint32 uiValue = qEnvironmentVariable(pszName).toUInt(&bOk);
    return bOk ? uiValue : uiDefault;
}

} // namespace

class TestChaos : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowRig> pRig;
    QRandomGenerator random;
    QElapsedTimer runClock;
    QTemporaryDir updateDir; // the update file lives away from the working directory
    const QString sImage = updateDir.filePath(QStringLiteral("image.vnu"));
    QString sFailure;
    QStringList asActions;
    qint64 iLastTickMs = 0, iWorstGapMs = 0, iReplugAtMs = -1, iSpeakAtMs = -1;
    int iTicks = 0, iScannedDebug = 0, iFlightsMade = 0, iDownloads = 0, iUpdates = 0;
    QHash<QString, QByteArray> expectedFiles; // every flight ever held, under the name its file must have

    SimInstrument& Sim() { return pRig->sim; }
    int Pick(int iEnd) { return random.bounded(iEnd); }
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

    // Flights of awkward and of random sizes, each on a day of its own, named for the serial 12345.
    void AddFlights(int iCount) {
        const quint32 auiSizes[] = {0, 1, 127, 128, 256, 1000};
        for (int i = 0; i < iCount && Sim().FlightCount() < kMaxFlights; ++i, ++iFlightsMade) {
            const quint32 uiSize = Pick(3) == 0 ? auiSizes[Pick(6)] : random.bounded(1u, 16000u);
            const int iYear = 2024 + iFlightsMade / 336, iMonth = 1 + iFlightsMade / 28 % 12,
                      iDay = 1 + iFlightsMade % 28, iDailyNr = 1 + iFlightsMade % 3;
            const uint32_t uiPacked = sim::PackLogbookTime(iYear, iMonth, iDay, 36000 + 37 * iFlightsMade);
            const int iIndex = Sim().AddFlight(uiSize, uiPacked, static_cast<uint16_t>(iDailyNr));
            expectedFiles.insert(
                QString::asprintf("%04d-%02d-%02d-VNK-9IX-%02d.igc", iYear, iMonth, iDay, iDailyNr),
                Sim().Flight(iIndex).baData);
        }
    }
    // A press as a user makes it: only on a button that is there to press, the instrument's port chosen
    // before Connect and after Refresh.
    void Press(const char* pszButton) {
        QAbstractButton* pButton = pRig->Find<QAbstractButton>(pszButton);
        const bool bOffered = pButton->isVisible() && pButton->isEnabled();
        Note("%s%s", pszButton, bOffered ? "" : " (not offered)");
        QComboBox* pPorts = pRig->Find<QComboBox>("portCombo");
        const auto ChoosePort = [&] {
            if (Idle())
                pPorts->setCurrentIndex(pPorts->findText(Sim().DevicePath()));
        };
        ChoosePort();
        if (bOffered)
            pButton->click();
        ChoosePort();
    }

    // One step of a storm, drawn by weight.
    void Act() {
        int iDraw = Pick(std::accumulate(std::begin(kaSteps), std::end(kaSteps), 0,
                                         [](int iSum, const Step& step) { return iSum + step.iWeight; }));
        const Step* pStep = std::begin(kaSteps);
        while ((iDraw -= pStep->iWeight) >= 0)
            ++pStep;
        const int iNumber = random.bounded(pStep->iLow, pStep->iEnd), iTimes = 1 + Pick(4);
        QByteArray baRequest = kapszRequests[Pick(4)];
        if (pStep->eKind == Kind::Lose && baRequest.endsWith(',')) // the first row, or a flight's part
            baRequest += baRequest == "VNREQ,40,"
                             ? "0"
                             : QByteArray::number(iNumber) + ',' + QByteArray::number(Pick(4));
        if (pStep->eKind >= Kind::Image)
            Note("%s: %d, %d times, %s", pStep->pszWhat, iNumber, iTimes, baRequest.constData());
        switch (pStep->eKind) {
        case Kind::Press:
            Press(pStep->pszWhat);
            break;
        case Kind::Save: // typed only where it can be saved: typed and not saved, it would rightly differ
            if (const QPushButton* pSave = pRig->Find<QPushButton>("saveButton");
                pSave->isVisible() && pSave->isEnabled()) {
                const int aiLows[] = {-10, 5, 0, -1, 0, 0}, aiEnds[] = {121, 101, 101, 25, 1000000, 5};
                QStringList asValues;
                for (int i = 0; i < 6; i++)
                    asValues << QString::number(random.bounded(aiLows[i], aiEnds[i]) / (i == 1 ? 10.0 : 1.0));
                pRig->Type(asValues.join(QLatin1Char(',')));
                Press("saveButton");
            }
            break;
        case Kind::Download:
            if (QComboBox* pFlights = pRig->Find<QComboBox>("flightCombo"); pFlights->count() > 0)
                pFlights->setCurrentIndex(Pick(pFlights->count()));
            Press("downloadButton");
            break;
        case Kind::Image:
            pRig->ChooseFile(iNumber == 0 ? QString() : sImage);
            break;
        case Kind::Spoil: { // often quick, so that flights come down; now and then seconds late, beyond
                            // the time the tool waits for a part
            const bool bNoise = Pick(2) == 0, bBad = Pick(2) == 0, bForeign = Pick(5) < 3;
            const int iPieces = Pick(2) == 0 ? 1 : 2 + Pick(7),
                      aiDelayMs[] = {0, 0, 0, Pick(50), Pick(200), Pick(5000)};
            const int iDelayMs = aiDelayMs[Pick(6)];
            Sim().SetNoise(bNoise);
            Sim().SetBadChecksums(bBad);
            Sim().SetForeignTraffic(bForeign);
            Sim().SetSplitWrites(iPieces, 1 + Pick(10));
            Sim().SetReplyDelayMs(iDelayMs);
            Note("line: noise %d, bad checksums %d, foreign %d, %d pieces, delay %d ms", bNoise, bBad,
                 bForeign, iPieces, iDelayMs);
            break;
        }
        case Kind::Silence:
            iSpeakAtMs = Now() + iNumber;
            Sim().SetSilent(true);
            break;
        case Kind::PartFault:
            Sim().SetPartFault(static_cast<SimInstrument::PartFault>(iNumber / 20), iNumber % 5, iTimes);
            break;
        case Kind::Lose:
            Sim().LoseRequest(baRequest, iTimes);
            break;
        case Kind::Late:
            Sim().SetLateAnswers(baRequest, iNumber, iTimes == 4 ? -1 : iTimes);
            break;
        case Kind::Twice:
            Sim().SetDoubleAnswers(baRequest);
            break;
        case Kind::Unplug: // at once, or at an update chunk
            if (pStep->iEnd == 1)
                Sim().Unplug();
            else
                Sim().SetUnplugAtChunk(iNumber);
            break;
        case Kind::Fly: // the pilot flies again while the tool is not connected
            if (Idle())
                AddFlights(iNumber);
            break;
        }
    }
    // Unplugged lines come back, silences end, and the window's log is read for downloads that ended;
    // false once an invariant is broken.
    bool Housekeeping() {
        if (!Sim().IsPlugged() && iReplugAtMs < 0)
            iReplugAtMs = Now() + random.bounded(300, 4000);
        if (iReplugAtMs >= 0 && Now() >= iReplugAtMs) {
            iReplugAtMs = -1;
            Note("%s", Sim().Replug() ? "replugged" : "replug failed");
        }
        if (iSpeakAtMs >= 0 && Now() >= iSpeakAtMs) {
            iSpeakAtMs = -1;
            Sim().SetSilent(false);
        }
        bool bEnded = false;
        for (; iScannedDebug < pRig->asDebug.size(); ++iScannedDebug) {
            const QString& sLine = pRig->asDebug[iScannedDebug];
            iDownloads += sLine == QLatin1String("Flight download finished!");
            bEnded = bEnded || sLine == QLatin1String("Flight download finished!") ||
                     sLine.startsWith(QLatin1String("Flight download given up"));
        }
        if (pRig->asDebug.size() > 1000) {
            pRig->asDebug.remove(0, pRig->asDebug.size() - kKeptLines);
            pRig->aiDebugNs.remove(0, pRig->aiDebugNs.size() - kKeptLines);
            iScannedDebug = kKeptLines;
        }
        if (Now() - iLastTickMs > kMaxTickGapMs)
            Fail(QStringLiteral("no tick for %1 ms").arg(Now() - iLastTickMs));
        return sFailure.isEmpty() && FilesSound(bEnded);
    }

    // Nothing in the working directory but flight files under their flights' names; with bRead, each
    // holds the whole of its flight.
    bool FilesSound(bool bRead) {
        const QDir::Filters eAll = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        for (const QFileInfo& info : QDir(pRig->workDir.path()).entryInfoList(eAll)) {
            const QString sName = info.fileName();
            if (!expectedFiles.contains(sName))
                return Fail(QStringLiteral("unexpected file ") + sName);
            const QByteArray baData = bRead ? testsupport::ReadFile(info.filePath()) : expectedFiles[sName];
            if (baData != expectedFiles[sName])
                return Fail(QStringLiteral("%1 holds %2 bytes, not the flight's %3")
                                .arg(sName)
                                .arg(baData.size())
                                .arg(expectedFiles[sName].size()));
        }
        return true;
    }

    // Runs the event loop for iMs, checking the invariants as it goes.
    bool Wait(int iMs) {
        pRig->Until([this] { return !Housekeeping(); }, iMs);
        return sFailure.isEmpty();
    }
    // Runs the event loop until bDone holds, pressing Connect whenever the tool is idle; on a clean line
    // that must not take long.
    bool WaitUntil(const std::function<bool()>& bDone, const char* pszWhat) {
        const bool bDoneInTime = pRig->Until(
            [&] {
                if (Idle())
                    Press("connectButton");
                return !Housekeeping() || bDone();
            },
            kRecoverMs);
        if (!bDoneInTime)
            Fail(QStringLiteral("%1 ms after the line was made clean: %2").arg(kRecoverMs).arg(pszWhat));
        return sFailure.isEmpty();
    }

    // The line made clean: the tool must find its instrument.
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
        const QComboBox* pFlights = pRig->Find<QComboBox>("flightCombo");
        if (iDownloads == 0 && Sim().FlightCount() > 0) {
            if (!WaitUntil([&] { return pFlights->count() > 0; }, "no flight listed"))
                return false;
            Press("downloadButton");
            if (!WaitUntil([this] { return iDownloads > 0; }, "no flight downloaded"))
                return false;
        }
        if (iUpdates > 0)
            return true;
        pRig->ChooseFile(sImage);
        Press("updateButton");
        return WaitUntil([this] { return iUpdates > 0; }, "no update completed") && Recover();
    }

    bool Calm() {
        Note("calm");
        Sim().ClearFaults();
        iSpeakAtMs = iReplugAtMs = -1;
        if (!Sim().IsPlugged() && !Sim().Replug())
            return Fail(QStringLiteral("cannot replug"));
        if (!Recover() || !ProveTransfers() || !FilesSound(true))
            return false;
        // The pilot comes back with new flights when Empty has left few: disconnected, flights added, and
        // connected again.
        if (Sim().FlightCount() < 2) {
            Press("connectButton");
            AddFlights(3);
            return Calm();
        }
        // A listing under way is given a moment, so that the next storm finds flights to download.
        return Wait(1500);
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

private slots:
    void chaos() {
        const quint32 uiSeed = EnvNumber("VORNIK_CHAOS_SEED", kDefaultSeed);
        const qint64 iRunMs = qint64{EnvNumber("VORNIK_CHAOS_SECONDS", kDefaultSeconds)} * 1000;
        qInfo("Chaos seed %u for %lld s; VORNIK_CHAOS_SEED and VORNIK_CHAOS_SECONDS change them", uiSeed,
              iRunMs / 1000);
        random.seed(uiSeed);

        pRig = std::make_unique<WindowRig>();
        Sim().SetIdentity({"Tovak_2", "A7", 12345});
        AddFlights(3);
        QByteArray baImage = SimInstrument::MakeUpdateHeader(2000);
        while (baImage.size() < 128 + 2000)
            baImage += static_cast<char>(Pick(256));
        QVERIFY(!testsupport::WriteFile(sImage, baImage).isEmpty());
        connect(&Sim(), &SimInstrument::UpdateFinished, this,
                [this](bool bComplete) { iUpdates += bComplete; });

        QVERIFY(pRig->MakeWindow(true));
        runClock.start();
        connect(pRig->Find<QTimer>("pollTimer"), &QTimer::timeout, this, [this] {
            iWorstGapMs = qMax(iWorstGapMs, Now() - iLastTickMs);
            if (Now() - iLastTickMs > kMaxTickGapMs)
                Fail(QStringLiteral("a tick %1 ms after the one before").arg(Now() - iLastTickMs));
            // Late ticks may catch up, but never run ahead of once a second.
            if (++iTicks > Now() / 950 + 1)
                Fail(QStringLiteral("%1 ticks in %2 ms").arg(iTicks).arg(Now()));
            iLastTickMs = Now();
        });

        // Connected first, so that the first storm finds something to break.
        bool bSound = Calm();
        while (bSound && Now() < iRunMs)
            bSound = Storm(qMin(iRunMs, Now() + random.bounded(5000, 15000))) && Calm();
        // Qt Test cuts long messages short.
        if (!bSound) {
            const QStringList asDebug = pRig->asDebug.mid(qMax(0, int(pRig->asDebug.size()) - kKeptLines));
            fprintf(stderr, "seed %u: %s\nlast actions:\n  %s\nlast lines of the window's log:\n  %s\n",
                    uiSeed, qPrintable(sFailure), qPrintable(asActions.join(QStringLiteral("\n  "))),
                    qPrintable(asDebug.join(QStringLiteral("\n  "))));
        }
        QVERIFY2(bSound, qPrintable(sFailure));
        QVERIFY2(iDownloads > 0 && iUpdates > 0, "no flight downloaded or no update completed");
        qInfo("%d flights downloaded, %d updates, %d ticks at most %lld ms apart", iDownloads, iUpdates,
              iTicks, iWorstGapMs);
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
