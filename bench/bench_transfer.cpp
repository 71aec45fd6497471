// The flight download and the firmware update through the real window, "Enable Output" on, against the
// simulated instrument on a line paced at 115200 baud, each beside the least time the line needs for the
// same bytes. The exchange is strictly request and answer, so that least time is every byte of both
// directions at ten bits a byte.
#include "bench/BenchTable.h"
#include "testsupport/WindowRig.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>

#include <atomic>
#include <cstdio>

namespace {

constexpr int kBaud = 115200;
constexpr double kGoalRatio = 1.05;
constexpr uint32_t kFlightSize = 256 * 1024;
constexpr uint32_t kImageSize = 256 * 1024;
constexpr int kPartSize = 128;
constexpr int kHeaderSize = 128;
constexpr int kChunkReplySize = 512 + 2; // chunk and CRC
// "$", the body, "*", two checksum digits, CR LF.
constexpr int kSentenceFraming = 6;
constexpr int kTransferLimitMs = 120000;

// When the window last wrote this debug line, in nanoseconds since the rig was made; -1 if never.
qint64 LoggedAtNs(const testsupport::WindowRig& rig, const QString& sLine) {
    const qsizetype iIndex = rig.asDebug.lastIndexOf(sLine);
    return iIndex < 0 ? -1 : rig.aiDebugNs[iIndex];
}

double LineSeconds(qint64 iBytes) {
    return static_cast<double>(iBytes) * 10.0 / kBaud;
}

// fInstrumentSeconds is time the instrument spends on its own between answer and next request, which no
// tool can save; it is shown beside the goal as the ratio it alone makes.
void PrintTransferRow(const char* pszMeasure, double fSeconds, double fFromClickSeconds, qint64 iBytes,
                      double fInstrumentSeconds) {
    const double fMinimum = LineSeconds(iBytes);
    const double fRatio = fSeconds / fMinimum;
    char szFigure[80];
    char szBaseline[80];
    char szRatio[16];
    char szGoal[80];
    snprintf(szFigure, sizeof szFigure, "%.2f s (%.2f s from the click)", fSeconds, fFromClickSeconds);
    snprintf(szBaseline, sizeof szBaseline, "line minimum %.2f s, %lld bytes", fMinimum,
             static_cast<long long>(iBytes));
    snprintf(szRatio, sizeof szRatio, "%.3f", fRatio);
    const int iLength =
        snprintf(szGoal, sizeof szGoal, "<= %.2f: %s", kGoalRatio, fRatio <= kGoalRatio ? "met" : "missed");
    if (fInstrumentSeconds > 0.0 && iLength > 0 && iLength < static_cast<int>(sizeof szGoal))
        snprintf(szGoal + iLength, sizeof szGoal - iLength, " (the loader's programming alone: %.3f)",
                 (fMinimum + fInstrumentSeconds) / fMinimum);
    bench::PrintRow(pszMeasure, szFigure, szBaseline, szRatio, szGoal);
}

// Timed from the moment the instrument has read the request for part 0, which the window sends once
// the line has fallen quiet, to the file written: every part, and every request after the first.
bool DownloadFlight(testsupport::WindowRig& rig) {
    if (!rig.Until([&rig] { return rig.Find<QComboBox>("flightCombo")->count() == 1; })) {
        fprintf(stderr, "bench_transfer: the logbook was not listed\n");
        return false;
    }
    // Counted on the instrument's thread as each request is read.
    std::atomic<qint64> iStartNs{-1};
    std::atomic<qint64> iRequestBytes{0};
    const QMetaObject::Connection counting =
        QObject::connect(&rig.sim, &SimInstrument::RequestReceived, [&](const QByteArray& baBody) {
            if (iStartNs >= 0)
                iRequestBytes += baBody.size() + kSentenceFraming;
            else if (baBody == "VNREQ,50,0,0")
                iStartNs = rig.NowNs();
        });
    const QString sDone = QStringLiteral("Flight download finished!");
    const qint64 iClickNs = rig.NowNs();
    rig.Click("downloadButton");
    if (!rig.Until([&] { return LoggedAtNs(rig, sDone) >= 0; }, kTransferLimitMs)) {
        fprintf(stderr, "bench_transfer: the download did not finish\n");
        return false;
    }
    const qint64 iEndNs = LoggedAtNs(rig, sDone);
    QObject::disconnect(counting);

    const QStringList asFiles = QDir().entryList({QStringLiteral("*.igc")});
    QByteArray baFlight;
    rig.InSim([&] { baFlight = rig.sim.Flight(0).baData; });
    QFile file(asFiles.value(0));
    if (asFiles.size() != 1 || !file.open(QIODevice::ReadOnly) || file.readAll() != baFlight) {
        fprintf(stderr, "bench_transfer: the flight file does not hold the flight\n");
        return false;
    }
    // A flight of an exact multiple of 128 bytes is followed by one more part, and the last part comes
    // twice: once more as the check before the file is written.
    const qint64 iParts = kFlightSize / kPartSize + 2;
    PrintTransferRow("Flight download, 256 KB at 115200 baud", (iEndNs - iStartNs) / 1e9,
                     (iEndNs - iClickNs) / 1e9, iParts * kPartSize + iRequestBytes, 0.0);
    return true;
}

// Timed from the window's answer to the loader's first request, the header, to the last chunk in at
// the instrument: the header, every chunk request, chunk and CRC.
bool SendUpdate(testsupport::WindowRig& rig) {
    QByteArray baFile = SimInstrument::MakeUpdateHeader(kImageSize);
    uint32_t uiSeed = 7;
    while (baFile.size() < kHeaderSize + static_cast<qsizetype>(kImageSize)) {
        uiSeed = uiSeed * 1103515245u + 12345u;
        baFile += static_cast<char>(uiSeed >> 16);
    }
    QFile file(QStringLiteral("bench.vnu"));
    if (!file.open(QIODevice::WriteOnly) || file.write(baFile) != baFile.size())
        return false;
    file.close();
    rig.ChooseFile(QFileInfo(file).absoluteFilePath());

    // Set on the instrument's thread as the last chunk is taken.
    std::atomic<bool> bFinished{false};
    std::atomic<bool> bComplete{false};
    std::atomic<qint64> iEndNs{0};
    QObject::connect(&rig.sim, &SimInstrument::UpdateFinished, [&](bool bWhole) {
        iEndNs = rig.NowNs();
        bComplete = bWhole;
        bFinished = true;
    });
    const qint64 iClickNs = rig.NowNs();
    rig.Click("updateButton");
    const bool bArrived = rig.Until([&] { return bFinished.load(); }, kTransferLimitMs);
    QByteArray baImage;
    int iCrcErrors = 0;
    rig.InSim([&] {
        baImage = rig.sim.UpdateImage();
        iCrcErrors = rig.sim.UpdateCrcErrors();
    });
    if (!bArrived || !bComplete || baImage != baFile || iCrcErrors != 0) {
        fprintf(stderr, "bench_transfer: the update did not arrive whole\n");
        return false;
    }
    const qint64 iStartNs = LoggedAtNs(rig, QStringLiteral("Sending update file header."));
    // Every request that the window answered, repeated ones included, at its own length.
    qint64 iBytes = kHeaderSize;
    int iChunkRequests = 0;
    const QString sChunkLine = QStringLiteral("Sending content of update file ID: ");
    for (const QString& sLine : std::as_const(rig.asDebug)) {
        if (!sLine.startsWith(sChunkLine))
            continue;
        const QByteArray baRequest = "VNREQ,201," + sLine.mid(sChunkLine.size()).trimmed().toLatin1();
        iBytes += baRequest.size() + kSentenceFraming + kChunkReplySize;
        ++iChunkRequests;
    }
    // Each chunk is asked for once the block before it, or the header, has been programmed.
    const double fProgramSeconds = iChunkRequests * SimInstrument::kUpdateProgramMs / 1e3;
    PrintTransferRow("Firmware update, 256 KB at 115200 baud", (iEndNs - iStartNs) / 1e9,
                     (iEndNs - iClickNs) / 1e9, iBytes, fProgramSeconds);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    testsupport::UseOffscreen();
    QApplication app(argc, argv);
    // The instrument on a thread of its own: what the window does after a request has gone out, such as
    // painting, does not hold up the answer.
    testsupport::WindowRig rig(true);
    bool bPaced = false;
    rig.InSim([&] {
        rig.sim.AddFlight(kFlightSize);
        bPaced = rig.sim.SetLineBaud(kBaud);
    });
    if (!bPaced) {
        fprintf(stderr, "bench_transfer: the line cannot be paced\n");
        return 1;
    }
    if (!rig.MakeWindow(true) || !rig.Connect()) {
        fprintf(stderr, "bench_transfer: the window did not identify the instrument\n");
        return 1;
    }
    if (!rig.Find<QCheckBox>("enableOutputCheck")->isChecked())
        return 1;
    return DownloadFlight(rig) && SendUpdate(rig) ? 0 : 1;
}
