#pragma once

// A real window on a real serial port, talking to the simulated instrument through a pseudo-terminal,
// working in a temporary directory of its own. Its poll timer is stopped: Until ticks it every tenth of a
// second, which the tool's time-outs do not depend on (they read the clock).
#include "app/MainWindow.h"
#include "sim/SimInstrument.h"

#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

class SimWindowRig {
public:
    static constexpr int kTickMs = 100;

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

    // A new window, which starts on the first extra port: the instrument's, unless a test set others.
    // False if the instrument's port is not the one chosen.
    bool MakeWindow() {
        if (!sim.Open())
            return false;
        pWindow = std::make_unique<MainWindow>();
        pWindow->findChild<QTimer*>(QStringLiteral("pollTimer"))->stop();
        pWindow->show();
        return Find<QComboBox>("portCombo")->currentText() == sim.DevicePath();
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
        for (qint64 iNextTickMs = kTickMs; !bDone();) {
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
    bool Logged(const char* pszLine) const { return asDebug.contains(QLatin1String(pszLine)); }
    // The debug lines that start so.
    int Count(const QString& start) const {
        return static_cast<int>(std::count_if(asDebug.begin(), asDebug.end(),
                                              [&](const QString& s) { return s.startsWith(start); }));
    }

    // The first settings group and the instrument's stored settings, both in VNSET2's order with the
    // telemetry as the combo box's index; Type fills the group from such a text.
    QString Shown() const {
        return QString::asprintf(
            "%d,%.1f,%d,%d,%d,%d", Find<QSpinBox>("teLevelSpin")->value(),
            Find<QDoubleSpinBox>("varioFilterSpin")->value(), Find<QSpinBox>("servoTriggerSpin")->value(),
            Find<QSpinBox>("servoChannelSpin")->value(), Find<QSpinBox>("pairKeySpin")->value(),
            Find<QComboBox>("telemetryCombo")->currentIndex());
    }
    QString Stored() const {
        const SimSettings& s = sim.Settings();
        return QString::asprintf("%d,%d.%d,%d,%d,%u,%d", s.iTELevel, s.iVarioFilterTenths / 10,
                                 s.iVarioFilterTenths % 10, s.iServoTrigger, s.iServoChannel, s.uiPairKey,
                                 s.iTelemetry);
    }
    void Type(const QString& sValues) {
        const QStringList as = sValues.split(QLatin1Char(','));
        Find<QSpinBox>("teLevelSpin")->setValue(as[0].toInt());
        Find<QDoubleSpinBox>("varioFilterSpin")->setValue(as[1].toDouble());
        Find<QSpinBox>("servoTriggerSpin")->setValue(as[2].toInt());
        Find<QSpinBox>("servoChannelSpin")->setValue(as[3].toInt());
        Find<QSpinBox>("pairKeySpin")->setValue(as[4].toInt());
        Find<QComboBox>("telemetryCombo")->setCurrentIndex(as[5].toInt());
    }

    // Clicks Select File and answers the dialog with sPath as a user would type it, or cancels it when
    // sPath is empty.
    void ChooseFile(const QString& sPath) {
        QTimer* pTimer = new QTimer;
        QObject::connect(pTimer, &QTimer::timeout, [pTimer, sPath] {
            QFileDialog* pDialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (pDialog == nullptr)
                return;
            pTimer->deleteLater();
            pTimer->stop();
            if (!sPath.isEmpty()) {
                pDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(sPath);
                QMetaObject::invokeMethod(pDialog, "accept");
            }
            // A name the dialog refuses must not leave it waiting.
            if (pDialog->isVisible())
                pDialog->reject();
        });
        pTimer->start(20);
        Click("selectFileButton");
    }

    static QByteArray ReadFile(const QString& sName) {
        QFile file(sName);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
    }
    // The absolute path of the file written, or nothing when it could not be.
    static QString WriteFile(const QString& sName, const QByteArray& baData) {
        QFile file(sName);
        const bool bWritten = file.open(QIODevice::WriteOnly) && file.write(baData) == baData.size();
        return bWritten ? QFileInfo(file).absoluteFilePath() : QString();
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
