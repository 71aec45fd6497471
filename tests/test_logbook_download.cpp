// The logbook listing and the flight download, clicked through a real window against the simulated
// instrument. Flight i starts on 17 May 2024 at 13:45:10 plus i minutes; the serial is 12345.
#include "SentenceFeed.h"
#include "testsupport/WindowRig.h"

#include <QComboBox>
#include <QProgressBar>
#include <QtTest> // and with it all of Qt Core

using testsupport::ReadFile;
using testsupport::WindowRig;

namespace {

const QString kFileName = QStringLiteral("2024-05-17-VNK-9IX-01.igc");
const QByteArray kOldFile(100000, 'x'); // what the flight's file held before

QByteArray PartRequest(int iPart) {
    return "VNREQ,50,0," + QByteArray::number(iPart);
}

// What goes wrong on the line.
using LineFaults = std::function<void(SimInstrument&)>;
const LineFaults kClean = [](SimInstrument&) {};

// A download's line and what comes of it.
struct Row {
    uint32_t uiSize;
    LineFaults faults = kClean;
    QList<int> aTries = {0};   // by part, how often it was asked for again, more than 3: given up; empty: not
                               // compared, nor the requests of every part
    QList<int> aProgress = {}; // every value the bar took; empty: not compared
    int iBreakAt = -1;         // the part whose first request the download is broken off at...
    QByteArray baBreakBy = "downloadButton"; // ...by this button; after any but Download, the link is gone
};

} // namespace

Q_DECLARE_METATYPE(LineFaults)
Q_DECLARE_METATYPE(Row)

class TestLogbookDownload : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowRig> pRig;

    SimInstrument& Sim() { return pRig->sim; }
    // Fills the logbook, connects, and waits until the first row was asked for and iRows rows are listed.
    bool Listed(int iFlights, uint32_t uiSize, int iRows = 1, int iMs = WindowRig::kWaitMs) {
        for (int i = 0; i < iFlights; i++)
            Sim().AddFlight(uiSize, sim::PackLogbookTime(2024, 5, 17, 49510 + 60 * i), i + 1);
        const auto Done = [this, iRows] {
            return Sim().RequestCount("VNREQ,40,0") > 0 && Flights()->count() == iRows;
        };
        return pRig->MakeWindow() && pRig->Connect() && pRig->Until(Done, iMs);
    }
    QComboBox* Flights() const { return pRig->Find<QComboBox>("flightCombo"); }
    QProgressBar* Progress() const { return pRig->Find<QProgressBar>("downloadProgress"); }
    // Save is off exactly while a flight comes down.
    bool SaveOn() const {
        return pRig->Find("saveButton")->isEnabled() && pRig->Find("save2Button")->isEnabled();
    }

