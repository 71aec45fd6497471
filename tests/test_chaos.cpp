// The whole window, its own one-second timer running, against an instrument on a bad line for
// VORNIK_CHAOS_SECONDS (60 unless set). Storms alternate with calm: in a storm the line is spoilt and the
// buttons are pressed in an order drawn from VORNIK_CHAOS_SEED (printed). Always: the timer ticks once a
// second, never more than 1.5 s apart, and the working directory holds only flight files under their
// flights' names, each its flight's bytes whenever the window has logged something (as it does when a
// download ends). In every calm the tool finds identity and settings again, and until one has, a flight
// comes down and an update goes in. Each step goes into the window's log as a "chaos:" line, so that a
// failure prints the steps among the window's own lines.
#include "testsupport/WindowRig.h"

#include <QComboBox>
#include <QLabel>
#include <QtTest> // and with it all of Qt Core

const quint32 kSeed = qEnvironmentVariable("VORNIK_CHAOS_SEED", QStringLiteral("20240517")).toUInt();
const qint64 kRunMs = qEnvironmentVariable("VORNIK_CHAOS_SECONDS", QStringLiteral("60")).toLongLong() * 1000;
constexpr qint64 kMaxTickGapMs = 1500; // a tick this late means that something held up the event loop
// From a clean line to identity and settings: an update's watchdog and reopening fit well inside.
constexpr int kRecoverMs = 30000;
const char kIdentity[] = "Device: Tovak_2 (12345), Produced: A7, FW: 1.4.B7, HW: 2.0";
const char kDownloaded[] = "Flight download finished!";
constexpr int kMaxFlights = 6;
// Requests whose answers come late, twice or not at all: identity, settings, the first logbook row, a
// flight's part; their first nine characters cover any row, any part.
const char* const kapszRequests[] = {"VNREQ,0", "VNREQ,1", "VNREQ,40,0", "VNREQ,50,%d,%d"};
// Buttons pressed in a storm, the more often the more often they are listed.
// Not Refresh: offered only while idle, it lists the ports again, which the device link test covers.
const char* const kapszButtons[] = {"connectButton", "connectButton", "emptyButton",      "updateButton",
                                    "updateButton",  "clearButton",   "enableOutputCheck"};

