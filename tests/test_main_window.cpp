// The window as constructed: its slot table, widgets, wiring and timer, read back through Qt's
// meta-object system and properties. What the slots do is driven end to end in test_device_link.
#include "app/MainWindow.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMetaMethod>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

// A layout as "H(...)" or "V(...)" around its items, a widget by its object name.
QString Render(const QLayout* pLayout) {
    const QBoxLayout* pBox = qobject_cast<const QBoxLayout*>(pLayout);
    QStringList items;
    for (int i = 0; i < pLayout->count(); i++) {
        QLayoutItem* pItem = pLayout->itemAt(i);
        items << (pItem->widget()   ? pItem->widget()->objectName()
                  : pItem->layout() ? Render(pItem->layout())
                                    : QStringLiteral("~"));
    }
    const bool bHorizontal = pBox && pBox->direction() == QBoxLayout::LeftToRight;
    return QLatin1String(bHorizontal ? "H(" : "V(") + items.join(QLatin1Char(' ')) + QLatin1Char(')');
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<MainWindow> pWindow;

    template <class T = QWidget> T* Find(const char* pszName) const {
        return pWindow->findChild<T*>(QLatin1String(pszName));
    }

    QString Value(const QWidget* pWidget, const QString& key) const {
        const QComboBox* pCombo = qobject_cast<const QComboBox*>(pWidget);
        if (pCombo && key == QLatin1String("items")) {
            QStringList items;
            for (int i = 0; i < pCombo->count(); i++)
                items << pCombo->itemText(i) + QLatin1Char(' ') + pCombo->itemData(i).toString();
            return items.join(QLatin1Char(','));
        }
        if (key == QLatin1String("shown"))
            return QVariant(pWidget->isVisibleTo(pWindow.get())).toString();
        return pWidget->property(qPrintable(key)).toString();
    }

private slots:
    void init() { pWindow = std::make_unique<MainWindow>(); }
    void cleanup() { pWindow.reset(); }

    // Connections and callers find the slots by index and signature; the parameter names are part of
    // the meta-object data.
    void slotTable() {
        static const char* const apszAccess[] = {"private", "protected", "public"};
        static const char* const apszKind[] = {"method", "signal", "slot", "constructor"};
        const QMetaObject& meta = MainWindow::staticMetaObject;
        QStringList actual;
        for (int i = meta.methodOffset(); i < meta.methodCount(); i++) {
            const QMetaMethod method = meta.method(i);
            QStringList params;
            for (int j = 0; j < method.parameterCount(); j++)
                params << method.parameterTypes()[j] + ' ' + method.parameterNames()[j];
            actual << QStringLiteral("%1 %2 %3 %4(%5)%6")
                          .arg(apszAccess[method.access()], apszKind[method.methodType()], method.typeName(),
                               method.name(), params.join(QLatin1String(", ")),
                               method.isConst() ? QLatin1String(" const") : QLatin1String(""));
        }
        QStringList expected;
        for (const char* pszSlot :
             {"EverySecond", "ReadCOMData", "WriteSettings", "Connect", "OpenUpdateFile", "StartUpdate",
              "EmptyLogbook", "DownloadFlight", "RefreshCOMList", "ClearDebug"})
            expected << QStringLiteral("private slot void %1()").arg(QLatin1String(pszSlot));
        expected << "private slot const char* GetIGCSerial(uint32_t uiSerial) const"
                 << "private slot const char* GetIGCFileName(uint32_t uiDt, uint8_t byDailyNr, uint32_t "
                    "uiSerial) const"
                 << "private slot bool ReadNewUpdateChunk(uint32_t uiFileOffset, uint16_t uiReadLen)";
        QCOMPARE(actual, expected);
    }

    // One row per widget: its class and "property=value|...". Besides Qt's properties, "items" lists a
    // combo box's items with their data, the number exchanged with the instrument, and "shown" tells
    // whether the widget shows with the window.
    void widgets_data() {
        QTest::addColumn<QByteArray>("className");
        QTest::addColumn<QString>("expected");
        const char* const apszRows[][3] = {
            {"comGroup", "QGroupBox", "title=COM settings|minimumHeight=55|maximumHeight=55|shown=true"},
            {"portLabel", "QLabel", "text=COM port:"},
            {"refreshButton", "QPushButton", "text=Refresh"},
            {"connectButton", "QPushButton", "text=Connect"},
            {"deviceInfoGroup", "QGroupBox",
             "title=Device info|minimumHeight=55|maximumHeight=55|minimumWidth=450|shown=true"},
            {"deviceInfoLabel", "QLabel", "text="},
            {"settingsGroup", "QGroupBox", "title=Settings|shown=false"},
            {"teLevelLabel", "QLabel", "text=TE Level:"},
            {"teLevelSpin", "QSpinBox", "minimum=-10|maximum=120|value=0|suffix=%"},
            {"varioFilterLabel", "QLabel", "text=Vario filter:"},
            {"varioFilterSpin", "QDoubleSpinBox",
             "minimum=0.5|maximum=10|value=1.5|suffix=s|decimals=1|singleStep=0.1"},
            {"pairKeyLabel", "QLabel", "text=Telemetry pair key:"},
            {"pairKeySpin", "QSpinBox", "minimum=0|maximum=999999|value=0|suffix="},
            {"servoChannelLabel", "QLabel", "text=Servo channel:"},
            {"servoChannelSpin", "QSpinBox", "minimum=-1|maximum=24|value=-1|suffix="},
            {"servoTriggerLabel", "QLabel", "text=Servo trigger:"},
            {"servoTriggerSpin", "QSpinBox", "minimum=0|maximum=100|value=0|suffix=%"},
            {"telemetryLabel", "QLabel", "text=Telemetry:"},
            {"telemetryCombo", "QComboBox",
             "items=None 0,JetiEx 1,PowerBox System 2,JetiEX compress 3,Graupner HoTT 4|currentIndex=0"},
            {"saveButton", "QPushButton", "text=Save"},
            {"settings2Group", "QGroupBox", "title=Settings|shown=false"},
            {"pairKey2Label", "QLabel", "text=PairKey:"},
            {"pairKey2Spin", "QSpinBox", "minimum=0|maximum=999999|value=0|suffix="},
            {"telemetry2Label", "QLabel", "text=Telemetry:"},
            {"telemetry2Combo", "QComboBox",
             "items=None 0,JetiEx 1,PowerBox System 2,Graupner HoTT 3|currentIndex=0"},
            {"save2Button", "QPushButton", "text=Save"},
            {"logbookGroup", "QGroupBox", "title=Logbook|shown=true"},
            {"flightLabel", "QLabel", "text=Flight:"},
            {"flightCombo", "QComboBox", "items=|currentIndex=-1"},
            {"downloadButton", "QPushButton", "text=Download"},
            {"emptyButton", "QPushButton", "text=Empty"},
            {"downloadProgress", "QProgressBar", "minimum=0|maximum=100"},
            {"updateGroup", "QGroupBox", "title=Update|shown=true"},
            {"updateFileEdit", "QLineEdit", "text=|enabled=false"},
            {"selectFileButton", "QPushButton", "text=Select File"},
            {"updateButton", "QPushButton", "text=Update"},
            {"updateProgress", "QProgressBar", "minimum=0|maximum=100"},
            {"enableOutputCheck", "QCheckBox", "text=Enable Output|checked=true|shown=true"},
            {"clearButton", "QPushButton", "text=Clear|shown=true"},
            {"sentText", "QTextEdit",
             "contextMenuPolicy=NoContextMenu|minimumWidth=350|readOnly=false|shown=true"},
            {"receivedText", "QTextEdit",
             "contextMenuPolicy=NoContextMenu|minimumWidth=350|readOnly=false|shown=true"},
        };
        for (const auto& row : apszRows)
            QTest::newRow(row[0]) << QByteArray(row[1]) << QString::fromLatin1(row[2]);
    }
    void widgets() {
        QFETCH(QByteArray, className);
        QFETCH(QString, expected);
        const QWidget* pWidget = Find(QTest::currentDataTag());
        QVERIFY(pWidget);
        QCOMPARE(QByteArray(pWidget->metaObject()->className()), className);
        QStringList actual;
        for (const QString& item : expected.split(QLatin1Char('|'))) {
            const QString key = item.section(QLatin1Char('='), 0, 0);
            actual << key + QLatin1Char('=') + Value(pWidget, key);
        }
        QCOMPARE(actual.join(QLatin1Char('|')), expected);
        // Every push button is a default button, enabled from the start.
        if (const QPushButton* pButton = qobject_cast<const QPushButton*>(pWidget))
            QVERIFY(pButton->isDefault() && pButton->isEnabled());
    }

    void windowAndLayout() {
        QCOMPARE(pWindow->windowTitle(), QStringLiteral("Vornik device tool v1.2"));
        // The debug column stands beside the main column, whose groups stack from the top.
        const QLayout* pTopRow = pWindow->centralWidget()->layout();
        QCOMPARE(Render(pTopRow),
                 QStringLiteral("H(V(comGroup deviceInfoGroup settingsGroup settings2Group "
                                "logbookGroup updateGroup) V(H(enableOutputCheck clearButton) "
                                "sentText receivedText))"));
        QCOMPARE(pTopRow->itemAt(0)->layout()->alignment(), Qt::AlignTop);
    }

    // Disconnecting succeeds only for a connection that was made. The port's readyRead is proved by
    // every sentence that the end-to-end tests receive.
    void connections() {
        const char* const apszLinks[][3] = {
            {"connectButton", SIGNAL(clicked()), SLOT(Connect())},
            {"refreshButton", SIGNAL(clicked()), SLOT(RefreshCOMList())},
            {"saveButton", SIGNAL(clicked()), SLOT(WriteSettings())},
            {"save2Button", SIGNAL(clicked()), SLOT(WriteSettings())},
            {"selectFileButton", SIGNAL(clicked()), SLOT(OpenUpdateFile())},
            {"updateButton", SIGNAL(clicked()), SLOT(StartUpdate())},
            {"emptyButton", SIGNAL(clicked()), SLOT(EmptyLogbook())},
            {"downloadButton", SIGNAL(clicked()), SLOT(DownloadFlight())},
            {"clearButton", SIGNAL(clicked()), SLOT(ClearDebug())},
            {"pollTimer", SIGNAL(timeout()), SLOT(EverySecond())},
        };
        for (const auto& link : apszLinks) {
            const QObject* pSender = pWindow->findChild<QObject*>(QLatin1String(link[0]));
            QVERIFY2(pSender && QObject::disconnect(pSender, link[1], pWindow.get(), link[2]), link[0]);
        }
    }

    void pollTimer() {
        const QList<QTimer*> timers = pWindow->findChildren<QTimer*>(Qt::FindDirectChildrenOnly);
        QCOMPARE(timers.size(), 1);
        QCOMPARE(timers[0]->interval(), 1000);
        QVERIFY(timers[0]->isActive() && !timers[0]->isSingleShot());
    }

    // Clear empties both panes whatever "Enable Output" says, and touches nothing else.
    void clearEmptiesBothPanes() {
        QCheckBox* pCheck = Find<QCheckBox>("enableOutputCheck");
        QLabel* pInfo = Find<QLabel>("deviceInfoLabel");
        QTextEdit* apPanes[] = {Find<QTextEdit>("sentText"), Find<QTextEdit>("receivedText")};
        QVERIFY(pCheck && pInfo && apPanes[0] && apPanes[1]);
        const QString sInfo = QStringLiteral("Device: Tovak_2 (512)");
        pInfo->setText(sInfo);
        for (const bool bOutput : {true, false}) {
            pCheck->setChecked(bOutput);
            for (QTextEdit* pPane : apPanes)
                pPane->setPlainText(QStringLiteral("$VNREQ,0*7A"));
            Find<QPushButton>("clearButton")->click();
            QCOMPARE(apPanes[0]->toPlainText() + apPanes[1]->toPlainText(), QString());
            QCOMPARE(pCheck->isChecked(), bOutput);
            QCOMPARE(pInfo->text(), sInfo);
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
