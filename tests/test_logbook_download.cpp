// The logbook listing and the flight download, clicked through a real window against the simulated
// instrument. Flight i starts on 17 May 2024 at 13:45:10 plus i minutes; the serial is 12345.
#include "testsupport/WindowRig.h"

#include <QComboBox>
#include <QDir>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextEdit>
#include <QtTest>

using testsupport::ReadFile;
using testsupport::WindowRig;

namespace {

const QString kFileName = QStringLiteral("2024-05-17-VNK-9IX-01.igc");

QByteArray PartRequest(int iPart) {
    return "VNREQ,50,0," + QByteArray::number(iPart);
}
QByteArray RowRequest(int iRow) {
    return "VNREQ,40," + QByteArray::number(iRow);
}

// What goes wrong on the line during a download.
using LineFaults = std::function<void(SimInstrument&)>;

} // namespace

Q_DECLARE_METATYPE(LineFaults)

class TestLogbookDownload : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowRig> pRig;

    SimInstrument& Sim() { return pRig->sim; }
    // Fills the logbook, connects, and waits until the first row was asked for and iRows rows are listed
    // (any number when iRows is negative).
    bool Listed(int iFlights, uint32_t uiSize, int iRows = 1, int iMs = WindowRig::kWaitMs) {
        for (int i = 0; i < iFlights; i++)
            Sim().AddFlight(uiSize, sim::PackLogbookTime(2024, 5, 17, 49510 + 60 * i),
                            static_cast<uint16_t>(i + 1));
        return pRig->MakeWindow() && pRig->Connect() &&
               pRig->Until(
                   [this, iRows] {
                       return Sim().RequestCount("VNREQ,40,0") > 0 &&
                              (iRows < 0 || Flights()->count() == iRows);
                   },
                   iMs);
    }
    QComboBox* Flights() const { return pRig->Find<QComboBox>("flightCombo"); }
    QProgressBar* Progress() const { return pRig->Find<QProgressBar>("downloadProgress"); }
    bool DownloadEnded(int iMs = WindowRig::kWaitMs) {
        return pRig->Until(
            [this] {
                return pRig->Logged("Flight download finished!") ||
                       pRig->Logged("Errror opening flight file!") ||
                       pRig->Count(QStringLiteral("Flight download given up")) > 0;
            },
            iMs);
    }
    QByteArray Flight() { return Sim().Flight(0).baData; }

