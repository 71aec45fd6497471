// The logbook listing and the flight download, clicked through a real window against the simulated
// instrument. Every flight starts on 17 May 2024 at 13:45:10 plus a minute per row; the instrument's
// serial is 12345, so the first flight's file is 2024-05-17-VNK-9IX-01.igc.
#include "SimWindowRig.h"

#include <QFile>
#include <QProgressBar>
#include <QSignalSpy>

#include <sys/stat.h>

namespace {

const QString kFileName = QStringLiteral("2024-05-17-VNK-9IX-01.igc");

enum Fault {
    Stall,
    StrayByte,
    LostRequest,
    StraysThenStalls, // two stray bytes before part 1, then part 2 stalls: not four tries in a row
};

QByteArray PartRequest(int iPart) {
    return "VNREQ,50,0," + QByteArray::number(iPart);
}

QByteArray ReadFile(const QString& sName) {
    QFile file(sName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

} // namespace

class TestLogbookDownload : public QObject {
    Q_OBJECT

    std::unique_ptr<SimWindowRig> pRig;

    // Fills the instrument's logbook, connects, and waits for the list to be complete.
    bool ListFlights(const QList<uint32_t>& auiSizes) {
        for (int i = 0; i < auiSizes.size(); i++)
            pRig->sim.AddFlight(auiSizes[i], sim::PackLogbookTime(2024, 5, 17, 49510 + 60 * i),
                                static_cast<uint16_t>(i + 1));
        const int iRows = qMin(50, static_cast<int>(auiSizes.size()));
        return pRig->MakeWindow() && pRig->Connect() && pRig->Until([this, iRows] {
            return pRig->sim.RequestCount("VNREQ,40,0") == 1 && Flights()->count() == iRows;
        });
    }
    QComboBox* Flights() const { return pRig->Find<QComboBox>("flightCombo"); }
    QProgressBar* Progress() const { return pRig->Find<QProgressBar>("downloadProgress"); }
    bool DownloadEnded() const {
        return pRig->Logged(QStringLiteral("Flight download finished!")) ||
               pRig->LoggedStart(QStringLiteral("Flight download given up")) ||
               pRig->Logged(QStringLiteral("Errror opening flight file!"));
    }

private slots:
    void init() {
        pRig = std::make_unique<SimWindowRig>();
        SimIdentity identity;
        identity.uiSerial = 12345;
        pRig->sim.SetIdentity(identity);
    }
    void cleanup() { pRig.reset(); }

    void listing_data() {
        QTest::addColumn<int>("flights");
        QTest::newRow("empty logbook") << 0;
        QTest::newRow("3 flights") << 3;
        QTest::newRow("70 flights, 50 listed") << 70;
    }
    void listing() {
        QFETCH(int, flights);
        QVERIFY(ListFlights(QList<uint32_t>(flights, 300)));
        pRig->RunFor(1000);
        const int iRows = qMin(flights, 50);
        QCOMPARE(Flights()->count(), iRows);
        for (int i = 0; i < iRows; i++) {
            QCOMPARE(Flights()->itemText(i),
                     QString::asprintf("17.05.24-%02d:%02d", 13 + (45 + i) / 60, (45 + i) % 60));
            QVERIFY(Flights()->itemData(i).isNull());
        }
        // Every row is asked for once; nothing beyond the last listed row, and nothing again.
        for (int i = 0; i < qMax(iRows, 1); i++)
            QCOMPARE(pRig->sim.RequestCount("VNREQ,40," + QByteArray::number(i)), 1);
        QCOMPARE(pRig->sim.RequestCount("VNREQ,40," + QByteArray::number(qMax(iRows, 1))), 0);
    }

    void download_data() {
        QTest::addColumn<uint32_t>("size");
        QTest::addColumn<QList<int>>("progress"); // every value the bar took; empty: not compared
        QTest::newRow("300 bytes") << 300u << QList<int>{0, 42, 85, 0};
        QTest::newRow("256 bytes, one part more") << 256u << QList<int>{0, 50, 100, 0};
        QTest::newRow("128 bytes, one part more") << 128u << QList<int>{0, 100, 0};
        QTest::newRow("empty flight") << 0u << QList<int>{0};
        QTest::newRow("400 KB, multiple of 128") << 409600u << QList<int>{};
        QTest::newRow("300 KB") << 307299u << QList<int>{};
    }
    void download() {
        QFETCH(uint32_t, size);
        QFETCH(QList<int>, progress);
        // A file of that name is replaced.
        QFile old(kFileName);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write(QByteArray(1000, 'x')) == 1000);
        old.close();
        QVERIFY(ListFlights({size}));
        QSignalSpy spy(Progress(), &QProgressBar::valueChanged);
        pRig->Click("downloadButton");
        QVERIFY(pRig->Until([this] { return DownloadEnded(); }, 60000));

        QVERIFY(pRig->Logged(QStringLiteral("Flight download finished!")));
        QCOMPARE(ReadFile(kFileName), pRig->sim.Flight(0).baData);
        const int iParts = static_cast<int>(size / 128 + 1);
        QCOMPARE(pRig->sim.RequestCount(PartRequest(iParts - 1)), 1);
        QCOMPARE(pRig->sim.RequestCount(PartRequest(iParts)), 0);
        if (iParts > 1)
            QVERIFY(pRig->Logged(QStringLiteral("New flight  0 reguest part  1")));
        QCOMPARE(Progress()->value(), 0);
        if (!progress.isEmpty()) {
            QList<int> aiSeen;
            for (const QList<QVariant>& args : std::as_const(spy))
                aiSeen << args.at(0).toInt();
            QCOMPARE(aiSeen, progress);
        }
    }

    // A flight of 1000 bytes, its part 2 going wrong; the bar shows 12 while part 2 is awaited.
    void recovery_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("times");
        QTest::addColumn<bool>("complete");
        QTest::newRow("stall") << int(Stall) << 1 << true;
        QTest::newRow("stray byte") << int(StrayByte) << 1 << true;
        QTest::newRow("lost request") << int(LostRequest) << 1 << true;
        QTest::newRow("three stalls in a row") << int(Stall) << 3 << true;
        QTest::newRow("four stalls: given up") << int(Stall) << 4 << false;
        QTest::newRow("two strays, two stalls") << int(StraysThenStalls) << 2 << true;
    }
    void recovery() {
        QFETCH(int, fault);
        QFETCH(int, times);
        QFETCH(bool, complete);
        using PartFault = SimInstrument::PartFault;
        switch (fault) {
        case Stall:
            pRig->sim.SetPartFault(PartFault::Stall, 2, times);
            break;
        case StrayByte:
            pRig->sim.SetPartFault(PartFault::StrayByte, 2, times);
            break;
        case LostRequest:
            pRig->sim.LoseRequest(PartRequest(2), times);
            break;
        case StraysThenStalls:
            pRig->sim.SetPartFault(PartFault::StrayByte, 1, 2);
            pRig->sim.SetPartFault(PartFault::Stall, 2, times);
            break;
        }
        QVERIFY(ListFlights({1000}));
        pRig->Click("downloadButton");
        QVERIFY(pRig->Until([this] { return DownloadEnded(); }, 30000));

        QCOMPARE(pRig->asDebug.count(QStringLiteral("Flight part 2 asked for again")), qMin(times, 3));
        QCOMPARE(pRig->sim.RequestCount(PartRequest(2)), qMin(times, 3) + 1);
        QCOMPARE(Progress()->value(), 0);
        if (complete) {
            QCOMPARE(ReadFile(kFileName), pRig->sim.Flight(0).baData);
        } else {
            QVERIFY(pRig->Logged(QStringLiteral("Flight download given up, part 2 did not arrive")));
            QVERIFY(!QFile::exists(kFileName));
            QVERIFY(!pRig->Logged(QStringLiteral("Flight download finished!")));
        }
        // Out of raw mode: the poll lists the logbook again after Empty.
        pRig->Click("emptyButton");
        QVERIFY(pRig->Until([this] { return pRig->sim.RequestCount("VNREQ,40,0") == 2; }));
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
        pRig->sim.SetPartFault(SimInstrument::PartFault::Stall, 2);
        QVERIFY(ListFlights({1000}));
        pRig->Click("downloadButton");
        QVERIFY(pRig->Until([this] { return pRig->sim.RequestCount(PartRequest(2)) == 1; }));
        QTRY_COMPARE(Progress()->value(), 12);
        if (unplug)
            pRig->sim.Unplug();
        else
            pRig->Click("connectButton");
        QVERIFY(pRig->Until([this] { return Progress()->value() == 0; }, 1500));
        QCOMPARE(pRig->Find<QPushButton>("connectButton")->text(), QStringLiteral("Connect"));
        pRig->RunFor(1000);
        QVERIFY(!QFile::exists(kFileName));

        QVERIFY(!unplug || pRig->sim.Replug());
        QVERIFY(pRig->Connect());
        QVERIFY(pRig->Until([this] { return Flights()->count() == 1; }));
        pRig->Click("downloadButton");
        QVERIFY(pRig->Until([this] { return DownloadEnded(); }));
        QCOMPARE(ReadFile(kFileName), pRig->sim.Flight(0).baData);
    }