class TestChaos : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::WindowRig> pRig;
    QRandomGenerator random{kSeed};
    QTemporaryDir updateDir; // the update file lives away from the working directory
    const QString sImage = updateDir.filePath(QStringLiteral("image.vnu"));
    QString sFailure; // the first invariant broken
    qint64 iStartMs = 0, iLastTickMs = 0;
    int iTicks = 0, iScannedLines = 0, iFlightsMade = 0, iUpdates = 0;
    QHash<QString, QByteArray> expectedFiles; // every flight ever held, under the name its file must have

    SimInstrument& Sim() { return pRig->sim; }
    int Pick(int iEnd) { return random.bounded(iEnd); }
    qint64 Now() const { return pRig->NowNs() / 1000000; } // the clock of the window's log
    bool Idle() const { return pRig->Find<QAbstractButton>("connectButton")->text() == "Connect"; }
    void Fail(const QString& sWhat) {
        if (!sFailure.isEmpty())
            return;
        sFailure = QString::asprintf("seed %u, at %.3f s: %s; identity \"%s\", settings shown %s, stored %s",
                                     kSeed, Now() / 1000.0, qPrintable(sWhat),
                                     qPrintable(pRig->Find<QLabel>("deviceInfoLabel")->text()),
                                     qPrintable(pRig->Shown()), qPrintable(pRig->Stored()));
        // Qt Test cuts long messages short: the window's log up to here, steps and all, goes to stderr.
        for (qsizetype i = qMax<qsizetype>(0, pRig->asDebug.size() - 150); i < pRig->asDebug.size(); ++i)
            fprintf(stderr, "%9.3f s %s\n", pRig->aiDebugNs[i] / 1e9, qPrintable(pRig->asDebug[i]));
    }

    // Flights of awkward and of random sizes, each on a day of its own, named for the serial 12345.
    void AddFlights(int iCount) {
        const quint32 auiSizes[] = {0, 1, 127, 128, 256, 1000};
        for (int i = 0; i < iCount && Sim().FlightCount() < kMaxFlights; ++i, ++iFlightsMade) {
            const QDate day = QDate(2024, 1, 1).addDays(iFlightsMade);
            const uint16_t uiNr = 1 + iFlightsMade % 3;
            const int iIndex = Sim().AddFlight(
                Pick(3) == 0 ? auiSizes[Pick(6)] : random.bounded(1u, 16000u),
                sim::PackLogbookTime(day.year(), day.month(), day.day(), 36000 + 37 * iFlightsMade), uiNr);
            expectedFiles[day.toString(Qt::ISODate) + QString::asprintf("-VNK-9IX-%02d.igc", uiNr)] =
                Sim().Flight(iIndex).baData;
        }
    }
    // A press as a user makes it: only on a button that is there to press, and Before done first (settings
    // typed only where they can be saved: typed and not saved, they would rightly differ from the
    // instrument's).
    void Press(const char* pszButton, const std::function<void()>& Before = nullptr) {
        QAbstractButton* pButton = pRig->Find<QAbstractButton>(pszButton);
        const bool bOffered = pButton->isVisible() && pButton->isEnabled();
        qDebug("chaos: %s%s", pszButton, bOffered ? "" : " (not offered)");
        if (bOffered && Before)
            Before();
        if (bOffered)
            pButton->click();
    }
    // One step of a storm, drawn by weight and logged with the number that it drew.
    void Act() {
        const int iTimes = 1 + Pick(4), iRequest = Pick(4), iFlight = Pick(kMaxFlights), iPart = Pick(4);
        const QByteArray baLost = QString::asprintf(kapszRequests[iRequest], iFlight, iPart).toLatin1();
        const int ai[] = {random.bounded(-10, 121), random.bounded(5, 101), Pick(101),
                          random.bounded(-1, 25),   Pick(1000000),          Pick(5)};
        const QString sSettings =
            QString::asprintf("%d,%.1f,%d,%d,%d,%d", ai[0], ai[1] / 10.0, ai[2], ai[3], ai[4], ai[5]);
        QComboBox* pFlights = pRig->Find<QComboBox>("flightCombo");
        const struct {
            int iWeight, iLow, iEnd; // how often, against the others; the number is drawn from [iLow, iEnd)
            const char* pszWhat;
            std::function<void(int)> Do;
        } aSteps[] = {
            {8, 0, std::size(kapszButtons), "press", [&](int i) { Press(kapszButtons[i]); }},
            {3, 0, 1, "settings saved", [&](int) { Press("saveButton", [&] { pRig->Type(sSettings); }); }},
            {8, 0, qMax(1, pFlights->count()), "download (row)",
             [&](int i) { Press("downloadButton", [&] { pFlights->setCurrentIndex(i); }); }},
            {2, 0, 4, "file chosen (0: none)", [&](int i) { pRig->ChooseFile(i == 0 ? QString() : sImage); }},
            // Often quick, so that flights come down; now and then seconds late, beyond the time the tool
            // waits for a part.
            {6, 0, 8, "line spoilt (bits: noise, bad checksums, foreign traffic)",
             [&](int i) {
                 const int iPieces = Pick(2) == 0 ? 1 : 2 + Pick(7),
                           aiDelayMs[] = {0, 0, 0, Pick(50), Pick(200), Pick(5000)},
                           iDelayMs = aiDelayMs[Pick(6)];
                 Sim().SetNoise(i & 1);
                 Sim().SetBadChecksums(i & 2);
                 Sim().SetForeignTraffic(i & 4);
                 Sim().SetSplitWrites(iPieces, 1 + Pick(10));
                 Sim().SetReplyDelayMs(iDelayMs);
                 qDebug("chaos: %d pieces, delay %d ms", iPieces, iDelayMs);
             }},
            {2, 500, 4000, "silent for ms",
             [&](int i) {
                 Sim().SetSilent(true);
                 QTimer::singleShot(i, &Sim(), [this] { Sim().SetSilent(false); });
             }},
            // Tens: stall, stray byte, unplug; units: the part.
            {3, 0, 50, "part fault",
             [&](int i) { Sim().SetPartFault(SimInstrument::PartFault(i / 20), i % 5, iTimes); }},
            {2, 0, 1, "request lost", [&](int) { Sim().LoseRequest(baLost, iTimes); }},
            // Four times: every time.
            {3, 500, 9000, "late by ms",
             [&](int i) { Sim().SetLateAnswers(baLost.left(9), i, iTimes == 4 ? -1 : iTimes); }},
            {1, 0, 1, "answered twice", [&](int) { Sim().SetDoubleAnswers(baLost.left(9)); }},
            {1, 0, 1, "unplugged", [&](int) { Sim().Unplug(); }},
            {1, 0, 5, "unplugged at update chunk", [&](int i) { Sim().SetUnplugAtChunk(i); }},
            // The pilot flies again while the tool is not connected.
            {2, 1, 4, "new flights when idle", [&](int i) { AddFlights(Idle() ? i : 0); }}};
        int iDraw = 0, iStep = 0;
        for (const auto& step : aSteps)
            iDraw += step.iWeight;
        for (iDraw = Pick(iDraw); (iDraw -= aSteps[iStep].iWeight) >= 0;)
            ++iStep;
        const int iNumber = random.bounded(aSteps[iStep].iLow, aSteps[iStep].iEnd);
        qDebug("chaos: %s: %d, %d times, %s", aSteps[iStep].pszWhat, iNumber, iTimes, baLost.constData());
        aSteps[iStep].Do(iNumber);
    }

    // The invariants; false once one is broken. Files change only with a line in the window's log
    // ("Flight download finished!" and the like), so they are read whenever there are new lines.
    bool Sound() {
        const bool bRead = std::exchange(iScannedLines, pRig->asDebug.size()) < pRig->asDebug.size();
        if (Now() - iLastTickMs > kMaxTickGapMs)
            Fail(QStringLiteral("no tick for %1 ms").arg(Now() - iLastTickMs));
        const QDir::Filters eAll = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        for (const QFileInfo& info : QDir(pRig->workDir.path()).entryInfoList(eAll)) {
            const bool bFlight = expectedFiles.contains(info.fileName());
            if (!bFlight ||
                (bRead && testsupport::ReadFile(info.filePath()) != expectedFiles[info.fileName()]))
                Fail(info.fileName() + (bFlight ? " is not its flight's bytes" : " is no flight's name"));
        }
        return sFailure.isEmpty();
    }
    // Runs the event loop until bDone holds, pressing Connect whenever the tool is idle: on a clean line,
    // what must come soon.
    void Expect(const std::function<bool()>& bDone, const char* pszWhat) {
        const auto Done = [&] {
            if (Idle())
                Press("connectButton");
            return !Sound() || bDone();
        };
        if (!pRig->Until(Done, kRecoverMs))
            Fail(QStringLiteral("%1 ms after the line was made clean: %2").arg(kRecoverMs).arg(pszWhat));
    }
    // The tool has found its instrument again.
    bool Found() const {
        return pRig->Find<QLabel>("deviceInfoLabel")->text() == QLatin1String(kIdentity) &&
               !pRig->Find("settingsGroup")->isHidden() && pRig->Shown() == pRig->Stored();
    }
    // Until a flight has come down and the firmware has been updated once, a calm does both, which must
    // complete on a clean line, answers that are still late from the storm notwithstanding.
    void Calm() {
        qDebug("chaos: calm");
        Sim().ClearFaults();
        if (!Sim().IsPlugged() && !Sim().Replug())
            Fail(QStringLiteral("cannot replug"));
        Expect([this] { return Found(); }, "identity and settings not shown");
        if (!pRig->Logged(kDownloaded) && Sim().FlightCount() > 0) {
            Expect([this] { return pRig->Find<QComboBox>("flightCombo")->count() > 0; }, "no flight listed");
            Press("downloadButton");
            Expect([this] { return pRig->Logged(kDownloaded); }, "no flight downloaded");
        }
        if (iUpdates == 0) {
            pRig->ChooseFile(sImage);
            Press("updateButton");
            Expect([this] { return iUpdates > 0; }, "no update completed");
            Expect([this] { return Found(); }, "identity and settings not shown");
        }
        // The pilot comes back with new flights when Empty has left few: disconnected, flights added, and
        // connected again.
        if (sFailure.isEmpty() && Sim().FlightCount() < 2) {
            Press("connectButton");
            AddFlights(3);
            return Calm();
        }
        // A listing under way is given a moment, so that the next storm finds flights to download.
        pRig->Until([this] { return !Sound(); }, 1500);
    }