private slots:
    void init() {
        pRig = std::make_unique<WindowRig>();
        Sim().SetIdentity({"Tovak_2", "A7", 12345});
    }
    void cleanup() { pRig.reset(); }

    // Every row is asked for once, nothing beyond the last listed row.
    void listing_data() {
        QTest::addColumn<int>("flights");
        for (const int iFlights : {0, 3, 70}) // 70: only 50 listed
            QTest::addRow("%d flights", iFlights) << iFlights;
    }
    void listing() {
        QFETCH(int, flights);
        const int iRows = qMin(flights, 50);
        QVERIFY(Listed(flights, 300, iRows));
        pRig->RunFor(300);
        QCOMPARE(Flights()->count(), iRows);
        for (int i = 0; i < iRows; i++) {
            QCOMPARE(Flights()->itemText(i),
                     QString::asprintf("17.05.24-%02d:%02d", 13 + (45 + i) / 60, (45 + i) % 60));
            QVERIFY(Flights()->itemData(i).isNull());
        }
        for (int i = 0; i <= qMax(iRows, 1); i++)
            QCOMPARE(Sim().RequestCount(RowRequest(i)), i < qMax(iRows, 1) ? 1 : 0);
    }

    // A flight comes down into a file of its own name, replacing an older one; a flight of a multiple of
    // 128 bytes is followed by one more part. A part is asked for again after a stall, a lost request or
    // a stray byte, three times in a row at most: tries on one part do not count for the next. Bytes on
    // their way when the download starts, the rest of a reply or a part of a download started over, are
    // never counted into a part.
    void download_data() {
        QTest::addColumn<uint32_t>("size");
        QTest::addColumn<LineFaults>("faults");
        QTest::addColumn<int>("restartAt"); // the part whose request Download is clicked again at; -1 never
        QTest::addColumn<QList<int>>("tries");    // parts 1 and 2 asked for again; more than 3: given up
        QTest::addColumn<QList<int>>("progress"); // every value the bar took; empty: not compared
        using Fault = SimInstrument::PartFault;
        const LineFaults clean = [](SimInstrument&) {};
        const LineFaults stale = [](SimInstrument& sim) {
            sim.SetBadChecksums(true);
            sim.SetSplitWrites(8, 30);
        };
        QTest::newRow("300 bytes") << 300u << clean << -1 << QList<int>{0, 0} << QList<int>{0, 42, 85, 0};
        QTest::newRow("256 bytes") << 256u << clean << -1 << QList<int>{0, 0} << QList<int>{0, 50, 100, 0};
        QTest::newRow("128 bytes") << 128u << clean << -1 << QList<int>{0, 0} << QList<int>{0, 100, 0};
        QTest::newRow("empty flight") << 0u << clean << -1 << QList<int>{0, 0} << QList<int>{0};
        QTest::newRow("40 KB, multiple of 128") << 40960u << clean << -1 << QList<int>{0, 0} << QList<int>{};
        QTest::newRow("stall") << 1000u
                               << LineFaults([](SimInstrument& sim) { sim.SetPartFault(Fault::Stall, 2); })
                               << -1 << QList<int>{0, 1} << QList<int>{0, 12, 25, 38, 51, 64, 76, 89, 0};
        QTest::newRow("three strays, then a lost request") << 1000u << LineFaults([](SimInstrument& sim) {
            sim.SetPartFault(Fault::StrayByte, 1, 3);
            sim.LoseRequest(PartRequest(2));
        }) << -1 << QList<int>{3, 1} << QList<int>{};
        QTest::newRow("four strays: given up")
            << 1000u << LineFaults([](SimInstrument& sim) { sim.SetPartFault(Fault::StrayByte, 2, 4); }) << -1
            << QList<int>{0, 4} << QList<int>{};
        QTest::newRow("stale bytes, rest of the last row")
            << 1000u << stale << -1 << QList<int>{0, 0} << QList<int>{};
        QTest::newRow("stale bytes, download started over")
            << 1000u << stale << 1 << QList<int>{0, 0} << QList<int>{};
    }
    void download() {
        QFETCH(uint32_t, size);
        QFETCH(LineFaults, faults);
        QFETCH(int, restartAt);
        QFETCH(QList<int>, tries);
        QFETCH(QList<int>, progress);
        const bool bGivenUp = tries[1] > 3;
        QVERIFY(!testsupport::WriteFile(kFileName, QByteArray(100000, 'x')).isEmpty());
        faults(Sim());
        QVERIFY(Listed(1, size));
        QSignalSpy spy(Progress(), &QProgressBar::valueChanged);
        pRig->Click("downloadButton");
        if (restartAt >= 0) {
            QVERIFY(pRig->Until([&] { return Sim().RequestCount(PartRequest(restartAt)) == 1; }));
            pRig->Click("downloadButton");
        }
        QVERIFY(DownloadEnded(10000));
        QCOMPARE(ReadFile(kFileName), bGivenUp ? QByteArray(100000, 'x') : Flight());
        QCOMPARE(pRig->Logged("Flight download finished!"), !bGivenUp);
        QCOMPARE(pRig->Logged("Flight download given up, part 2 did not arrive"), bGivenUp);
        QCOMPARE(pRig->Count(QStringLiteral("Flight part ")), qMin(tries[0], 3) + qMin(tries[1], 3));
        // Before a part is asked for again, and before the file is written, the last part taken is asked
        // for once more, as a check of the parts taken since the line was last quiet.
        const int iParts = static_cast<int>(size / 128 + 1);
        const auto Tries = [&tries](int iPart) { return iPart == 1 || iPart == 2 ? tries[iPart - 1] : 0; };
        for (const int iPart : {0, 1, 2, iParts - 1}) {
            const bool bAsked = iPart < iParts && (!bGivenUp || iPart <= 2);
            const bool bChecked = Tries(iPart + 1) > 0 || (iPart == iParts - 1 && !bGivenUp);
            QCOMPARE(Sim().RequestCount(PartRequest(iPart)),
                     bAsked ? 1 + qMin(Tries(iPart), 3) + (iPart <= restartAt) + bChecked : 0);
        }
        QCOMPARE(Sim().RequestCount(PartRequest(iParts)), 0);
        QCOMPARE(pRig->Logged("New flight  0 reguest part  1"), iParts > 1);
        QCOMPARE(Progress()->value(), 0);
        if (!progress.isEmpty())
            QCOMPARE(testsupport::FirstInts(spy), progress);
        // Out of raw mode: Empty has the instrument delete its flights, and the poll lists the logbook
        // afresh; with no flight listed, Download starts nothing.
        pRig->Click("emptyButton");
        QCOMPARE(Flights()->count(), 0);
        QVERIFY(pRig->Until([this] { return Sim().RequestCount("VNREQ,40,0") == 2; }));
        QVERIFY(Sim().RequestCount("VNREQ,39") == 1 && Sim().FlightCount() == 0);
        const int iRequests = Sim().ReceivedSentences().size();
        pRig->Click("downloadButton");
        QVERIFY(pRig->Logged("No flight listed to download"));
        QVERIFY(Flights()->count() == 0 && Sim().ReceivedSentences().size() == iRequests);
    }

    // A part answered late, after it was asked for again, or answered twice, on a line handed over in
    // USB packets: the copy is never taken for a later part, and the file is the flight's exact bytes.
    // Download pressed again while the part is awaited: its late copy lands in the new download, where
    // only the check of the last part, which fetches the parts again, keeps it out of the file.
    void lateOrRepeatedPart_data() {
        QTest::addColumn<LineFaults>("faults");
        QTest::addColumn<bool>("restart");
        for (const int iMs : {4500, 6000, 9000})
            QTest::addRow("part 300 answered %d ms late", iMs)
                << LineFaults([iMs](SimInstrument& sim) { sim.SetLateAnswers(PartRequest(300), iMs); })
                << false;
        QTest::newRow("part 300 answered twice")
            << LineFaults([](SimInstrument& sim) { sim.SetDoubleAnswers(PartRequest(300)); }) << false;
        QTest::newRow("part 300 answered 2000 ms late, Download pressed again")
            << LineFaults([](SimInstrument& sim) { sim.SetLateAnswers(PartRequest(300), 2000); }) << true;
    }
    void lateOrRepeatedPart() {
        QFETCH(LineFaults, faults);
        QFETCH(bool, restart);
        QVERIFY(Sim().SetLineBaud(115200));
        Sim().SetLinePacket(64);
        QVERIFY(Listed(1, 120000));
        faults(Sim());
        pRig->Click("downloadButton");
        if (restart) {
            QVERIFY(pRig->Until([this] { return Sim().RequestCount(PartRequest(300)) == 1; }, 60000));
            pRig->Click("downloadButton");
        }
        QVERIFY(DownloadEnded(120000));
        QVERIFY(pRig->Until([this] { return Sim().LateAnswersDue() == 0; }, 20000));
        QVERIFY(pRig->Logged("Flight download finished!"));
        QCOMPARE(ReadFile(kFileName), Flight());
    }

    // The link goes while part 2 is awaited; nothing is written, and after reconnecting the same flight
    // comes down whole.
    void linkEndsDownload_data() {
        QTest::addColumn<bool>("unplug");
        QTest::newRow("Disconnect pressed") << false;
        QTest::newRow("cable pulled") << true;
    }
    void linkEndsDownload() {
        QFETCH(bool, unplug);
        Sim().SetPartFault(SimInstrument::PartFault::Stall, 2);
        QVERIFY(Listed(1, 1000));
        pRig->Click("downloadButton");
        QVERIFY(pRig->Until([this] { return Sim().RequestCount(PartRequest(2)) == 1; }));
        QTRY_COMPARE(Progress()->value(), 12);
        if (unplug)
            Sim().Unplug();
        else
            pRig->Click("connectButton");
        // Untick: the part's time-out, checked on the tick, must not be what ends the download.
        QVERIFY(pRig->Until([this] { return Progress()->value() == 0; }, WindowRig::kWaitMs, false));
        QCOMPARE(pRig->Find<QPushButton>("connectButton")->text(), QStringLiteral("Connect"));
        QVERIFY(!QFile::exists(kFileName));

        QVERIFY(Sim().Replug() && pRig->Connect());
        QVERIFY(pRig->Until([this] { return Flights()->count() == 1; }));
        pRig->Click("downloadButton");
        QVERIFY(DownloadEnded());
        QCOMPARE(ReadFile(kFileName), Flight());
    }

    // A directory stands where the file should go: nothing is written beside it, and a second try, once it
    // is gone, succeeds.
    void unwritableTarget() {
        QVERIFY(Listed(1, 300));
        QVERIFY(QDir().mkdir(kFileName));
        const QStringList asBefore = QDir().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        pRig->Click("downloadButton");
        QVERIFY(DownloadEnded());
        QVERIFY(pRig->Logged("Errror opening flight file!") && !pRig->Logged("Flight download finished!"));
        QCOMPARE(QDir().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), asBefore);
        QVERIFY(QDir().rmdir(kFileName));
        pRig->Click("downloadButton");
        QVERIFY(pRig->Until([this] { return pRig->Logged("Flight download finished!"); }));
        QCOMPARE(ReadFile(kFileName), Flight());
    }

    // However late or often the instrument answers on a line at 115200 baud, every flight is listed once, in
    // the logbook's order: a row not come in three seconds is asked for again, and an answer repeating a
    // listed row is dropped. A listing that is complete is not asked for again.
    void slowListing_data() {
        QTest::addColumn<int>("flights");
        QTest::addColumn<LineFaults>("faults");
        QTest::newRow("row 1 lost") << 3
                                    << LineFaults([](SimInstrument& sim) { sim.LoseRequest(RowRequest(1)); });
        for (const int iMs : {500, 4500, 8000})
            QTest::addRow("every row %d ms late", iMs)
                << 3 << LineFaults([iMs](SimInstrument& sim) { sim.SetLateAnswers("VNREQ,40,", iMs, -1); });
        QTest::newRow("row 1 late, after its second answer") << 10 << LineFaults([](SimInstrument& sim) {
            sim.SetReplyDelayMs(500);
            sim.SetLateAnswers(RowRequest(1), 4500);
        });
        QTest::newRow("every row answered twice")
            << 3 << LineFaults([](SimInstrument& sim) { sim.SetDoubleAnswers("VNREQ,40,"); });
    }
    void slowListing() {
        QFETCH(int, flights);
        QFETCH(LineFaults, faults);
        QVERIFY(Sim().SetLineBaud(115200));
        faults(Sim());
        QVERIFY(Listed(flights, 300, flights, 60000));
        QVERIFY(pRig->Until([this] { return Sim().LateAnswersDue() == 0; }, 20000));
        const QList<QByteArray> aRequests = Sim().ReceivedSentences();
        pRig->RunFor(3500); // longer than a row is waited for
        QCOMPARE(pRig->ReadSoFar(), aRequests);
        QCOMPARE(Flights()->count(), flights);
        for (int i = 0; i < flights; i++)
            QCOMPARE(Flights()->itemText(i), QString::asprintf("17.05.24-13:%02d", 45 + i));
        QCOMPARE(Sim().RequestCount(RowRequest(flights)), 0);
    }

    // A row arriving after Empty answers a request that no longer stands.
    void unaskedRowIgnored() {
        Sim().SetReplyDelayMs(400);
        QVERIFY(Listed(3, 300, -1));
        pRig->Click("emptyButton");
        const QTextEdit* pReceived = pRig->Find<QTextEdit>("receivedText");
        QVERIFY(pRig->Until([pReceived] { return pReceived->toPlainText().contains("$VNLOGBOOK,3,"); },
                            WindowRig::kWaitMs, false));
        QCOMPARE(Flights()->count(), 0);
        QCOMPARE(Sim().RequestCount(RowRequest(1)), 0);
    }

    // Save is off while a flight comes down, and refused if called all the same: the instrument's answer
    // would land among the flight's bytes.
    void saveOffDuringDownload() {
        QVERIFY(Listed(1, 40000));
        const QPushButton* apSave[] = {pRig->Find<QPushButton>("saveButton"),
                                       pRig->Find<QPushButton>("save2Button")};
        pRig->Click("downloadButton");
        QVERIFY(pRig->Until([this] { return Sim().RequestCount(PartRequest(2)) == 1; }));
        QVERIFY(!apSave[0]->isEnabled() && !apSave[1]->isEnabled());
        QMetaObject::invokeMethod(pRig->pWindow.get(), "WriteSettings", Qt::DirectConnection);
        QVERIFY(pRig->Logged("Settings not saved during a flight download"));
        QVERIFY(DownloadEnded());
        QCOMPARE(ReadFile(kFileName), Flight());
        QVERIFY(apSave[0]->isEnabled() && apSave[1]->isEnabled());
        QCOMPARE(Sim().RequestCount("VNREQ,1"), 1);
        QVERIFY(!Sim().ReceivedSentences().join('\n').contains("VNSET2"));
    }

    // Parts are counted in 16 bits: 65535 parts fit, 65536 do not.
    void partLimit_data() {
        QTest::addColumn<uint32_t>("size");
        QTest::newRow("65535 parts") << 65534u * 128 + 127;
        QTest::newRow("65536 parts") << 65535u * 128;
    }
    void partLimit() {
        QFETCH(uint32_t, size);
        const bool bStarts = size < 65535u * 128;
        Sim().AddFlight(
            {QByteArray(static_cast<qsizetype>(size), 'B'), sim::PackLogbookTime(2024, 5, 17, 49510)});
        QVERIFY(Listed(0, 0));
        pRig->Click("downloadButton");
        QCOMPARE(pRig->Logged("Flight is too long to download"), !bStarts);
        if (bStarts)
            QVERIFY(pRig->Until([this] { return Sim().RequestCount(PartRequest(0)) == 1; }));
    }
};

QTEST_MAIN(TestLogbookDownload)
#include "test_logbook_download.moc"
