// The window against the simulated instrument over a real pseudo-terminal and a real QSerialPort,
// driven through its widgets. Ticks are invoked directly so that a test needs no second per tick;
// one test lets the window's own timer run.
#include "app/MainWindow.h"
#include "sim/SimInstrument.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(SimSettings)

namespace {

// A command framed with "$", checksum and CR LF, as the sent pane shows it: the pane turns CR LF into
// one line break. The checksum is computed here independently.
QString PaneLine(const QByteArray& baBody) {
    uint8_t bySum = 0;
    for (const char c : baBody)
        bySum ^= static_cast<uint8_t>(c);
    const QString sSum = QString::number(bySum, 16).rightJustified(2, QLatin1Char('0')).toUpper();
    return QStringLiteral("$%1*%2\n").arg(QString::fromLatin1(baBody), sSum);
}

const char kTovakLine[] = "Device: Tovak_2 (512), Produced: A7, FW: 1.4.B7, HW: 2.0";

} // namespace

class TestDeviceLink : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> pDir;
    std::unique_ptr<SimInstrument> pSim;
    std::unique_ptr<MainWindow> pWindow;
    QString sLink;

    template <class T = QWidget> T* Find(const char* pszName) const {
        T* pWidget = pWindow->findChild<T*>(QLatin1String(pszName));
        if (!pWidget)
            qFatal("no widget %s", pszName);
        return pWidget;
    }
    QString Label() const { return Find<QLabel>("deviceInfoLabel")->text(); }
    QString Button() const { return Find<QPushButton>("connectButton")->text(); }
    QList<QByteArray> Sent() const { return pSim->ReceivedSentences(); }

    void NewWindow() {
        pWindow = std::make_unique<MainWindow>();
        pWindow->findChild<QTimer*>(QStringLiteral("pollTimer"))->stop();
    }
    void Tick() { QMetaObject::invokeMethod(pWindow.get(), "EverySecond"); }
    void SelectPort(const QString& sPort) {
        QComboBox* pCombo = Find<QComboBox>("portCombo");
        pCombo->setCurrentIndex(pCombo->findText(sPort));
    }
    void Press(const char* pszButton) { Find<QPushButton>(pszButton)->click(); }
    // Connect pressed and the opening tick run: the next tick polls.
    void Open() {
        SelectPort(sLink);
        Press("connectButton");
        Tick();
    }

    // Settings as the first group shows them and as the instrument stores them, in the form of
    // VNSET2's fields (the telemetry as the combo box's index).
    QString Shown() const {
        return QStringLiteral("%1,%2,%3,%4,%5,%6")
            .arg(Find<QSpinBox>("teLevelSpin")->value())
            .arg(Find<QDoubleSpinBox>("varioFilterSpin")->value(), 0, 'f', 1)
            .arg(Find<QSpinBox>("servoTriggerSpin")->value())
            .arg(Find<QSpinBox>("servoChannelSpin")->value())
            .arg(Find<QSpinBox>("pairKeySpin")->value())
            .arg(Find<QComboBox>("telemetryCombo")->currentIndex());
    }
    QString Stored() const {
        const SimSettings& s = pSim->Settings();
        return QStringLiteral("%1,%2.%3,%4,%5,%6,%7")
            .arg(s.iTELevel)
            .arg(s.iVarioFilterTenths / 10)
            .arg(s.iVarioFilterTenths % 10)
            .arg(s.iServoTrigger)
            .arg(s.iServoChannel)
            .arg(s.uiPairKey)
            .arg(s.iTelemetry);
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

    // Identity, then settings, each asked for by one tick and answered before the next.
    void Learn(const QString& sLine) {
        Open();
        Tick();
        QTRY_COMPARE(Label(), sLine);
        Tick();
        QTRY_COMPARE(Shown(), Stored());
    }

    void SetModel(const char* pszModel) {
        SimIdentity identity;
        identity.baModel = pszModel;
        pSim->SetIdentity(identity);
    }

private slots:
    void init() {
        pDir = std::make_unique<QTemporaryDir>();
        pSim = std::make_unique<SimInstrument>();
        // A stable name that follows the instrument across an unplug.
        sLink = pDir->filePath(QStringLiteral("vornik0"));
        pSim->SetLinkPath(sLink);
        QVERIFY(pSim->Open());
        qputenv("VORNIK_EXTRA_PORTS", sLink.toLocal8Bit());
        NewWindow();
    }
    void cleanup() {
        pWindow.reset();
        pSim.reset();
        pDir.reset();
    }

    void extraPortsFollowSystemPorts() {
        const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
        const QString sMissing = pDir->filePath(QStringLiteral("missing"));
        qputenv("VORNIK_EXTRA_PORTS",
                (QStringLiteral(":") + sMissing + QStringLiteral("::") + sLink).toLocal8Bit());
        NewWindow();
        Press("refreshButton");
        QComboBox* pCombo = Find<QComboBox>("portCombo");
        QCOMPARE(pCombo->count(), ports.size() + 2);
        for (int i = 0; i < pCombo->count(); i++) {
            QCOMPARE(pCombo->itemData(i), QVariant(i));
            QCOMPARE(pCombo->itemText(i), i < ports.size()    ? ports[i].portName()
                                          : i == ports.size() ? sMissing
                                                              : sLink);
        }
        // Each extra port is opened by its own path: the missing one fails, the instrument answers.
        SelectPort(sMissing);
        Press("connectButton");
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Com open failed: .+")));
        Tick();
        QCOMPARE(Button(), QStringLiteral("Disconnect"));
        Press("connectButton");
        Learn(QString::fromLatin1(kTovakLine));

        qunsetenv("VORNIK_EXTRA_PORTS");
        NewWindow();
        QCOMPARE(Find<QComboBox>("portCombo")->count(), ports.size());
    }

    void connectWithoutPortDoesNothing() {
        Find<QComboBox>("portCombo")->clear();
        QTest::ignoreMessage(QtDebugMsg, "No COM port to connect!");
        Press("connectButton");
        QCOMPARE(Button(), QStringLiteral("Connect"));
        QVERIFY(Find<QPushButton>("refreshButton")->isEnabled());
    }

    // Nothing goes out at the press nor at the opening tick; the identity request follows one tick later.
    void firstRequestOneTickAfterOpening() {
        QTextEdit* pSentPane = Find<QTextEdit>("sentText");
        SelectPort(sLink);
        Press("connectButton");
        QCOMPARE(Button(), QStringLiteral("Disconnect"));
        QVERIFY(!Find<QPushButton>("refreshButton")->isEnabled());
        Tick();
        QCOMPARE(pSentPane->toPlainText(), QString());
        Tick();
        QCOMPARE(pSentPane->toPlainText(), PaneLine("VNREQ,0"));
        QTRY_COMPARE(Sent(), QList<QByteArray>{"VNREQ,0"});
    }

    // A body fills the 1024-byte buffer with "$", checksum and line end at 1017 characters; a longer
    // one is refused whole. The instrument drops such a sentence as too long but counts it.
    void commandLengthLimit_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("sent");
        QTest::newRow("1017") << 1017 << true;
        QTest::newRow("1018") << 1018 << false;
        QTest::newRow("5000") << 5000 << false;
    }
    void commandLengthLimit() {
        QFETCH(int, length);
        QFETCH(bool, sent);
        Open();
        const QByteArray baBody = "VNX," + QByteArray(length - 4, 'A');
        QCOMPARE(pWindow->SendCommand(baBody.constData()), sent);
        QCOMPARE(Find<QTextEdit>("sentText")->toPlainText(), sent ? PaneLine(baBody) : QString());
        pWindow->SendCommand("VNREQ,0");
        QTRY_COMPARE(Sent(), QList<QByteArray>{"VNREQ,0"});
        QCOMPARE(pSim->BadSentenceCount(), sent ? 1 : 0);
    }

    void silentInstrumentAskedEveryTick() {
        pSim->SetSilent(true);
        Open();
        for (int i = 1; i <= 4; i++) {
            Tick();
            QTRY_COMPARE(Sent(), QList<QByteArray>(i, "VNREQ,0"));
        }
        QCOMPARE(Label(), QString());
    }

    // A press of Disconnect before the opening tick cancels the opening.
    void disconnectBeforeOpeningCancelsIt() {
        SelectPort(sLink);
        Press("connectButton");
        Press("connectButton");
        Tick();
        Tick();
        Tick();
        Open();
        Tick();
        // Anything sent while idle would stand before this request on the line.
        QTRY_COMPARE(Sent(), QList<QByteArray>{"VNREQ,0"});
    }

    void identityLine_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<QByteArray>("produced");
        QTest::addColumn<uint>("serial");
        QTest::addColumn<QByteArray>("hardware");
        QTest::addColumn<QString>("line");
        QTest::newRow("Tovak_2") << QByteArray("Tovak_2") << QByteArray("A7") << 512u << QByteArray("2.0")
                                 << QString::fromLatin1(kTovakLine);
        QTest::newRow("largest serial")
            << QByteArray("Ulmar") << QByteArray("P17") << 4294967295u << QByteArray("3")
            << "Device: Ulmar (4294967295), Produced: P17, FW: 1.4.B7, HW: 3.0";
        QTest::newRow("markup shown as sent")
            << QByteArray("<b>Pelko_2</b>") << QByteArray("<i>x</i>") << 7u << QByteArray("1.5")
            << "Device: <b>Pelko_2</b> (7), Produced: <i>x</i>, FW: 1.4.B7, HW: 1.5";
        QTest::newRow("UTF-8 name") << QByteArray("T\xc3\xb6vak") << QByteArray("") << 0u << QByteArray("")
                                    << QString::fromUtf8(
                                           "Device: T\xc3\xb6vak (0), Produced: , FW: 1.4.B7, HW: 0.0");
        QTest::newRow("name cut to 15")
            << QByteArray("Ulmar_Competition") << QByteArray("A7") << 1u << QByteArray("2.0")
            << "Device: Ulmar_Competiti (1), Produced: A7, FW: 1.4.B7, HW: 2.0";
    }
    void identityLine() {
        QFETCH(QByteArray, model);
        QFETCH(QByteArray, produced);
        QFETCH(uint, serial);
        QFETCH(QByteArray, hardware);
        QFETCH(QString, line);
        SimIdentity identity;
        identity.baModel = model;
        identity.baProduced = produced;
        identity.uiSerial = serial;
        identity.baHwVersion = hardware;
        pSim->SetIdentity(identity);
        Open();
        Tick();
        QTRY_COMPARE(Label(), line);
        QCOMPARE(Find<QLabel>("deviceInfoLabel")->textFormat(), Qt::PlainText);
    }

    // Per model: the group shown, whether the logbook is asked for, and what Save sends. The second
    // group is set to 654321 and "Graupner HoTT" (3) before every Save.
    void modelSession_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<QString>("group");
        QTest::addColumn<bool>("logbook");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("settingsSent");
        QTest::newRow("Tovak_2") << QByteArray("Tovak_2") << "settingsGroup" << true
                                 << "80,10.0,50,-1,123456,4"
                                 << QByteArray("VNSET2,80,10.0,50,4294967295,123456,4");
        QTest::newRow("Ulmar") << QByteArray("Ulmar") << "settingsGroup" << true << "-10,0.5,0,24,999999,3"
                               << QByteArray("VNSET2,-10,0.5,0,24,999999,3");
        QTest::newRow("Ulmar variant") << QByteArray("Ulmar_XL") << "settingsGroup" << true
                                       << "120,2.5,100,0,0,0" << QByteArray("VNSET2,120,2.5,100,0,0,0");
        QTest::newRow("Pelko_2") << QByteArray("Pelko_2") << "settings2Group" << false << "7,3.0,7,7,7,2"
                                 << QByteArray("VNSET2,654321,3");
        QTest::newRow("unknown model")
            << QByteArray("Zeta_9") << QString() << false << "7,3.0,7,7,7,2" << QByteArray();
    }
    void modelSession() {
        QFETCH(QByteArray, model);
        QFETCH(QString, group);
        QFETCH(bool, logbook);
        QFETCH(QString, typed);
        QFETCH(QByteArray, settingsSent);
        SetModel(model.constData());
        Open();
        Tick();
        QTRY_VERIFY(Label().startsWith(QStringLiteral("Device: ") + QString::fromLatin1(model)));
        Tick();
        QTRY_COMPARE(Shown(), Stored());
        for (const char* pszGroup : {"settingsGroup", "settings2Group"})
            QCOMPARE(Find<QGroupBox>(pszGroup)->isHidden(), group != QLatin1String(pszGroup));
        Tick();
        Tick();

        Type(typed);
        Find<QSpinBox>("pairKey2Spin")->setValue(654321);
        Find<QComboBox>("telemetry2Combo")->setCurrentIndex(3);
        Press(group == QLatin1String("settings2Group") ? "save2Button" : "saveButton");
        // Save stands right behind the poll's requests: nothing else went out in between.
        QList<QByteArray> expected{"VNREQ,0", "VNREQ,1"};
        if (logbook)
            expected << "VNREQ,40,0";
        if (!settingsSent.isEmpty())
            expected << settingsSent;
        expected << "VNREQ,1";
        QTRY_COMPARE(Sent(), expected);
        // What the instrument reports, not what was typed: those sent no settings get theirs back.
        QTRY_COMPARE(Shown(), Stored());
    }

    // Values beyond a widget's range show as its nearest bound; Save then sends what is shown, except
    // a protocol the list lacks, which goes back as the instrument reported it.
    void settingsBeyondWidgets_data() {
        QTest::addColumn<SimSettings>("stored");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("above") << SimSettings{127, 100, 100, 24, 3000000000u, 4} << "120,10.0,100,24,999999,4"
                               << QByteArray("VNSET2,120,10.0,100,24,999999,4");
        QTest::newRow("below") << SimSettings{-128, 2, 0, -1, 0, 0} << "-10,0.5,0,-1,0,0"
                               << QByteArray("VNSET2,-10,0.5,0,4294967295,0,0");
        QTest::newRow("unknown protocol") << SimSettings{80, 15, 50, 3, 17, 7} << "80,1.5,50,3,17,-1"
                                          << QByteArray("VNSET2,80,1.5,50,3,17,7");
    }
    void settingsBeyondWidgets() {
        QFETCH(SimSettings, stored);
        QFETCH(QString, shown);
        QFETCH(QByteArray, saved);
        pSim->SetSettings(stored);
        Open();
        Tick();
        QTRY_COMPARE(Label(), QString::fromLatin1(kTovakLine));
        Tick();
        QTRY_COMPARE(Shown(), shown);
        Press("saveButton");
        QTRY_COMPARE(pSim->RequestCount("VNREQ,1"), 2);
        QCOMPARE(Sent().mid(1, 2), (QList<QByteArray>{"VNREQ,1", saved}));
    }

    // Noise and garbled copies with wrong checksums around every reply, replies in pieces.
    void lineConditions_data() {
        QTest::addColumn<int>("pieces");
        QTest::addColumn<bool>("noise");
        QTest::addColumn<bool>("badChecksums");
        QTest::newRow("clean") << 1 << false << false;
        QTest::newRow("split over reads") << 7 << false << false;
        QTest::newRow("noise") << 3 << true << false;
        QTest::newRow("bad checksums") << 1 << false << true;
        QTest::newRow("noise and bad checksums") << 1 << true << true;
    }
    void lineConditions() {
        QFETCH(int, pieces);
        QFETCH(bool, noise);
        QFETCH(bool, badChecksums);
        pSim->SetSplitWrites(pieces, 5);
        pSim->SetNoise(noise);
        pSim->SetBadChecksums(badChecksums);
        Learn(QString::fromLatin1(kTovakLine));
        // A garbled copy travels in the same write as its sentence, so it has been read by now.
        QCOMPARE(Label(), QString::fromLatin1(kTovakLine));
        QCOMPARE(Shown(), Stored());
        QCOMPARE(Sent(), (QList<QByteArray>{"VNREQ,0", "VNREQ,1"}));
    }

    // Both requests reach the instrument before it reads, so both answers come back in one read; the
    // settings group shows only if the identity in front of them was taken first.
    void severalSentencesInOneRead() {
        Open();
        Tick();
        Press("saveButton");
        QTRY_VERIFY(!Find<QGroupBox>("settingsGroup")->isHidden());
        QCOMPARE(Label(), QString::fromLatin1(kTovakLine));
        QCOMPARE(Shown(), Stored());
    }

    void enableOutput_data() {
        QTest::addColumn<bool>("enabled");
        QTest::newRow("checked") << true;
        QTest::newRow("unchecked") << false;
    }
    void enableOutput() {
        QFETCH(bool, enabled);
        Find<QCheckBox>("enableOutputCheck")->setChecked(enabled);
        Learn(QString::fromLatin1(kTovakLine));
        Tick();
        QTRY_COMPARE(Sent(), (QList<QByteArray>{"VNREQ,0", "VNREQ,1", "VNREQ,40,0"}));
        QCOMPARE(Find<QTextEdit>("sentText")->toPlainText(),
                 enabled ? PaneLine("VNREQ,0") + PaneLine("VNREQ,1") + PaneLine("VNREQ,40,0") : QString());
        const QString sReceived = Find<QTextEdit>("receivedText")->toPlainText();
        QCOMPARE(sReceived.startsWith(PaneLine("VNINFO2,Tovak_2,A7,512,1,4,7,2.0")), enabled);
        QCOMPARE(sReceived.isEmpty(), !enabled);
    }

    void disconnectResetsEverything_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::newRow("Tovak_2") << QByteArray("Tovak_2");
        QTest::newRow("Pelko_2") << QByteArray("Pelko_2");
    }
    void disconnectResetsEverything() {
        QFETCH(QByteArray, model);
        SetModel(model.constData());
        Learn(QStringLiteral("Device: %1 (512), Produced: A7, FW: 1.4.B7, HW: 2.0")
                  .arg(QString::fromLatin1(model)));
        Find<QComboBox>("flightCombo")->addItem(QStringLiteral("flight"));
        QTest::ignoreMessage(QtDebugMsg, "Com connected!");
        Press("connectButton");
        QCOMPARE(Button(), QStringLiteral("Connect"));
        QVERIFY(Find<QPushButton>("refreshButton")->isEnabled());
        QCOMPARE(Label(), QString());
        QVERIFY(Find<QGroupBox>("settingsGroup")->isHidden());
        QVERIFY(Find<QGroupBox>("settings2Group")->isHidden());
        QCOMPARE(Find<QComboBox>("flightCombo")->count(), 0);

        pSim->ClearLog();
        Tick();
        Tick();
        Open();
        Tick();
        QTRY_COMPARE(Sent(), QList<QByteArray>{"VNREQ,0"});
    }

    void unplugReturnsToIdleAndReconnects() {
        Learn(QString::fromLatin1(kTovakLine));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Com port lost: ")));
        pSim->Unplug();
        QTRY_COMPARE(Button(), QStringLiteral("Connect"));
        QCOMPARE(Label(), QString());
        QVERIFY(Find<QGroupBox>("settingsGroup")->isHidden());
        QVERIFY(Find<QPushButton>("refreshButton")->isEnabled());

        QVERIFY(pSim->Replug());
        pSim->ClearLog();
        Tick();
        Tick();
        Learn(QString::fromLatin1(kTovakLine));
        QTRY_COMPARE(Sent(), (QList<QByteArray>{"VNREQ,0", "VNREQ,1"}));
    }

    // Connect pressed before the instrument is plugged in: the opening is tried again every other tick
    // until the port opens, and Disconnect ends the attempts.
    void openingRetriedUntilPlugged() {
        const QRegularExpression failed(QStringLiteral("^Com open failed: "));
        pSim->Unplug();
        SelectPort(sLink);
        Press("connectButton");
        QTest::ignoreMessage(QtDebugMsg, failed);
        Tick();
        Tick();
        QTest::ignoreMessage(QtDebugMsg, failed);
        Tick();
        QCOMPARE(Button(), QStringLiteral("Disconnect"));
        QVERIFY(pSim->Replug());
        Tick();
        Tick();
        Tick();
        QTRY_COMPARE(Sent(), QList<QByteArray>{"VNREQ,0"});
        QTRY_COMPARE(Label(), QString::fromLatin1(kTovakLine));

        Press("connectButton");
        pSim->Unplug();
        Press("connectButton");
        QTest::ignoreMessage(QtDebugMsg, failed);
        Tick();
        Press("connectButton");
        QVERIFY(pSim->Replug());
        pSim->ClearLog();
        for (int i = 0; i < 4; i++)
            Tick();
        QTest::qWait(100);
        QCOMPARE(Sent(), QList<QByteArray>());
        QCOMPARE(Button(), QStringLiteral("Connect"));
    }

    void realTimerDrivesThePoll() {
        pWindow->findChild<QTimer*>(QStringLiteral("pollTimer"))->start();
        SelectPort(sLink);
        Press("connectButton");
        QTRY_COMPARE_WITH_TIMEOUT(Label(), QString::fromLatin1(kTovakLine), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(Shown(), Stored(), 3000);
    }
};

QTEST_MAIN(TestDeviceLink)
#include "test_device_link.moc"
