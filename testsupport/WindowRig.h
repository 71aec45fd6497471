#pragma once

// A real window on a real serial port, talking to the simulated instrument through a pseudo-terminal,
// working in a temporary directory of its own. A test stops the window's one-second timer and ticks it
// every tenth of a second while it waits, which the tool's time-outs do not depend on (they read the
// clock); a benchmark or a picture keeps the timer, and may run the instrument on a thread of its own,
// as a real one on its own processor.
#include "app/MainWindow.h"
#include "sim/SimInstrument.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <memory>

namespace testsupport {

// Before the application is made: the tool's widgets need no screen.
void UseOffscreen();
QByteArray ReadFile(const QString& sName); // "<no file>" when it cannot be read
// The absolute path of the file written, or nothing when it could not be.
QString WriteFile(const QString& sName, const QByteArray& baData);
// The first argument of every signal a QSignalSpy caught, as numbers: the values a progress bar took.
QList<int> FirstInts(const QList<QList<QVariant>>& aSignals);

class WindowRig {
public:
    static constexpr int kTickMs = 100;
    static constexpr int kWaitMs = 10000;

    explicit WindowRig(bool bSimThread = false);
    ~WindowRig();

    // A new window on the first extra port: the instrument's, unless a test set others. False if that is
    // not the instrument's port. bOwnTimer keeps the window's own one-second timer running.
    bool MakeWindow(bool bOwnTimer = false);
    // Clicks Connect and waits for the identity line.
    bool Connect();

    template <class T = QWidget> T* Find(const char* pszName) const {
        return pWindow->findChild<T*>(QLatin1String(pszName));
    }
    void Click(const char* pszButton) { Find<QAbstractButton>(pszButton)->click(); }
    void Tick(int iTimes = 1);
    // Clicks Select File and answers the dialog with sPath, typed as a user would, or cancels it when sPath
    // is empty.
    void ChooseFile(const QString& sPath);

    // Runs the event loop, ticking a window without its own timer, until bDone holds or iMs have passed.
    bool Until(const std::function<bool()>& bDone, int iMs = kWaitMs, bool bTicking = true);
    void RunFor(int iMs, bool bTicking = true) {
        Until([] { return false; }, iMs, bTicking);
    }
    // Every sentence the instrument has read, once it has read all that went onto the line before: a
    // marker written from the tool's side must come in behind it. The markers are left out.
    QList<QByteArray> ReadSoFar();
    // Runs fn where the instrument lives and returns when it is done.
    template <class F> void InSim(F fn) {
        if (simThread.isRunning())
            QMetaObject::invokeMethod(&sim, fn, Qt::BlockingQueuedConnection);
        else
            fn();
    }

    bool Logged(const char* pszLine) const { return asDebug.contains(QLatin1String(pszLine)); }
    int Count(const QString& sStart) const;               // the debug lines that start so
    qint64 NowNs() const { return clock.nsecsElapsed(); } // any thread may ask

    // A settings group's values in VNSET2's order, each number in its shortest form ("10" for 10.0) and
    // apart by commas: the first group's six, the telemetry as the combo box's index, or a Pelko_2's pair
    // key and protocol (bSecond). Stored gives the instrument's six so; Type fills a group's first widgets
    // from such a text.
    QString Shown(bool bSecond = false) const;
    QString Stored() const;
    void Type(const QString& sValues, bool bSecond = false);

    QTemporaryDir workDir;
    QTemporaryDir lineDir; // apart from the working directory, which a test may make read-only
    QThread simThread;
    SimInstrument sim;
    std::unique_ptr<MainWindow> pWindow;
    QStringList asDebug; // the window's debug lines, in order, each stamped in aiDebugNs
    QList<qint64> aiDebugNs;

private:
    static void CollectDebug(QtMsgType eType, const QMessageLogContext& context, const QString& sText);

    static inline WindowRig* pCurrent = nullptr;
    QString sOldDir;
    QElapsedTimer clock;
    QtMessageHandler previousHandler = nullptr;
    bool bOwnTimer = false;
};

} // namespace testsupport
