#include "app/MainWindow.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMetaMethod>
#include <QPushButton>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

// Compact picture of a layout: "H(...)" or "V(...)" around its items, a widget by its object name.
QString Render(const QLayout* pLayout) {
    const QBoxLayout* pBox = qobject_cast<const QBoxLayout*>(pLayout);
    const bool bHorizontal = pBox && (pBox->direction() == QBoxLayout::LeftToRight);
    QStringList items;
    for (int i = 0; i < pLayout->count(); i++) {
        QLayoutItem* pItem = pLayout->itemAt(i);
        if (pItem->widget())
            items << pItem->widget()->objectName();
        else if (pItem->layout())
            items << Render(pItem->layout());
        else
            items << QStringLiteral("~");
    }
    return QString(bHorizontal ? QLatin1Char('H') : QLatin1Char('V')) + QLatin1Char('(') +
           items.join(QLatin1Char(' ')) + QLatin1Char(')');
}

QStringList g_dumpLines;

void CollectDump(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtDebugMsg)
        g_dumpLines << text.split(QLatin1Char('\n'));
}

// QObject::dumpObjectInfo is the one public view of an object's connections; it goes to the debug log.
QStringList DumpConnections(QObject* pObject) {
    g_dumpLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(CollectDump);
    pObject->dumpObjectInfo();
    qInstallMessageHandler(previous);
    QStringList lines;
    for (const QString& line : std::as_const(g_dumpLines))
        lines << line.trimmed();
    return lines;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<MainWindow> pWindow;

    template <class T = QWidget> T* Find(const QString& name) const { return pWindow->findChild<T*>(name); }

private slots:
    void init() {
        // A signature string that names no signal or slot only warns at run time.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("^QObject::connect")));
        pWindow = std::make_unique<MainWindow>();
    }
    void cleanup() { pWindow.reset(); }

    void portEnumeration() {
        const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
        const auto expectLog = [&ports](bool bWithStart) {
            if (bWithStart)
                QTest::ignoreMessage(QtDebugMsg, "Start of the app");
            QTest::ignoreMessage(QtDebugMsg, "Available serial ports:");
            for (const QSerialPortInfo& port : ports)
                QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Name : ") + port.portName()));
        };
        expectLog(true);
        pWindow = std::make_unique<MainWindow>();

        QComboBox* pCombo = Find<QComboBox>(QStringLiteral("portCombo"));
        QVERIFY(pCombo);
        // Refresh must replace the list, not append to it.
        for (int iPass = 0; iPass < 2; iPass++) {
            QCOMPARE(pCombo->count(), ports.size());
            for (int i = 0; i < ports.size(); i++) {
                QCOMPARE(pCombo->itemText(i), ports[i].portName());
                QCOMPARE(pCombo->itemData(i), QVariant(i));
            }
            expectLog(false);
            Find<QPushButton>(QStringLiteral("refreshButton"))->click();
        }
    }

    void widgetClasses_data() {
        QTest::addColumn<QString>("className");
        const char* apszRows[][2] = {
            {"portCombo", "QComboBox"},
            {"refreshButton", "QPushButton"},
            {"connectButton", "QPushButton"},
            {"deviceInfoLabel", "QLabel"},
            {"settingsGroup", "QGroupBox"},
            {"teLevelSpin", "QSpinBox"},
            {"varioFilterSpin", "QDoubleSpinBox"},
            {"pairKeySpin", "QSpinBox"},
            {"servoChannelSpin", "QSpinBox"},
            {"servoTriggerSpin", "QSpinBox"},
            {"telemetryCombo", "QComboBox"},
            {"saveButton", "QPushButton"},
            {"settings2Group", "QGroupBox"},
            {"pairKey2Spin", "QSpinBox"},
            {"telemetry2Combo", "QComboBox"},
            {"save2Button", "QPushButton"},
            {"logbookGroup", "QGroupBox"},
            {"flightCombo", "QComboBox"},
            {"downloadButton", "QPushButton"},
            {"emptyButton", "QPushButton"},
            {"downloadProgress", "QProgressBar"},
            {"updateGroup", "QGroupBox"},
            {"updateFileEdit", "QLineEdit"},
            {"selectFileButton", "QPushButton"},
            {"updateButton", "QPushButton"},
            {"updateProgress", "QProgressBar"},
            {"enableOutputCheck", "QCheckBox"},
            {"clearButton", "QPushButton"},
            {"sentText", "QTextEdit"},
            {"receivedText", "QTextEdit"},
        };
        for (const auto& row : apszRows)
            QTest::newRow(row[0]) << QString::fromLatin1(row[1]);
    }
    void widgetClasses() {
        QFETCH(QString, className);
        QWidget* pWidget = Find(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(pWidget);
        QCOMPARE(QString::fromLatin1(pWidget->metaObject()->className()), className);
    }

    // Texts, ranges, formats and initial states, read back through Qt's properties.
    void initialProperties_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("expected");
        const auto row = [](const char* pszName, const char* pszProperty, const QVariant& expected) {
            QTest::addRow("%s.%s", pszName, pszProperty)
                << QString::fromLatin1(pszName) << QByteArray(pszProperty) << expected;
        };
        const QVariant noMenu = QVariant::fromValue(Qt::NoContextMenu);
        row("comGroup", "title", "COM settings");
        row("comGroup", "minimumHeight", 55);
        row("comGroup", "maximumHeight", 55);
        row("portLabel", "text", "COM port:");
        row("refreshButton", "text", "Refresh");
        row("connectButton", "text", "Connect");
        row("deviceInfoGroup", "title", "Device info");
        row("deviceInfoGroup", "minimumHeight", 55);
        row("deviceInfoGroup", "maximumHeight", 55);
        row("deviceInfoGroup", "minimumWidth", 450);
        row("deviceInfoLabel", "text", "");
        row("settingsGroup", "title", "Settings");
        row("teLevelLabel", "text", "TE Level:");
        row("teLevelSpin", "minimum", -10);
        row("teLevelSpin", "maximum", 120);
        row("teLevelSpin", "value", 0);
        row("teLevelSpin", "suffix", "%");
        row("varioFilterLabel", "text", "Vario filter:");
        row("varioFilterSpin", "minimum", 0.5);
        row("varioFilterSpin", "maximum", 10.0);
        row("varioFilterSpin", "value", 1.5);
        row("varioFilterSpin", "suffix", "s");
        row("varioFilterSpin", "decimals", 1);
        row("varioFilterSpin", "singleStep", 0.1);
        row("pairKeyLabel", "text", "Telemetry pair key:");
        row("pairKeySpin", "minimum", 0);
        row("pairKeySpin", "maximum", 999999);
        row("pairKeySpin", "value", 0);
        row("pairKeySpin", "suffix", "");
        row("servoChannelLabel", "text", "Servo channel:");
        row("servoChannelSpin", "minimum", -1);
        row("servoChannelSpin", "maximum", 24);
        row("servoChannelSpin", "value", -1);
        row("servoChannelSpin", "suffix", "");
        row("servoTriggerLabel", "text", "Servo trigger:");
        row("servoTriggerSpin", "minimum", 0);
        row("servoTriggerSpin", "maximum", 100);
        row("servoTriggerSpin", "value", 0);
        row("servoTriggerSpin", "suffix", "%");
        row("telemetryLabel", "text", "Telemetry:");
        row("saveButton", "text", "Save");
        row("settings2Group", "title", "Settings");
        row("pairKey2Label", "text", "PairKey:");
        row("pairKey2Spin", "minimum", 0);
        row("pairKey2Spin", "maximum", 999999);
        row("pairKey2Spin", "value", 0);
        row("pairKey2Spin", "suffix", "");
        row("telemetry2Label", "text", "Telemetry:");
        row("save2Button", "text", "Save");
        row("logbookGroup", "title", "Logbook");
        row("flightLabel", "text", "Flight:");
        row("downloadButton", "text", "Download");
        row("emptyButton", "text", "Empty");
        row("downloadProgress", "minimum", 0);
        row("downloadProgress", "maximum", 100);
        row("updateGroup", "title", "Update");
        row("updateFileEdit", "text", "");
        row("updateFileEdit", "enabled", false);
        row("selectFileButton", "text", "Select File");
        row("updateButton", "text", "Update");
        row("updateProgress", "minimum", 0);
        row("updateProgress", "maximum", 100);
        row("enableOutputCheck", "text", "Enable Output");
        row("enableOutputCheck", "checked", true);
        row("clearButton", "text", "Clear");
        for (const char* pszPane : {"sentText", "receivedText"}) {
            row(pszPane, "contextMenuPolicy", noMenu);
            row(pszPane, "minimumWidth", 350);
            row(pszPane, "readOnly", false);
        }
    }
    void initialProperties() {
        QFETCH(QString, name);
        QFETCH(QByteArray, property);
        QFETCH(QVariant, expected);
        QWidget* pWidget = Find(name);
        QVERIFY(pWidget);
        QVariant actual = pWidget->property(property.constData());
        QVERIFY2(actual.isValid(), property.constData());
        // Texts are compared as text, whatever literal type the table row used.
        if (actual.typeId() == QMetaType::QString)
            expected = expected.toString();
        QCOMPARE(actual, expected);
    }

    void comboItems_data() {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<int>("currentIndex");
        QTest::newRow("telemetryCombo")
            << QStringList{"None=0", "JetiEx=1", "PowerBox System=2", "JetiEX compress=3", "Graupner HoTT=4"}
            << 0;
        QTest::newRow("telemetry2Combo")
            << QStringList{"None=0", "JetiEx=1", "PowerBox System=2", "Graupner HoTT=3"} << 0;
        QTest::newRow("flightCombo") << QStringList{} << -1;
    }
    void comboItems() {
        QFETCH(QStringList, items);
        QFETCH(int, currentIndex);
        QComboBox* pCombo = Find<QComboBox>(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(pCombo);
        QStringList actual;
        for (int i = 0; i < pCombo->count(); i++)
            actual << pCombo->itemText(i) + QLatin1Char('=') + pCombo->itemData(i).toString();
        QCOMPARE(actual, items);
        QCOMPARE(pCombo->currentIndex(), currentIndex);
    }

    void windowTitle() { QCOMPARE(pWindow->windowTitle(), QStringLiteral("Vornik device tool v1.2")); }

    void buttonsDefaultAndEnabled() {
        const QList<QPushButton*> buttons = pWindow->findChildren<QPushButton*>();
        QCOMPARE(buttons.size(), 9);
        for (const QPushButton* pButton : buttons) {
            QVERIFY2(pButton->isDefault(), qPrintable(pButton->objectName()));
            QVERIFY2(pButton->isEnabled(), qPrintable(pButton->objectName()));
        }
    }

    void shownAtStart_data() {
        QTest::addColumn<bool>("visible");
        QTest::newRow("comGroup") << true;
        QTest::newRow("deviceInfoGroup") << true;
        QTest::newRow("settingsGroup") << false;
        QTest::newRow("settings2Group") << false;
        QTest::newRow("logbookGroup") << true;
        QTest::newRow("updateGroup") << true;
        QTest::newRow("enableOutputCheck") << true;
        QTest::newRow("clearButton") << true;
        QTest::newRow("sentText") << true;
        QTest::newRow("receivedText") << true;
    }
    void shownAtStart() {
        QFETCH(bool, visible);
        pWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(pWindow.get()));
        QWidget* pWidget = Find(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(pWidget);
        QCOMPARE(pWidget->isVisible(), visible);
    }

    void layoutTree_data() {
        QTest::addColumn<QString>("tree");
        QTest::newRow("centralWidget")
            << "H(V(comGroup deviceInfoGroup settingsGroup settings2Group logbookGroup "
               "updateGroup) V(H(enableOutputCheck clearButton) sentText receivedText))";
        QTest::newRow("comGroup") << "V(H(portLabel portCombo refreshButton connectButton))";
        QTest::newRow("deviceInfoGroup") << "V(deviceInfoLabel)";
        QTest::newRow("settingsGroup")
            << "V(H(V(H(teLevelLabel teLevelSpin) H(varioFilterLabel varioFilterSpin) H(pairKeyLabel "
               "pairKeySpin)) "
               "V(H(servoChannelLabel servoChannelSpin) H(servoTriggerLabel servoTriggerSpin) "
               "H(telemetryLabel telemetryCombo))) saveButton)";
        QTest::newRow("settings2Group")
            << "V(H(V(H(pairKey2Label pairKey2Spin)) V(H(telemetry2Label telemetry2Combo))) save2Button)";
        QTest::newRow("logbookGroup")
            << "V(H(flightLabel flightCombo downloadButton emptyButton) downloadProgress)";
        QTest::newRow("updateGroup") << "V(H(updateFileEdit selectFileButton updateButton) updateProgress)";
    }
    void layoutTree() {
        QFETCH(QString, tree);
        QWidget* pContainer = Find(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(pContainer);
        QVERIFY(pContainer->layout());
        QCOMPARE(Render(pContainer->layout()), tree);
    }

    void mainColumnAlignedTop() {
        QCOMPARE(pWindow->centralWidget(), Find(QStringLiteral("centralWidget")));
        QLayout* pMainColumn = pWindow->centralWidget()->layout()->itemAt(0)->layout();
        QVERIFY(pMainColumn);
        QCOMPARE(pMainColumn->alignment(), Qt::AlignTop);
    }

    void slotTable_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<QByteArray>("returnType");
        QTest::addColumn<QList<QByteArray>>("parameterNames");
        QTest::addColumn<QList<int>>("parameterTypes");
        QTest::addColumn<bool>("isConst");
        int iIndex = 0;
        for (const char* pszSlot :
             {"EverySecond()", "ReadCOMData()", "WriteSettings()", "Connect()", "OpenUpdateFile()",
              "StartUpdate()", "EmptyLogbook()", "DownloadFlight()", "RefreshCOMList()", "ClearDebug()"})
            QTest::newRow(pszSlot) << iIndex++ << QByteArray(pszSlot) << QByteArray("void")
                                   << QList<QByteArray>{} << QList<int>{} << false;
        QTest::newRow("GetIGCSerial")
            << iIndex++ << QByteArray("GetIGCSerial(uint32_t)") << QByteArray("const char*")
            << QList<QByteArray>{"uiSerial"} << QList<int>{QMetaType::UInt} << true;
        QTest::newRow("GetIGCFileName")
            << iIndex++ << QByteArray("GetIGCFileName(uint32_t,uint8_t,uint32_t)")
            << QByteArray("const char*") << QList<QByteArray>{"uiDt", "byDailyNr", "uiSerial"}
            << QList<int>{QMetaType::UInt, QMetaType::UChar, QMetaType::UInt} << true;
        QTest::newRow("ReadNewUpdateChunk")
            << iIndex++ << QByteArray("ReadNewUpdateChunk(uint32_t,uint16_t)") << QByteArray("bool")
            << QList<QByteArray>{"uiFileOffset", "uiReadLen"}
            << QList<int>{QMetaType::UInt, QMetaType::UShort} << false;
    }
    void slotTable() {
        QFETCH(int, index);
        QFETCH(QByteArray, signature);
        QFETCH(QByteArray, returnType);
        QFETCH(QList<QByteArray>, parameterNames);
        QFETCH(QList<int>, parameterTypes);
        QFETCH(bool, isConst);
        const QMetaObject& meta = MainWindow::staticMetaObject;
        // The window adds exactly these methods, right after those of QMainWindow.
        QCOMPARE(meta.methodOffset(), QMainWindow::staticMetaObject.methodCount());
        QCOMPARE(meta.methodCount() - meta.methodOffset(), 13);

        const QMetaMethod slot = meta.method(meta.methodOffset() + index);
        QCOMPARE(slot.methodSignature(), signature);
        QCOMPARE(slot.methodType(), QMetaMethod::Slot);
        QCOMPARE(slot.access(), QMetaMethod::Private);
        QCOMPARE(QByteArray(slot.typeName()), returnType);
        QCOMPARE(slot.parameterNames(), parameterNames);
        QCOMPARE(slot.parameterCount(), parameterTypes.size());
        for (int i = 0; i < parameterTypes.size(); i++)
            QCOMPARE(slot.parameterMetaType(i).id(), parameterTypes[i]);
        QCOMPARE(slot.isConst(), isConst);
    }

    void pollTimer() {
        const QList<QTimer*> timers = pWindow->findChildren<QTimer*>(Qt::FindDirectChildrenOnly);
        QCOMPARE(timers.size(), 1);
        QCOMPARE(timers[0]->interval(), 1000);
        QVERIFY(timers[0]->isActive());
        QVERIFY(!timers[0]->isSingleShot());
    }

    // Senders and slots in the order of connection; the dump lists the most recent first.
    void connectionOrder() {
        QStringList incoming;
        for (const QString& line : DumpConnections(pWindow.get()))
            if (line.startsWith(QLatin1String("<-- ")))
                incoming.prepend(line.mid(4));
        const QStringList expected{
            "QSerialPort::serialPort ReadCOMData()",
            "QPushButton::connectButton Connect()",
            "QPushButton::refreshButton RefreshCOMList()",
            "QPushButton::saveButton WriteSettings()",
            "QPushButton::save2Button WriteSettings()",
            "QPushButton::selectFileButton OpenUpdateFile()",
            "QPushButton::updateButton StartUpdate()",
            "QPushButton::emptyButton EmptyLogbook()",
            "QPushButton::downloadButton DownloadFlight()",
            "QPushButton::clearButton ClearDebug()",
            "QTimer::pollTimer EverySecond()",
        };
        QCOMPARE(incoming, expected);
    }

    // The signal behind each connection, as its sender reports it.
    void connectionSignals_data() {
        QTest::addColumn<QString>("link");
        const char* apszRows[][2] = {
            {"connectButton", "clicked(bool) Connect()"},
            {"refreshButton", "clicked(bool) RefreshCOMList()"},
            {"saveButton", "clicked(bool) WriteSettings()"},
            {"save2Button", "clicked(bool) WriteSettings()"},
            {"selectFileButton", "clicked(bool) OpenUpdateFile()"},
            {"updateButton", "clicked(bool) StartUpdate()"},
            {"emptyButton", "clicked(bool) EmptyLogbook()"},
            {"downloadButton", "clicked(bool) DownloadFlight()"},
            {"clearButton", "clicked(bool) ClearDebug()"},
            {"pollTimer", "timeout() EverySecond()"},
        };
        for (const auto& row : apszRows)
            QTest::newRow(row[0]) << QString::fromLatin1(row[1]);
    }
    void connectionSignals() {
        QFETCH(QString, link);
        QObject* pSender = pWindow->findChild<QObject*>(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(pSender);
        // Pairs "signal: <signal>" with each following "--> MainWindow::<name> <slot>".
        static const QRegularExpression receiver(QStringLiteral("^--> MainWindow::\\S+ "));
        QStringList links;
        QString signal;
        for (const QString& line : DumpConnections(pSender)) {
            if (line.startsWith(QLatin1String("signal: ")))
                signal = line.mid(8);
            else if (receiver.match(line).hasMatch())
                links << signal + QLatin1Char(' ') + QString(line).remove(receiver);
        }
        QVERIFY2(links.contains(link), qPrintable(links.join(QLatin1String(", "))));
    }

    void ClearDebugEmptiesBothPanes_data() {
        QTest::addColumn<bool>("enableOutput");
        QTest::newRow("output enabled") << true;
        QTest::newRow("output disabled") << false;
    }
    void ClearDebugEmptiesBothPanes() {
        QFETCH(bool, enableOutput);
        QCheckBox* pCheck = Find<QCheckBox>(QStringLiteral("enableOutputCheck"));
        QTextEdit* pSent = Find<QTextEdit>(QStringLiteral("sentText"));
        QTextEdit* pReceived = Find<QTextEdit>(QStringLiteral("receivedText"));
        QLabel* pInfo = Find<QLabel>(QStringLiteral("deviceInfoLabel"));
        QVERIFY(pCheck && pSent && pReceived && pInfo);
        pCheck->setChecked(enableOutput);
        pSent->setPlainText(QStringLiteral("$VNREQ,0*7A\r\n"));
        pReceived->setPlainText(QStringLiteral("$VNINFO2,Tovak_2,512*00\r\n"));
        pInfo->setText(QStringLiteral("Device: Tovak_2 (512)"));

        Find<QPushButton>(QStringLiteral("clearButton"))->click();

        QVERIFY(pSent->toPlainText().isEmpty());
        QVERIFY(pReceived->toPlainText().isEmpty());
        QCOMPARE(pCheck->isChecked(), enableOutput);
        QCOMPARE(pInfo->text(), QStringLiteral("Device: Tovak_2 (512)"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