private slots:
    void chaos() {
        qInfo("Chaos seed %u for %lld s (VORNIK_CHAOS_SEED, VORNIK_CHAOS_SECONDS)", kSeed, kRunMs / 1000);
        pRig = std::make_unique<testsupport::WindowRig>();
        Sim().SetIdentity({"Tovak_2", "A7", 12345});
        AddFlights(3);
        QByteArray baImage = SimInstrument::MakeUpdateHeader(2000);
        while (baImage.size() < 128 + 2000)
            baImage += static_cast<char>(Pick(256));
        QVERIFY(!testsupport::WriteFile(sImage, baImage).isEmpty());
        connect(&Sim(), &SimInstrument::UpdateFinished, this, [this](bool bWhole) { iUpdates += bWhole; });
        // An unplugged line comes back after a while, as the pilot plugs the cable in again.
        connect(&Sim(), &SimInstrument::LineClosed, this, [this] {
            QTimer::singleShot(random.bounded(300, 4000), &Sim(), [this] {
                qDebug("chaos: replugged %d", Sim().IsPlugged() || Sim().Replug());
            });
        });

        QVERIFY(pRig->MakeWindow(true));
        iStartMs = iLastTickMs = Now();
        connect(pRig->Find<QTimer>("pollTimer"), &QTimer::timeout, this, [this] {
            Sound(); // this very tick too late
            // Late ticks may catch up, but never run ahead of once a second.
            if (++iTicks > (Now() - iStartMs) / 950 + 1)
                Fail(QStringLiteral("%1 ticks in %2 ms").arg(iTicks).arg(Now() - iStartMs));
            iLastTickMs = Now();
        });

        // Connected first, so that the first storm finds something to break.
        for (Calm(); sFailure.isEmpty() && Now() < kRunMs; Calm()) {
            qDebug("chaos: storm");
            for (const qint64 iEndMs = qMin(kRunMs, Now() + random.bounded(5000, 15000));
                 Now() < iEndMs && sFailure.isEmpty();) {
                Act();
                pRig->Until([this] { return !Sound(); }, random.bounded(150, 1200));
            }
        }
        QVERIFY2(sFailure.isEmpty(), qPrintable(sFailure));
        qInfo("%d flights downloaded, %d updates, %d ticks", pRig->Count(kDownloaded), iUpdates, iTicks);
    }
    void cleanup() { pRig.reset(); }
};

QTEST_MAIN(TestChaos)
#include "test_chaos.moc"
