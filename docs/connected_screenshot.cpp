#include "testsupport/WindowRig.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QImageWriter>
#include <QLoggingCategory>
#include <QPainter>
#include <QPixmap>

#include <cstdio>
#include <cstring>
#include <functional>

namespace {

constexpr int kDeadlineMs = 20000;

// A logbook as a pilot's might look after two weekends: the flight's start, its number of the day, size.
struct Flight {
    int iMonth;
    int iDay;
    uint32_t uiStartSec;
    uint16_t uiDailyNr;
    uint32_t uiSize;
};
constexpr Flight kFlights[] = {
    {5, 17, 11 * 3600 + 42 * 60, 1, 48000}, {5, 17, 14 * 3600 + 5 * 60, 2, 131072},
    {5, 19, 12 * 3600 + 30 * 60, 1, 9600},  {6, 2, 10 * 3600 + 15 * 60, 1, 86000},
    {6, 2, 15 * 3600 + 48 * 60, 2, 64000},
};
constexpr int kFlightCount = sizeof(kFlights) / sizeof(kFlights[0]);

// The download picture: this flight stops at this part, a little over half way, as a loose cable would.
constexpr int kDownloadRow = 1;
constexpr int kStallPart = 600;

enum class Shot { Connected, Logbook, Download };

struct ShotName {
    const char* pszName;
    Shot eShot;
};
constexpr ShotName kShotNames[] = {
    {"connected", Shot::Connected}, {"logbook", Shot::Logbook}, {"download", Shot::Download}};

bool ParseShot(const char* pszName, Shot* peShot) {
    for (const ShotName& shot : kShotNames) {
        if (strcmp(pszName, shot.pszName) == 0) {
            *peShot = shot.eShot;
            return true;
        }
    }
    return false;
}

// Runs the event loop until bReady holds, then iSettleMs longer; false when the deadline passes first.
bool WaitFor(testsupport::WindowRig& rig, const std::function<bool()>& bReady, int iSettleMs) {
    if (!rig.Until(bReady, kDeadlineMs))
        return false;
    rig.RunFor(iSettleMs);
    return true;
}

// The left column, where the pilot works; the debug panes stay out of the close-up pictures.
QRect WorkingColumn(const MainWindow& window) {
    const QWidget* pTop = window.findChild<QWidget*>(QStringLiteral("comGroup"));
    const QWidget* pBottom = window.findChild<QWidget*>(QStringLiteral("updateGroup"));
    const QRect rect(pTop->mapTo(&window, QPoint(0, 0)),
                     pBottom->mapTo(&window, pBottom->rect().bottomRight()));
    return rect.adjusted(-8, -8, 3, 8).intersected(window.rect());
}

// The window with the flight list dropped down: the list is a window of its own, painted on at its place.
QPixmap GrabWithList(MainWindow& window, QComboBox* pFlights) {
    pFlights->showPopup();
    pFlights->view()->setCurrentIndex(pFlights->model()->index(kDownloadRow, 0));
    QCoreApplication::processEvents();
    QWidget* pList = pFlights->view()->window();
    QPixmap pixmap = window.grab();
    QPainter painter(&pixmap);
    painter.drawPixmap(window.mapFromGlobal(pList->mapToGlobal(QPoint(0, 0))), pList->grab());
    painter.end();
    return pixmap.copy(WorkingColumn(window));
}

} // namespace

// Draws the window talking to a simulated Tovak_2 into a PNG file. The window's own timer drives the
// connection, as in use. Modes: connected (identity and settings), logbook (the flight list dropped
// down), download (a flight part way down, held there by the instrument).
int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // A download logs a line per part; only warnings and errors belong on the terminal here.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    Shot eShot = Shot::Connected;
    if ((argc != 2 && argc != 3) || (argc == 3 && !ParseShot(argv[1], &eShot))) {
        fprintf(stderr, "usage: %s [connected|logbook|download] OUTPUT.png\n", argv[0]);
        return 2;
    }
    // Absolute: the rig works in a directory of its own.
    const QString sOutput = QFileInfo(QString::fromLocal8Bit(argv[argc - 1])).absoluteFilePath();

    testsupport::WindowRig rig;
    SimInstrument& instrument = rig.sim;
    instrument.SetSettings(SimSettings{75, 20, 60, 3, 424242, 4});
    for (const Flight& flight : kFlights)
        instrument.AddFlight(flight.uiSize,
                             sim::PackLogbookTime(2024, flight.iMonth, flight.iDay, flight.uiStartSec),
                             flight.uiDailyNr);
    // Half the part, then nothing, for longer than the picture takes.
    instrument.SetPartFault(SimInstrument::PartFault::Stall, kStallPart, 100);
    // The port list shows the pseudo-terminal's own name, as in the demo.
    instrument.SetLinkPath(QString());
    if (!instrument.Open()) {
        fprintf(stderr, "cannot open a pseudo-terminal\n");
        return 1;
    }
    qputenv("VORNIK_EXTRA_PORTS", instrument.DevicePath().toLocal8Bit());
    if (!rig.MakeWindow(true))
        return 1;
    MainWindow& window = *rig.pWindow;
    rig.Click("connectButton");

    const QGroupBox* pSettings = window.findChild<QGroupBox*>(QStringLiteral("settingsGroup"));
    QComboBox* pFlights = window.findChild<QComboBox*>(QStringLiteral("flightCombo"));
    if (!WaitFor(
            rig, [&]() { return pSettings->isVisible() && pFlights->count() == kFlightCount; }, 300)) {
        fprintf(stderr, "the simulated instrument did not connect\n");
        return 1;
    }

    QPixmap pixmap;
    if (eShot == Shot::Connected) {
        pixmap = window.grab();
    } else if (eShot == Shot::Logbook) {
        pixmap = GrabWithList(window, pFlights);
    } else {
        pFlights->setCurrentIndex(kDownloadRow);
        rig.Click("downloadButton");
        const QByteArray baStalled =
            QByteArray("VNREQ,50,") + QByteArray::number(kDownloadRow) + ',' + QByteArray::number(kStallPart);
        // Well inside the three seconds after which the tool asks for the part again.
        if (!WaitFor(
                rig, [&]() { return instrument.RequestCount(baStalled) > 0; }, 500)) {
            fprintf(stderr, "the download did not reach part %d\n", kStallPart);
            return 1;
        }
        pixmap = window.grab(WorkingColumn(window));
    }
    QImageWriter writer(sOutput, "png");
    writer.setQuality(0); // the smallest file; PNG loses nothing either way
    if (!writer.write(pixmap.toImage())) {
        fprintf(stderr, "cannot write %s\n", qPrintable(sOutput));
        return 1;
    }
    return 0;
}
