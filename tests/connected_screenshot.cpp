#include "app/MainWindow.h"
#include "sim/SimInstrument.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

// Long enough after the settings for the poll to have asked for the logbook and taken its rows.
constexpr int kSettleMs = 3000;
constexpr int kDeadlineMs = 20000;

} // namespace

// Draws the window connected to a simulated Tovak_2, with its identity and settings, into the PNG
// file named by the only argument. The window's own timer drives the connection, as in use.
int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    SimInstrument instrument;
    instrument.SetSettings(SimSettings{75, 20, 60, 3, 424242, 4});
    for (uint32_t uiSize : {48000u, 131072u, 9600u})
        instrument.AddFlight(uiSize);
    if (!instrument.Open()) {
        fprintf(stderr, "cannot open a pseudo-terminal\n");
        return 1;
    }
    qputenv("VORNIK_EXTRA_PORTS", instrument.DevicePath().toLocal8Bit());

    MainWindow window;
    window.show();
    QComboBox* pPorts = window.findChild<QComboBox*>(QStringLiteral("portCombo"));
    pPorts->setCurrentIndex(pPorts->findText(instrument.DevicePath()));
    window.findChild<QPushButton*>(QStringLiteral("connectButton"))->click();

    const QGroupBox* pSettings = window.findChild<QGroupBox*>(QStringLiteral("settingsGroup"));
    QElapsedTimer clock;
    clock.start();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&]() {
        if (pSettings->isVisible()) {
            watch.stop();
            QTimer::singleShot(kSettleMs, &app, &QApplication::quit);
        } else if (clock.elapsed() > kDeadlineMs) {
            app.exit(1);
        }
    });
    watch.start(100);
    if (app.exec() != 0) {
        fprintf(stderr, "the simulated instrument did not connect\n");
        return 1;
    }

    if (!window.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
