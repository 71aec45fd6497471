#pragma once

// The real window, offscreen, on the simulated instrument's pseudo-terminal, in a working directory of
// its own. Unlike the tests' rig it keeps the window's own one-second timer running, it waits by blocking
// in the event loop, and the instrument runs on a thread of its own, as a real one on its own processor:
// what the window does after a request has gone out, such as painting, does not hold up the answer.
#include "app/MainWindow.h"
#include "sim/SimInstrument.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>

namespace bench {

// Before the application is made: the tool's widgets need no screen.
inline void UseOffscreen() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Resident memory in kilobytes, -1 when it cannot be read.
inline long ResidentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& baLine : status.readAll().split('\n')) {
        if (baLine.startsWith("VmRSS:"))
            return baLine.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

class WindowBench {
public:
    WindowBench() : sOldDir(QDir::currentPath()) {
        QDir::setCurrent(workDir.path());
        sim.SetLinkPath(lineDir.filePath(QStringLiteral("ttyVNK")));
        qputenv("VORNIK_EXTRA_PORTS", sim.DevicePath().toLocal8Bit());
        pCurrent = this;
        clock.start();
        previousHandler = qInstallMessageHandler(CollectDebug);
        simThread.start();
        sim.moveToThread(&simThread);
    }
    ~WindowBench() {
        pWindow.reset();
        InSim([this] {
            sim.Close();
            sim.SetLineBaud(0);
            sim.moveToThread(QCoreApplication::instance()->thread());
        });
        simThread.quit();
        simThread.wait();
        qInstallMessageHandler(previousHandler);
        pCurrent = nullptr;
        QDir::setCurrent(sOldDir);
    }

    // Runs fn on the instrument's thread and returns when it is done; the instrument is touched only so.
    template <class F> void InSim(F fn) { QMetaObject::invokeMethod(&sim, fn, Qt::BlockingQueuedConnection); }
    // Ends the window thread's wait, for instance from a signal of the instrument.
    static void Wake() {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
    }

    // Opens the line, makes the window and connects it; true once the instrument is identified.
    bool Connect() {
        bool bOpen = false;
        InSim([this, &bOpen] { bOpen = sim.Open(); });
        if (!bOpen)
            return false;
        pWindow = std::make_unique<MainWindow>();
        pWindow->show();
        QComboBox* pPorts = Find<QComboBox>("portCombo");
        pPorts->setCurrentIndex(pPorts->findText(sim.DevicePath()));
        if (pPorts->currentIndex() < 0)
            return false;
        Click("connectButton");
        return WaitFor([this] { return !Find<QLabel>("deviceInfoLabel")->text().isEmpty(); }, 10000);
    }

    template <class T = QWidget> T* Find(const char* pszName) const {
        return pWindow->findChild<T*>(QLatin1String(pszName));
    }
    void Click(const char* pszButton) { Find<QAbstractButton>(pszButton)->click(); }

    // Runs the event loop until bDone holds or iMs have passed, sleeping whenever there is nothing to do.
    bool WaitFor(const std::function<bool()>& bDone, int iMs) {
        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.start(iMs);
        while (!bDone()) {
            if (!deadline.isActive())
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }

    // Nanoseconds since the rig was made; any thread may ask.
    qint64 NowNs() const { return clock.nsecsElapsed(); }
    // When the window last wrote this debug line, -1 if never.
    qint64 LoggedAtNs(const QString& sLine) const {
        const int iIndex = asDebug.lastIndexOf(sLine);
        return iIndex < 0 ? -1 : aiDebugNs[iIndex];
    }

    QTemporaryDir workDir;
    QTemporaryDir lineDir;
    QThread simThread;
    SimInstrument sim;
    std::unique_ptr<MainWindow> pWindow;
    QStringList asDebug; // the window's debug lines, in order, each stamped in aiDebugNs
    QList<qint64> aiDebugNs;

private:
    // The lines still go where the tool sends them: ./vornik bench keeps standard error in its log. Only
    // the window's thread writes debug lines.
    static void CollectDebug(QtMsgType eType, const QMessageLogContext& context, const QString& text) {
        if (eType == QtDebugMsg && pCurrent != nullptr && QThread::currentThread() == qApp->thread()) {
            pCurrent->asDebug << text;
            pCurrent->aiDebugNs << pCurrent->clock.nsecsElapsed();
        }
        if (pCurrent != nullptr && pCurrent->previousHandler != nullptr)
            pCurrent->previousHandler(eType, context, text);
    }

    static inline WindowBench* pCurrent = nullptr;
    QString sOldDir;
    QElapsedTimer clock;
    QtMessageHandler previousHandler = nullptr;
};

} // namespace bench