    // The old file stays as it was, and no half-written file is left beside it.
    void unwritableTarget_data() {
        QTest::addColumn<bool>("readOnlyDir");
        QTest::newRow("directory of that name") << false;
        QTest::newRow("read-only working directory") << true;
    }
    void unwritableTarget() {
        QFETCH(bool, readOnlyDir);
        QVERIFY(ListFlights({300}));
        if (readOnlyDir) {
            QFile old(kFileName);
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old flight") == 10);
            old.close();
            QVERIFY(chmod(".", 0555) == 0);
            if (QFile probe(QStringLiteral("probe")); probe.open(QIODevice::WriteOnly)) {
                probe.remove();
                chmod(".", 0755);
                QSKIP("this user may write into read-only directories");
            }
        } else {
            QVERIFY(QDir().mkdir(kFileName));
        }
        const QStringList asBefore = QDir().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        pRig->Click("downloadButton");
        const bool bEnded = pRig->Until([this] { return DownloadEnded(); });
        chmod(".", 0755);
        QVERIFY(bEnded);
        QVERIFY(pRig->Logged(QStringLiteral("Errror opening flight file!")));
        QVERIFY(!pRig->Logged(QStringLiteral("Flight download finished!")));
        QCOMPARE(QDir().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), asBefore);
        if (readOnlyDir)
            QCOMPARE(ReadFile(kFileName), QByteArray("old flight"));
        // Not stuck in raw mode: a second try, now into a writable place, succeeds.
        QVERIFY(QDir().rmdir(kFileName) || QFile::remove(kFileName));
        pRig->Click("downloadButton");
        QVERIFY(pRig->Until([this] { return pRig->Logged(QStringLiteral("Flight download finished!")); }));
        QCOMPARE(ReadFile(kFileName), pRig->sim.Flight(0).baData);
    }

    // Empty asks the instrument to delete its flights and lists the logbook afresh; with no flight
    // listed, Download starts nothing.
    void emptyLogbook() {
        QVERIFY(ListFlights({300, 300, 300}));
        pRig->Click("emptyButton");
        QCOMPARE(Flights()->count(), 0);
        QVERIFY(pRig->Until([this] { return pRig->sim.RequestCount("VNREQ,40,0") == 2; }));
        QCOMPARE(pRig->sim.RequestCount("VNREQ,39"), 1);
        QCOMPARE(pRig->sim.FlightCount(), 0);
        pRig->Click("downloadButton");
        QVERIFY(pRig->Logged(QStringLiteral("No flight listed to download")));
        pRig->RunFor(500);
        QCOMPARE(Flights()->count(), 0);
        QVERIFY(!pRig->sim.ReceivedSentences().join('\n').contains("VNREQ,50"));
    }

    // A row lost on the line is asked for again three seconds later and the listing goes on; a listing
    // that is complete is not asked for again.
    void lostRowAskedAgain() {
        pRig->sim.LoseRequest("VNREQ,40,1");
        for (int i = 0; i < 3; i++)
            pRig->sim.AddFlight(300, sim::PackLogbookTime(2024, 5, 17, 49510 + 60 * i));
        QVERIFY(pRig->MakeWindow() && pRig->Connect());
        QVERIFY(pRig->Until([this] { return Flights()->count() == 3; }, 10000));
        QCOMPARE(pRig->sim.RequestCount("VNREQ,40,1"), 2);
        QVERIFY(pRig->Logged(QStringLiteral("Logbook row 1 asked for again")));
        QCOMPARE(Flights()->itemText(2), QStringLiteral("17.05.24-13:47"));
        pRig->RunFor(4000);
        for (int i = 0; i < 3; i++)
            QCOMPARE(pRig->sim.RequestCount("VNREQ,40," + QByteArray::number(i)), i == 1 ? 2 : 1);
    }

    // A row arriving after Empty answers a request that no longer stands.
    void unaskedRowIgnored() {
        pRig->sim.SetReplyDelayMs(400);
        for (int i = 0; i < 3; i++)
            pRig->sim.AddFlight(300);
        QVERIFY(pRig->MakeWindow() && pRig->Connect());
        QVERIFY(pRig->Until([this] { return pRig->sim.RequestCount("VNREQ,40,0") == 1; }));
        pRig->Click("emptyButton");
        pRig->RunFor(800, false);
        QCOMPARE(Flights()->count(), 0);
        QCOMPARE(pRig->sim.RequestCount("VNREQ,40,1"), 0);
    }

    // Bytes still on their way when a download starts, the rest of the last listed row or a part of the
    // download started over, are never counted into a part: each part is asked for once and the file is
    // whole. Replies come in eight pieces, a garbled copy behind every sentence.
    void staleBytesBeforeFirstPart_data() {
        QTest::addColumn<bool>("restart");
        QTest::newRow("rest of the last row") << false;
        QTest::newRow("part of a download started over") << true;
    }
    void staleBytesBeforeFirstPart() {
        QFETCH(bool, restart);
        pRig->sim.SetBadChecksums(true);
        pRig->sim.SetSplitWrites(8, 30);
        QVERIFY(ListFlights({1000}));
        pRig->Click("downloadButton");
        if (restart) {
            QVERIFY(pRig->Until([this] { return pRig->sim.RequestCount(PartRequest(1)) == 1; }));
            pRig->Click("downloadButton");
        }
        QVERIFY(pRig->Until([this] { return DownloadEnded(); }, 30000));
        QCOMPARE(ReadFile(kFileName), pRig->sim.Flight(0).baData);
        QCOMPARE(pRig->sim.RequestCount(PartRequest(0)), restart ? 2 : 1);
        QVERIFY(!pRig->LoggedStart(QStringLiteral("Flight part ")));
    }

    // Save is off while a flight comes down, and refused if called all the same: the instrument's answer
    // would land among the flight's bytes.
    void saveOffDuringDownload() {
        pRig->sim.SetPartFault(SimInstrument::PartFault::Stall, 2);
        QVERIFY(ListFlights({1000}));
        QPushButton* pSave = pRig->Find<QPushButton>("saveButton");
        QPushButton* pSave2 = pRig->Find<QPushButton>("save2Button");
        pRig->Click("downloadButton");
        QVERIFY(pRig->Until([this] { return pRig->sim.RequestCount(PartRequest(2)) == 1; }));
        QVERIFY(!pSave->isEnabled() && !pSave2->isEnabled());
        QMetaObject::invokeMethod(pRig->pWindow.get(), "WriteSettings", Qt::DirectConnection);
        QVERIFY(pRig->Logged(QStringLiteral("Settings not saved during a flight download")));
        QVERIFY(pRig->Until([this] { return DownloadEnded(); }, 30000));
        QCOMPARE(ReadFile(kFileName), pRig->sim.Flight(0).baData);
        QVERIFY(pSave->isEnabled() && pSave2->isEnabled());
        QCOMPARE(pRig->sim.RequestCount("VNREQ,1"), 1);
        QVERIFY(!pRig->sim.ReceivedSentences().join('\n').contains("VNSET2"));
    }

    // Parts are counted in 16 bits: 65535 parts fit, 65536 do not.
    void partLimit_data() {
        QTest::addColumn<uint32_t>("size");
        QTest::addColumn<bool>("starts");
        QTest::newRow("65535 parts") << 65534u * 128 + 127 << true;
        QTest::newRow("65536 parts") << 65535u * 128 << false;
    }
    void partLimit() {
        QFETCH(uint32_t, size);
        QFETCH(bool, starts);
        sim::SimFlight flight;
        flight.baData = QByteArray(static_cast<qsizetype>(size), 'B');
        flight.uiPackedTime = sim::PackLogbookTime(2024, 5, 17, 49510);
        pRig->sim.AddFlight(flight);
        QVERIFY(pRig->MakeWindow() && pRig->Connect());
        QVERIFY(pRig->Until([this] { return Flights()->count() == 1; }));
        pRig->Click("downloadButton");
        pRig->RunFor(1000);
        QCOMPARE(pRig->sim.RequestCount(PartRequest(0)), starts ? 1 : 0);
        QCOMPARE(pRig->Logged(QStringLiteral("Flight is too long to download")), !starts);
    }
};

QTEST_MAIN(TestLogbookDownload)
#include "test_logbook_download.moc"
