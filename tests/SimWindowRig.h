#pragma once

// A real window on a real serial port, talking to the simulated instrument through a pseudo-terminal,
// working in a temporary directory of its own. Its poll timer is stopped: the rig ticks it, a quarter
// second apart, whenever it waits.
#include "app/MainWindow.h"
#include "sim/SimInstrument.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

class SimWindowRig {
public:
    static constexpr int kTickMs = 250;

    SimWindowRig() : sOldDir(QDir::currentPath()) {
        QDir::setCurrent(workDir.path());
        // The link lives apart from the working directory, which a test may make read-only.
        sim.SetLinkPath(lineDir.filePath(QStringLiteral("ttyVNK")));
        qputenv("VORNIK_EXTRA_PORTS", sim.DevicePath().toLocal8Bit());
        pCurrent = this;
        previousHandler = qInstallMessageHandler(CollectDebug);
    }
    ~SimWindowRig() {
        pWindow.reset();
        qInstallMessageHandler(previousHandler);
        pCurrent = nullptr;
        QDir::setCurrent(sOldDir);
    }

    bool MakeWindow() {
        if (!sim.Open())
            return false;
        pWindow = std::make_unique<MainWindow>();
        pWindow->findChild<QTimer*>(QStringLiteral("pollTimer"))->stop();
        pWindow->show();
        QComboBox* pPorts = Find<QComboBox>("portCombo");
        pPorts->setCurrentIndex(pPorts->findText(sim.DevicePath()));
        return pPorts->currentIndex() >= 0;
    }
    // Clicks Connect and waits for the identity line.
    bool Connect() {
        Click("connectButton");
        return Identified();
    }
    bool Identified() {
        return Until([this] { return !Find<QLabel>("deviceInfoLabel")->text().isEmpty(); });
    }

    template <class T = QWidget> T* Find(const char* pszName) const {
        return pWindow->findChild<T*>(QLatin1String(pszName));
    }
    void Click(const char* pszButton) { QTest::mouseClick(Find<QPushButton>(pszButton), Qt::LeftButton); }
    void Tick() { QMetaObject::invokeMethod(pWindow.get(), "EverySecond", Qt::DirectConnection); }

    // Runs the event loop, ticking the window, until bDone holds or iMs have passed.
    bool Until(const std::function<bool()>& bDone, int iMs = 5000, bool bTicking = true) {
        QElapsedTimer clock;
        clock.start();
        qint64 iNextTickMs = kTickMs;
        while (!bDone()) {
            if (clock.elapsed() > iMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (bTicking && clock.elapsed() >= iNextTickMs) {
                Tick();
                iNextTickMs += kTickMs;
            }
        }
        return true;
    }
    void RunFor(int iMs, bool bTicking = true) {
        Until([] { return false; }, iMs, bTicking);
    }
    bool Logged(const QString& line) const { return asDebug.contains(line); }
    bool LoggedStart(const QString& start) const {
        return std::any_of(asDebug.begin(), asDebug.end(),
                           [&start](const QString& s) { return s.startsWith(start); });
    }

    QTemporaryDir workDir;
    QTemporaryDir lineDir;
    SimInstrument sim;
    std::unique_ptr<MainWindow> pWindow;
    QStringList asDebug; // the window's debug lines, in order

private:
    static void CollectDebug(QtMsgType eType, const QMessageLogContext& context, const QString& text) {
        if (eType == QtDebugMsg && pCurrent != nullptr)
            pCurrent->asDebug << text;
        else if (pCurrent != nullptr && pCurrent->previousHandler != nullptr)
            pCurrent->previousHandler(eType, context, text);
    }

    static inline SimWindowRig* pCurrent = nullptr;
    QString sOldDir;
    QtMessageHandler previousHandler = nullptr;
};
