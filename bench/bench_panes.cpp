// The debug panes under a day's traffic: 50 MB of line text through the real window's port reader with
// "Enable Output" on. The instrument writes it into the pseudo-terminal a read's worth at a time and the
// next once the window has shown the last, so that every readyRead of the port carries one whole read,
// as a port delivers a busy line. The last MB is timed beside the first, and the resident memory after
// beside that before. The time compared is the processor's, window and instrument together: it is the
// work a MB costs, which the other programs of a shared machine inflate less than the clock's time.
#include "bench/BenchTable.h"
#include "bench/SentenceStream.h"
#include "testsupport/WindowRig.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>

namespace {

// 4 KB less one byte: a pseudo-terminal's line discipline holds no more, so a 4096-byte write would
// reach the window as two reads.
constexpr int kReadSize = 4095;
constexpr int kMegabyte = 1024 * 1024;
constexpr int kMegabytes = 50;
constexpr double kGoalSlowdown = 1.2;
constexpr double kGoalGrowthMb = 30.0;
constexpr int kReadLimitMs = 10000;

// Resident memory in kilobytes, -1 when it cannot be read.
long ResidentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& baLine : status.readAll().split('\n')) {
        if (baLine.startsWith("VmRSS:"))
            return baLine.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// What a pilot's line carries besides the instrument's answers: receivers, FLARM and the other
// instruments, in the shares of a flight. The instrument's own sentences are left out, as they would
// start an update or fill the logbook.
std::string DayTraffic() {
    std::string sTraffic;
    sTraffic.reserve(kMegabyte + 256);
    bench::Rng rng(2024);
    bench::StreamWriter writer(sTraffic, rng);
    while (sTraffic.size() < static_cast<size_t>(kMegabyte)) {
        const int iPick = rng.Range(0, 99);
        writer.Sentence(iPick < 60   ? bench::Gnss
                        : iPick < 80 ? bench::Flarm
                        : iPick < 97 ? bench::Lx
                                     : bench::LxData);
    }
    return sTraffic;
}

// The median of all the MBs goes beside the last one: on a shared machine a single MB may catch another
// program's burst, and the median shows where the MBs lie.
void PrintRows(const double* afMs, long iBeforeKb, long iAfterKb) {
    double afSorted[kMegabytes];
    std::copy(afMs, afMs + kMegabytes, afSorted);
    std::sort(afSorted, afSorted + kMegabytes);
    char szFigure[64];
    char szBaseline[64];
    char szRatio[16];
    char szGoal[48];
    const double fSlowdown = afMs[kMegabytes - 1] / afMs[0];
    snprintf(szFigure, sizeof szFigure, "last MB %.0f ms, median MB %.0f ms", afMs[kMegabytes - 1],
             afSorted[kMegabytes / 2]);
    snprintf(szBaseline, sizeof szBaseline, "first MB %.0f ms", afMs[0]);
    snprintf(szRatio, sizeof szRatio, "%.2f", fSlowdown);
    snprintf(szGoal, sizeof szGoal, "<= %.1f: %s", kGoalSlowdown,
             fSlowdown <= kGoalSlowdown ? "met" : "missed");
    bench::PrintRow("Debug panes, 50 MB in 4 KB reads, processor time per MB", szFigure, szBaseline, szRatio,
                    szGoal);

    const double fGrowthMb = (iAfterKb - iBeforeKb) / 1024.0;
    snprintf(szFigure, sizeof szFigure, "after %.1f MB", iAfterKb / 1024.0);
    snprintf(szBaseline, sizeof szBaseline, "before %.1f MB", iBeforeKb / 1024.0);
    snprintf(szRatio, sizeof szRatio, "+%.1f MB", fGrowthMb);
    snprintf(szGoal, sizeof szGoal, "< +%.0f MB: %s", kGoalGrowthMb,
             fGrowthMb < kGoalGrowthMb ? "met" : "missed");
    bench::PrintRow("Debug panes, 50 MB, resident memory", szFigure, szBaseline, szRatio, szGoal);
}

} // namespace

int main(int argc, char** argv) {
    testsupport::UseOffscreen();
    QApplication app(argc, argv);
    testsupport::WindowRig rig(true); // the instrument on a thread of its own
    // Connected, and the empty logbook listed: from then on the poll is silent.
    const auto bListed = [&rig] {
        bool bAsked = false;
        rig.InSim([&] { bAsked = rig.sim.RequestCount("VNREQ,40,0") > 0; });
        return bAsked;
    };
    if (!rig.MakeWindow(true) || !rig.Connect() || !rig.Until(bListed)) {
        fprintf(stderr, "bench_panes: the window did not identify the instrument\n");
        return 1;
    }
    rig.RunFor(1500);
    if (!rig.Find<QCheckBox>("enableOutputCheck")->isChecked())
        return 1;

    // Each read lands in the received pane as one insertion of its text, plain ASCII in which the
    // document makes one paragraph of every CR LF.
    qint64 iShown = 0;
    int iReads = 0;
    QObject::connect(rig.Find<QTextEdit>("receivedText")->document(), &QTextDocument::contentsChange,
                     [&](int, int, int iAdded) {
                         iShown += iAdded;
                         iReads += iAdded > 0;
                     });
    const std::string sTraffic = DayTraffic();
    const long iBeforeKb = ResidentKb();

    double afMs[kMegabytes] = {};
    qint64 iSent = 0;
    qint64 iExpected = 0;
    size_t uiAt = 0;
    for (int iMb = 0; iMb < kMegabytes; ++iMb) {
        const qint64 iStartNs = rig.NowNs();
        const std::clock_t startClock = std::clock();
        for (int iRead = 0; iRead < kMegabyte / kReadSize; ++iRead) {
            if (uiAt + kReadSize > sTraffic.size())
                uiAt = 0;
            const QByteArray baRead(sTraffic.data() + uiAt, kReadSize);
            uiAt += kReadSize;
            rig.InSim([&] { rig.sim.SendTraffic(baRead); });
            iSent += kReadSize;
            iExpected += kReadSize - baRead.count("\r\n");
            if (!rig.Until([&] { return iShown >= iExpected; }, kReadLimitMs)) {
                fprintf(stderr, "bench_panes: the window stopped reading after %lld bytes\n",
                        static_cast<long long>(iShown));
                return 1;
            }
        }
        afMs[iMb] = (std::clock() - startClock) * 1000.0 / CLOCKS_PER_SEC;
        fprintf(stderr,
                "bench_panes: MB %d in %.0f ms of processor time, %.0f ms on the clock, resident %ld kB\n",
                iMb + 1, afMs[iMb], (rig.NowNs() - iStartNs) / 1e6, ResidentKb());
    }
    const long iAfterKb = ResidentKb();
    fprintf(stderr, "bench_panes: %lld bytes in %d reads\n", static_cast<long long>(iSent), iReads);
    PrintRows(afMs, iBeforeKb, iAfterKb);
    return 0;
}
