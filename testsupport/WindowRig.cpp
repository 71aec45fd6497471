#include "testsupport/WindowRig.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

namespace testsupport {

namespace {

// Often enough that a wait notices a condition set by the clock or by another thread soon.
constexpr int kWakeMs = 10;
// Framed here with its checksum: a sentence that no instrument answers.
constexpr char kMarker[] = "$VNMARK*0D\r\n";
constexpr char kMarkerBody[] = "VNMARK";

// Where a settings widget holds its value.
const char* ValueProperty(const QWidget* pWidget) {
    return qobject_cast<const QComboBox*>(pWidget) ? "currentIndex" : "value";
}

// The file dialog that opens next is answered with sPath, typed as a user would, or cancelled when sPath
// is empty.
void AnswerFileDialog(const QString& sPath) {
    QTimer::singleShot(20, [sPath] {
        QFileDialog* pDialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (pDialog == nullptr)
            return AnswerFileDialog(sPath); // looked for again until it opens
        if (!sPath.isEmpty()) {
            pDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(sPath);
            QMetaObject::invokeMethod(pDialog, "accept");
        }
        // A name the dialog refuses must not leave it waiting.
        if (pDialog->isVisible())
            pDialog->reject();
    });
}

// A settings group's widgets in VNSET2's order: the first group's six, or a Pelko_2's two.
QList<QWidget*> SettingsWidgets(const MainWindow* pWindow, bool bSecond) {
    QList<QWidget*> apWidgets;
    for (const char* pszName : {"teLevelSpin", "varioFilterSpin", "servoTriggerSpin", "servoChannelSpin",
                                "pairKeySpin", "telemetryCombo", "pairKey2Spin", "telemetry2Combo"})
        apWidgets << pWindow->findChild<QWidget*>(QLatin1String(pszName));
    return bSecond ? apWidgets.mid(6) : apWidgets.first(6);
}

} // namespace

void UseOffscreen() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

QByteArray ReadFile(const QString& sName) {
    QFile file(sName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

QString WriteFile(const QString& sName, const QByteArray& baData) {
    QFile file(sName);
    const bool bWritten = file.open(QIODevice::WriteOnly) && file.write(baData) == baData.size();
    return bWritten ? QFileInfo(file).absoluteFilePath() : QString();
}

QList<int> FirstInts(const QList<QList<QVariant>>& aSignals) {
    QList<int> aiValues;
    for (const QList<QVariant>& args : aSignals)
        aiValues << args.at(0).toInt();
    return aiValues;
}

WindowRig::WindowRig(bool bSimThread) : sOldDir(QDir::currentPath()) {
    QDir::setCurrent(workDir.path());
    sim.SetLinkPath(lineDir.filePath(QStringLiteral("ttyVNK")));
    qputenv("VORNIK_EXTRA_PORTS", sim.DevicePath().toLocal8Bit());
    pCurrent = this;
    clock.start();
    previousHandler = qInstallMessageHandler(CollectDebug);
    if (bSimThread) {
        simThread.start();
        sim.moveToThread(&simThread);
    }
}

WindowRig::~WindowRig() {
    pWindow.reset();
    if (simThread.isRunning()) {
        InSim([this] {
            sim.Close();
            sim.SetLineBaud(0);
            sim.moveToThread(QCoreApplication::instance()->thread());
        });
        simThread.quit();
        simThread.wait();
    }
    qInstallMessageHandler(previousHandler);
    pCurrent = nullptr;
    QDir::setCurrent(sOldDir);
}

bool WindowRig::MakeWindow(bool bOwnTimerNew) {
    bool bOpen = false;
    InSim([this, &bOpen] { bOpen = sim.Open(); });
    if (!bOpen)
        return false;
    bOwnTimer = bOwnTimerNew;
    pWindow = std::make_unique<MainWindow>();
    if (!bOwnTimer)
        Find<QTimer>("pollTimer")->stop();
    pWindow->show();
    return Find<QComboBox>("portCombo")->currentText() == sim.DevicePath();
}

bool WindowRig::Connect() {
    Click("connectButton");
    return Until([this] { return !Find<QLabel>("deviceInfoLabel")->text().isEmpty(); });
}

void WindowRig::Tick(int iTimes) {
    for (int i = 0; i < iTimes; ++i)
        QMetaObject::invokeMethod(pWindow.get(), "EverySecond", Qt::DirectConnection);
}

void WindowRig::ChooseFile(const QString& sPath) {
    AnswerFileDialog(sPath);
    Click("selectFileButton");
}

bool WindowRig::Until(const std::function<bool()>& bDone, int iMs, bool bTicking) {
    QElapsedTimer waited;
    waited.start();
    QTimer wake;
    wake.start(kWakeMs);
    for (qint64 iNextTickMs = kTickMs; !bDone();) {
        if (waited.elapsed() > iMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (bTicking && !bOwnTimer && pWindow && waited.elapsed() >= iNextTickMs) {
            Tick();
            iNextTickMs += kTickMs;
        }
    }
    return true;
}

QList<QByteArray> WindowRig::ReadSoFar() {
    const int iMarkers = sim.RequestCount(kMarkerBody);
    const int iFd = open(sim.DevicePath().toLocal8Bit().constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
    const bool bWritten = iFd >= 0 && write(iFd, kMarker, sizeof(kMarker) - 1) == sizeof(kMarker) - 1;
    if (iFd >= 0)
        close(iFd);
    if (!bWritten || !Until([&] { return sim.RequestCount(kMarkerBody) > iMarkers; }, kWaitMs, false))
        return {"<the line was not read>"};
    QList<QByteArray> aRead = sim.ReceivedSentences();
    aRead.removeAll(kMarkerBody);
    return aRead;
}

int WindowRig::Count(const QString& sStart) const {
    return static_cast<int>(std::count_if(asDebug.begin(), asDebug.end(),
                                          [&](const QString& s) { return s.startsWith(sStart); }));
}

QString WindowRig::Shown(bool bSecond) const {
    QStringList asValues;
    for (const QWidget* pWidget : SettingsWidgets(pWindow.get(), bSecond))
        asValues << pWidget->property(ValueProperty(pWidget)).toString();
    return asValues.join(QLatin1Char(','));
}

QString WindowRig::Stored() const {
    const SimSettings& s = sim.Settings();
    return QString::asprintf("%d,%g,%d,%d,%u,%d", s.iTELevel, s.iVarioFilterTenths / 10.0, s.iServoTrigger,
                             s.iServoChannel, s.uiPairKey, s.iTelemetry);
}

void WindowRig::Type(const QString& sValues, bool bSecond) {
    const QStringList asValues = sValues.split(QLatin1Char(','), Qt::SkipEmptyParts);
    const QList<QWidget*> apWidgets = SettingsWidgets(pWindow.get(), bSecond);
    for (int i = 0; i < asValues.size(); ++i)
        apWidgets[i]->setProperty(ValueProperty(apWidgets[i]), asValues[i]);
}

// Only the window's thread writes debug lines; the rest go where they went before.
void WindowRig::CollectDebug(QtMsgType eType, const QMessageLogContext& context, const QString& sText) {
    if (eType == QtDebugMsg && pCurrent != nullptr && QThread::currentThread() == qApp->thread()) {
        pCurrent->asDebug << sText;
        pCurrent->aiDebugNs << pCurrent->clock.nsecsElapsed();
    } else if (eType != QtDebugMsg && pCurrent != nullptr && pCurrent->previousHandler != nullptr) {
        pCurrent->previousHandler(eType, context, sText);
    }
}

} // namespace testsupport
