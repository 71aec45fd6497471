// The received-text pane under long traffic, through a real window on the simulated instrument: after
// every read it holds at least its last 5000 lines (the one still being written, here the empty one
// behind the last line end, included), whole and in order, and no more than a cut's worth beyond them;
// it keeps no undo history, and it still shows the newest line.
#include "testsupport/WindowRig.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QtTest>

namespace {

constexpr int kKeptLines = 5000;
constexpr int kMostLines = 6000;
// Lines go to the instrument's line in batches of this many, each less than a pseudo-terminal hands over
// in one read, so that the pane is looked at after nearly every append.
constexpr int kBatchLines = 300;
// Enough for many cuts: on the way there the pane is looked at below the bound, past the first cut and
// after each one.
constexpr int kLines = 14000;

QString Line(int iNumber) {
    return QStringLiteral("line %1").arg(iNumber, 6, 10, QLatin1Char('0'));
}

} // namespace

class TestDebugPanes : public QObject {
    Q_OBJECT

private slots:
    void keepsTheLastLines() {
        testsupport::WindowRig rig;
        QVERIFY(rig.MakeWindow() && rig.Connect());
        // The poll falls silent once the settings and the empty logbook are in.
        QVERIFY(rig.Until([&rig] { return rig.sim.RequestCount("VNREQ,40,0") == 1; }));
        rig.RunFor(300);
        rig.Click("clearButton");
        QTextEdit* pPane = rig.Find<QTextEdit>("receivedText");
        const QTextDocument* pDocument = pPane->document();
        QVERIFY(!pPane->isUndoRedoEnabled());

        for (int iFirst = 1; iFirst <= kLines; iFirst += kBatchLines) {
            QByteArray baBatch;
            for (int i = iFirst; i < iFirst + kBatchLines && i <= kLines; ++i)
                baBatch += Line(i).toLatin1() + "\r\n";
            rig.sim.SendTraffic(baBatch);
            const int iSent = qMin(kLines, iFirst + kBatchLines - 1);
            QVERIFY(rig.Until([&] { return pDocument->lastBlock().previous().text() == Line(iSent); }));
            const int iBlocks = pDocument->blockCount();
            QVERIFY2(iBlocks >= qMin(iSent + 1, kKeptLines) && iBlocks < kMostLines,
                     qPrintable(QString("%1 lines after %2").arg(iBlocks).arg(iSent)));
        }

        // Every line ends in CR LF, so the last block is the empty one behind the newest line.
        int iNumber = kLines - pDocument->blockCount() + 2;
        for (QTextBlock block = pDocument->firstBlock(); block != pDocument->lastBlock();
             block = block.next())
            QCOMPARE(block.text(), Line(iNumber++));
        const QTextCursor newest(pDocument->lastBlock().previous());
        QVERIFY(pPane->viewport()->rect().contains(pPane->cursorRect(newest)));
    }
};

QTEST_MAIN(TestDebugPanes)
#include "test_debug_panes.moc"