private slots:
    void init() {
        pRig = std::make_unique<WindowRig>();
        Sim().SetIdentity({"Tovak_2", "A7", 12345});
    }
    void cleanup() { pRig.reset(); }

    // However late or often the instrument answers on a line at 115200 baud, every flight is listed once, in
    // the logbook's order, 50 at most: a row not come in three seconds is asked for again, and an answer
    // repeating a listed row is dropped. A listing that is complete is not asked for again, and nothing
    // beyond the last listed row is. once: every row was asked for once.
    void listing_data() {
        const DataTable<int, bool, LineFaults> row{"flights", "once", "faults"};
        row("empty logbook", 0, true, kClean);
        row("70 flights, 50 listed", 70, true, kClean);
        row("every row answered twice", 3, true,
            [](SimInstrument& sim) { sim.SetDoubleAnswers("VNREQ,40,"); });
        row("row 1 lost", 3, false, [](SimInstrument& sim) { sim.LoseRequest("VNREQ,40,1"); });
        for (const int iMs : {4500, 8000})
            row("every row " + QByteArray::number(iMs) + " ms late", 3, false,
                [iMs](SimInstrument& sim) { sim.SetLateAnswers("VNREQ,40,", iMs, -1); });
        row("row 1 late, after its second answer", 10, false, [](SimInstrument& sim) {
            sim.SetReplyDelayMs(500);
            sim.SetLateAnswers("VNREQ,40,1", 4500);
        });
    }
    void listing() {
        QFETCH(int, flights);
        QFETCH(bool, once);
        QFETCH(LineFaults, faults);
        const int iRows = qMin(flights, 50);
        QVERIFY(Sim().SetLineBaud(115200));
        faults(Sim());
        QVERIFY(Listed(flights, 300, iRows, 60000));
        QVERIFY(pRig->Until([this] { return Sim().LateAnswersDue() == 0; }, 20000));
        const QList<QByteArray> aRequests = Sim().ReceivedSentences();
        pRig->RunFor(3500); // longer than a row is waited for
        QCOMPARE(pRig->ReadSoFar(), aRequests);
        QCOMPARE(Flights()->count(), iRows);
        for (int i = 0; i < iRows; i++)
            QCOMPARE(Flights()->itemText(i),
                     QString::asprintf("17.05.24-%02d:%02d", 13 + (45 + i) / 60, (45 + i) % 60));
        // Asked for at all, or with once, how often; an empty logbook's first row is asked for, too.
        for (int i = 0; i <= qMax(iRows, 1); i++)
            QCOMPARE(qMin(Sim().RequestCount("VNREQ,40," + QByteArray::number(i)), once ? INT_MAX : 1),
                     i < qMax(iRows, 1) ? 1 : 0);
    }

    // A flight of a multiple of 128 bytes is followed by one more part. A part is asked for again after a
    // stall, a lost request or a stray byte, three times in a row at most: tries on one part do not count
    // for the next. Bytes on their way when the download starts, the rest of a reply or a part of a
    // download started over, are never counted into a part. The link going while part 2 is awaited ends
    // the download.
    void download_data() {
        const DataTable<Row> row{"row"};
        using Fault = SimInstrument::PartFault;
        const LineFaults stall = [](SimInstrument& sim) { sim.SetPartFault(Fault::Stall, 2); };
        const LineFaults stale = [](SimInstrument& sim) {
            sim.SetBadChecksums(true);
            sim.SetSplitWrites(8, 30);
        };
        row("300 bytes", {300, kClean, {0}, {0, 42, 85, 0}});
        row("256 bytes", {256, kClean, {0}, {0, 50, 100, 0}});
        row("128 bytes", {128, kClean, {0}, {0, 100, 0}});
        row("empty flight", {0, kClean, {0}, {0}});
        row("40 KB, multiple of 128", {40960});
        row("stall", {1000, stall, {0, 0, 1}, {0, 12, 25, 38, 51, 64, 76, 89, 0}});
        const LineFaults strays = [](SimInstrument& sim) {
            sim.SetPartFault(Fault::StrayByte, 1, 3);
            sim.LoseRequest(PartRequest(2));
        };
        row("three strays, then a lost request", {1000, strays, {0, 3, 1}});
        row("four strays: given up",
            {1000, [](SimInstrument& sim) { sim.SetPartFault(Fault::StrayByte, 2, 4); }, {0, 0, 4}});
        row("stale bytes, rest of the last row", {1000, stale});
        row("stale bytes, download started over", {1000, stale, {0}, {}, 1});
        const QList<int> aTwice = {0, 12, 0, 12, 25, 38, 51, 64, 76, 89, 0};
        row("Disconnect pressed", {1000, stall, {0}, aTwice, 2, "connectButton"});
        row("cable pulled",
            {1000, [](SimInstrument& sim) { sim.SetPartFault(Fault::Unplug, 2); }, {0}, aTwice, 2, ""});
    }

    // A flight comes down into a file of its own name, replacing an older one, or, given up or broken
    // off, leaves that file as it was. Settings are not saved meanwhile: the instrument's answer would
    // land among the flight's bytes.
    void download() {
        QFETCH(Row, row);
        const bool bGivenUp = row.aTries.value(2) > 3;
        const int iWaitMs = qMax(WindowRig::kWaitMs, static_cast<int>(row.uiSize)); // a millisecond a byte
        QVERIFY(!testsupport::WriteFile(kFileName, kOldFile).isEmpty());
        row.faults(Sim());
        QVERIFY(Listed(1, row.uiSize));
        QSignalSpy spy(Progress(), &QProgressBar::valueChanged);
        pRig->Click("downloadButton");
        QVERIFY(!SaveOn());
        QMetaObject::invokeMethod(pRig->pWindow.get(), "WriteSettings", Qt::DirectConnection);
        QVERIFY(pRig->Logged("Settings not saved during a flight download"));
        if (row.iBreakAt >= 0) {
            QVERIFY(pRig->Until([&] { return Sim().RequestCount(PartRequest(row.iBreakAt)) == 1; }, iWaitMs));
            if (!row.baBreakBy.isEmpty())
                pRig->Click(row.baBreakBy.constData());
        }
        if (row.baBreakBy != "downloadButton") {
            // The link is gone. Untick: the part's time-out, checked on the tick, must not be what ends
            // the download. After reconnecting, the same flight comes down whole.
            QVERIFY(pRig->Until([this] { return Progress()->value() == 0; }, WindowRig::kWaitMs, false));
            QCOMPARE(ReadFile(kFileName), kOldFile);
            QVERIFY(Sim().Replug() && pRig->Connect() &&
                    pRig->Until([this] { return Flights()->count() == 1; }));
            pRig->Click("downloadButton");
        }
        QVERIFY(pRig->Until([this] { return SaveOn() && Sim().LateAnswersDue() == 0; }, iWaitMs));
        QCOMPARE(ReadFile(kFileName), bGivenUp ? kOldFile : Sim().Flight(0).baData);
        QCOMPARE(pRig->Logged("Flight download finished!"), !bGivenUp);
        QVERIFY(!Sim().ReceivedSentences().join('\n').contains("VNSET2"));
        const int iParts = static_cast<int>(row.uiSize / 128 + 1);
        QCOMPARE(Sim().RequestCount(PartRequest(iParts)), 0);
        QCOMPARE(Progress()->value(), 0);
        if (!row.aProgress.isEmpty())
            QCOMPARE(testsupport::FirstInts(spy), row.aProgress);
        if (row.aTries.isEmpty())
            return;
        QCOMPARE(pRig->Count(QStringLiteral("Flight part ")),
                 qMin(row.aTries.value(1), 3) + qMin(row.aTries.value(2), 3));
        // Before a part is asked for again, and before the file is written, the last part taken is asked for
        // once more, as a check of the parts taken since the line was last quiet.
        for (const int iPart : {0, 1, 2, iParts - 1}) {
            const bool bAsked = iPart < iParts && (!bGivenUp || iPart <= 2);
            const bool bChecked = row.aTries.value(iPart + 1) > 0 || (iPart == iParts - 1 && !bGivenUp);
            QCOMPARE(Sim().RequestCount(PartRequest(iPart)),
                     bAsked ? 1 + qMin(row.aTries.value(iPart), 3) + (iPart <= row.iBreakAt) + bChecked : 0);
        }
    }

    // A part answered late, after it was asked for again, or answered twice, on a line at 115200 baud handed
    // over in USB packets: the copy is never taken for a later part, and the file is the flight's exact
    // bytes. Download pressed again while the part is awaited: its late copy lands in the new download,
    // where only the check of the last part, which fetches the parts again, keeps it out of the file. In a
    // function of its own, as these rows take long.
    void lateOrRepeatedPart_data() {
        const DataTable<Row> row{"row"};
        for (const int iMs : {4500, 6000, 9000})
            row("part 300 answered " + QByteArray::number(iMs) + " ms late",
                {120000, [iMs](SimInstrument& sim) { sim.SetLateAnswers(PartRequest(300), iMs); }, {}});
        row("part 300 answered twice",
            {120000, [](SimInstrument& sim) { sim.SetDoubleAnswers(PartRequest(300)); }, {}});
        row("part 300 answered 2000 ms late, Download pressed again",
            {120000, [](SimInstrument& sim) { sim.SetLateAnswers(PartRequest(300), 2000); }, {}, {}, 300});
    }
    void lateOrRepeatedPart() {
        QVERIFY(Sim().SetLineBaud(115200));
        Sim().SetLinePacket(64);
        download();
    }

    // A directory stands where the file should go: nothing is written beside it, and a second try, once it
    // is gone, succeeds.
    void unwritableTarget() {
        QVERIFY(Listed(1, 300));
        QVERIFY(QDir().mkdir(kFileName));
        pRig->Click("downloadButton");
        QVERIFY(pRig->Until([this] { return SaveOn(); }));
        QVERIFY(pRig->Logged("Errror opening flight file!") && !pRig->Logged("Flight download finished!"));
        QCOMPARE(QDir().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{kFileName});
        QVERIFY(QDir().rmdir(kFileName));
        pRig->Click("downloadButton");
        QVERIFY(pRig->Until([this] { return pRig->Logged("Flight download finished!"); }));
        QCOMPARE(ReadFile(kFileName), Sim().Flight(0).baData);
    }

    // Empty has the instrument delete its flights; a row arriving after it answers a request that no longer
    // stands, and the poll lists the logbook afresh. Download sends nothing with no flight listed, nor for a
    // flight of more parts than 16 bits count: 65536 parts do not fit, 65535 do.
    void emptyLogbook() {
        Sim().SetReplyDelayMs(400);
        QVERIFY(Listed(3, 300, 0));
        pRig->Click("emptyButton");
        const auto Received = [this] { return pRig->Find("receivedText")->property("plainText").toString(); };
        QVERIFY(pRig->Until([&] { return Received().contains("$VNLOGBOOK,3,"); }, WindowRig::kWaitMs, false));
        QVERIFY(Flights()->count() == 0 && Sim().RequestCount("VNREQ,40,1") == 0);
        QVERIFY(Sim().RequestCount("VNREQ,39") == 1 && Sim().FlightCount() == 0);
        for (const uint32_t uiSize : {65535u * 128, 65534u * 128 + 127})
            Sim().AddFlight(uiSize);
        // Unticked, the poll does not list the flights yet.
        const auto Refused = [this](const char* pszWhy) {
            const QList<QByteArray> aRead = pRig->ReadSoFar();
            pRig->Click("downloadButton");
            return pRig->Logged(pszWhy) && pRig->ReadSoFar() == aRead;
        };
        QVERIFY(Refused("No flight listed to download"));
        QVERIFY(pRig->Until([this] { return Flights()->count() == 2; }));
        QVERIFY(Refused("Flight is too long to download"));
        Flights()->setCurrentIndex(1);
        pRig->Click("downloadButton");
        QVERIFY(pRig->Until([this] { return Sim().RequestCount("VNREQ,50,1,0") == 1; }));
    }
};

QTEST_MAIN(TestLogbookDownload)
#include "test_logbook_download.moc"
